#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets from the frames the test
suites use. Run from the repository root; the output is committed."""
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def crc16(data):
    reg = 0xFFFF
    for b in data:
        reg ^= b
        for _ in range(8):
            reg = (reg >> 1) ^ 0x8408 if reg & 1 else reg >> 1
    return reg


def frame(adr, cmd, status, data=b""):
    body = bytes([len(data) + 5, adr, cmd, status]) + bytes(data)
    return body + struct.pack("<H", crc16(body))


def chunks(*parts, delay=0):
    """Each part is one chunk: size byte, delay byte (8 ms units), bytes."""
    out = b""
    for p in parts:
        out += bytes([len(p) if len(p) < 256 else 0, delay]) + p
    return out


def block(data):
    return struct.pack("<H", len(data)) + data


def write(target, name, data):
    d = os.path.join(ROOT, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


INFO = bytes([0x03, 0x01, 0x0C, 0x0A, 0x3E, 0x00, 0x1E, 0x0A, 0x00, 0x01, 0x00, 0x00])
INFO_FRAME = frame(0x00, 0x21, 0x00, INFO)
INVENTORY = [frame(0x00, 0x01, 0x03, bytes([0x01, 0x0C, 0xE2, 0x00])), frame(0x00, 0x01, 0x01, bytes([0x00]))]
STATUS_RUN = [frame(0x00, 0x43, 0x01, bytes([0x11, 0x22])), frame(0x00, 0x43, 0x00, bytes([0x33]))]

SERIAL, NET, SEAL, ROUTINE = 0, 1, 2, 4

# Receive routines: 0 single frame, 1 inventory run, 2 status-zero run, 3 AT mode.
for link, tag in ((SERIAL, "serial"), (NET, "net")):
    write("fuzz_answers", f"info-{tag}", bytes([0, ROUTINE | link]) + block(chunks(INFO_FRAME)))
    write("fuzz_answers", f"info-split-{tag}",
          bytes([0, ROUTINE | link]) + block(chunks(INFO_FRAME[:3], INFO_FRAME[3:], delay=5)))
    write("fuzz_answers", f"inventory-{tag}", bytes([1, ROUTINE | link]) + block(chunks(*INVENTORY)))
    write("fuzz_answers", f"status-run-{tag}", bytes([2, ROUTINE | link]) + block(chunks(b"".join(STATUS_RUN))))
    write("fuzz_answers", f"at-late-{tag}", bytes([3, ROUTINE | link]) + block(chunks(INFO_FRAME, delay=250)))

# Every command code: a sealed answer with status 0 and data, and one with the
# tag-error status.
CODES = [0x21, 0x0F, 0x02, 0x03, 0x10, 0x04, 0x07, 0x05, 0x06, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
         0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x22, 0x24, 0x25, 0x28, 0x2F, 0x33, 0x35, 0x36, 0x37, 0x3B,
         0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x49, 0x4A, 0x27, 0x31, 0x41, 0x42, 0x44, 0x45, 0x46, 0x47, 0x48,
         0x26, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x30, 0x32, 0x4B, 0x4C, 0x4D, 0x4E]
for code in CODES:
    data = bytes(range(1, 46))
    write("fuzz_answers", f"cmd-{code:02x}-ok", bytes([code, SEAL]) + block(chunks(frame(0x05, code, 0x00, data))))
    write("fuzz_answers", f"cmd-{code:02x}-tagerr",
          bytes([code, SEAL | NET]) + block(chunks(frame(0x05, code, 0xFC, b"\x0b"))))

# Walks: selector, mode, chunk size, delay, frame count, then (length,
# status, data) per frame.
def walk_frames(*frames):
    out = bytes([len(frames)])
    for status, data in frames:
        out += bytes([len(data), status]) + bytes(data)
    return out


RECORD = bytes(range(11)) + bytes([4]) + b"\xe2\x00\x11\x22"
for link, tag in ((SERIAL, "serial"), (NET, "net")):
    write("fuzz_walks", f"inventory-two-frames-{tag}",
          bytes([0, link, 0, 0]) + walk_frames((0x03, [0x01, 0x02] + list(range(12))), (0x01, [0x01, 0x01, 9, 9])))
    write("fuzz_walks", f"inventory-then-no-tag-{tag}",
          bytes([0, link, 7, 2]) + walk_frames((0x03, [0x01, 0x01, 5, 6]), (0xFB, []), (0x01, [0, 1, 2, 3])))
    write("fuzz_walks", f"tag-buffer-two-records-{tag}",
          bytes([1, link, 0, 0]) + walk_frames((0x01, RECORD), (0x01, RECORD[:11] + bytes([0])), (0x00, [])))
    write("fuzz_walks", f"tag-buffer-split-{tag}",
          bytes([1, link, 9, 3]) + walk_frames((0x01, RECORD), (0x00, [])))

# Arguments: selector, port choice (0 serial, 1 network, 2.. out of range),
# status, answer length, then the arguments (zeros when absent).
for code in CODES:
    for port in (0, 1, 3, 12):
        write("fuzz_arguments", f"cmd-{code:02x}-port{port}", bytes([code, port, 0x00, 12]))
EXTREMES = {
    # ReadData_G2: address, epcWords, bank, pointer, count, (epc), password, mask block
    "readdata-mask-255-bits": bytes([0x02, 0, 0, 120, 0xFF, 0xFF, 3, 0, 0x7F]) + bytes(4) + bytes([1, 0, 0, 255]) + bytes(32),
    "readdata-15-words": bytes([0x02, 1, 0, 250, 0x00, 15, 3, 0, 0x7F]) + bytes(30) + bytes(4),
    "readdata-16-words-refused": bytes([0x02, 1, 0, 0, 0x00, 16, 3, 0, 4]),
    "writedata-longest": bytes([0x03, 0, 0, 0, 0x00, 0x73, 15, 3, 0]) + bytes(30) + bytes(0xE6) + bytes(4),
    "transparent-250": bytes([0x4E, 1, 0, 250, 0x00, 7, 250]) + bytes(250),
    "transparent-251": bytes([0x4E, 1, 0, 250, 0x00, 7, 251]) + bytes(251),
    "writedata6b-242": bytes([0x53, 0, 0, 0, 0x00]) + bytes(8) + bytes([0, 242]) + bytes(242),
    "writedata6b-243": bytes([0x53, 0, 0, 0, 0x00]) + bytes(8) + bytes([0, 243]) + bytes(243),
    "readdata6b-255": bytes([0x52, 1, 0, 250, 0x00]) + bytes(8) + bytes([0, 255]),
    "setmask-255-bits": bytes([0x3B, 0, 0, 0, 0x00, 1, 0, 0, 255]) + bytes(32),
    "active-serial-flood": bytes([0xFE, 0, 0x41, 200]),
    "active-net-flood": bytes([0xFE, 1, 0x41, 200]),
    "active-port-65535": bytes([0xFE, 12, 0, 10]),
    "crc-longest": bytes([0xFF, 0, 0, 0, 255]) + bytes(range(255)),
    "crc-empty": bytes([0xFF, 0, 0, 0, 0]),
}
for name, data in EXTREMES.items():
    write("fuzz_arguments", name, data)

# Bridge: method selector, two length bytes, elements (0xF0 serial port,
# 0xF1 network port), then the reader's answer data.
def elements(*values):
    return struct.pack("<H", len(values)) + bytes(values)


SERIAL_PORT, NET_PORT = 0xF0, 0xF1
# Int methods 0..21 take address, values, port; array methods follow.
for sel in range(0, 22):
    write("fuzz_bridge", f"int-{sel:02d}", bytes([sel]) + elements(0, 1, 2, 3, NET_PORT))
for sel in range(22, 52):
    write("fuzz_bridge", f"array-{sel:02d}", bytes([sel]) + elements(0, 0, 1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, SERIAL_PORT)
          + bytes(range(12)))
# ReadData_G2 with W = 6 and a mask of 96 bits; Inventory_G2 with L = 0.
write("fuzz_bridge", "readdata-w6", bytes([31]) + elements(0, 6, *range(12), 3, 0, 2, 0, 0, 0, 0, 1, 0, 0, 96,
                                                            *range(12), NET_PORT) + bytes(range(4)))
write("fuzz_bridge", "inventory-l0", bytes([30]) + elements(0, 0, 0, 0, 0, 0, 0, 0, 0, SERIAL_PORT) + bytes(range(8)))
write("fuzz_bridge", "short-array", bytes([31]) + elements(0, 6, 1, 2))
write("fuzz_bridge", "null-array", bytes([35, 0xFF, 0xFF]))

# GS1 codec: 0x00 and EPC bytes to decode; 0x01, filter, length index,
# company prefix digits and a text to encode.
for name, epc in [("sgtin-96", "3074257BF7194E4000001A85"), ("sgtin-198", "3674257BF6B7A659B2C2BF10" + "0" * 28),
                  ("giai-202", "3874257BF59B2C2BF1" + "0" * 34), ("gid-96", "355AB1C60003039000000190"),
                  ("partition-7", "307C257BF7194E4000001A85")]:
    write("fuzz_epc", f"decode-{name}", bytes([0]) + bytes.fromhex(epc))
for name, text, digits in [("uri", "urn:epc:id:sgtin:0614141.812345.32a%2Fb", 0),
                           ("tag-uri", "urn:epc:tag:sgln-195:3.0614141.12345.32a%2Fb", 0),
                           ("element-string", "(8003)0061414112345232a/b", 7),
                           ("gid", "urn:epc:id:gid:95100000.12345.400", 0)]:
    write("fuzz_epc", f"encode-{name}", bytes([1, 0, 0, digits]) + text.encode())
