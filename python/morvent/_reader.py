"""The Reader: one open link to a reader and the commands it sends."""

from __future__ import annotations

import ctypes
import os
import time
from typing import Iterator, List, Optional, Tuple, Union

from . import _core
from ._records import _Addressed, _epc_words, _password, _Selection, split_records
from ._status import (COMM_ERROR, DEVICE_DENIED, DEVICE_MISSING, DEVICE_PRESENT, INVALID_PORT, INVENTORY_DONE,
                      INVENTORY_FULL, NO_DATA, NO_TAG, OK, PARAM_RANGE, PORT_OPEN, TAG_ERROR, MorventError)
from ._values import (Bank, BufferRecord, LockArea, LockMode, Mask, Password, ReaderInfo, SystemParameters, Tag,
                      Tag6B, TagRef)

_BAUD_CODES = {9600: 0, 19200: 1, 38400: 2, 57600: 5, 115200: 6}


def _resolve(host: str) -> str:
    """The dotted IPv4 address of ``host`` for OpenNetPort; MorventError naming the host when it has none."""
    ip = ctypes.create_string_buffer(16)
    status = _core.lib().MorventResolveHost(host.encode(), ip)
    if status == OK:
        return ip.value.decode()
    if status == COMM_ERROR:
        raise MorventError(status, "MorventResolveHost",
                           reason=f"cannot look up host '{host}': the name service did not answer")
    raise MorventError(status, "MorventResolveHost", reason=f"unknown host '{host}' (no IPv4 address)")


def _serial_failure(status: int, operation: str, com: int) -> MorventError:
    """The error for a failed opening of COM``com``: the core's status says "not openable" for a
    missing device and a silent reader alike, so the device is looked at to name the cause."""
    port = f"COM{com}"
    device = ctypes.create_string_buffer(512)
    found = INVALID_PORT if status == PORT_OPEN else _core.lib().MorventSerialDevice(com, device, len(device))
    name = os.fsdecode(device.value)
    if found == DEVICE_MISSING:
        return MorventError(status, operation, detail=port, reason=f"no such device {name}")
    if found == DEVICE_DENIED:
        return MorventError(status, operation, detail=port, reason=f"no permission to read and write {name}")
    return MorventError(status, operation, detail=f"{port} at {name}" if found == DEVICE_PRESENT else port)


class Reader:
    """One open link to a reader; closed by ``close()``, at the end of a
    ``with`` block, or when the object is collected."""

    def __init__(self) -> None:
        raise TypeError("open a reader with Reader.tcp(), Reader.serial() or Reader.auto_serial()")

    @classmethod
    def _new(cls, kind: str, number: int, host: str = "", baud: int = 57600, address: int = 0xFF) -> "Reader":
        reader = cls.__new__(cls)
        reader._kind, reader._number, reader._host, reader._baud = kind, number, host, baud
        reader._address, reader._port, reader.answered_address = address, -1, 0xFF
        return reader

    @classmethod
    def tcp(cls, host: str, port: int, address: int = 0xFF) -> "Reader":
        """Opens a network reader at ``host``, a host name or dotted IPv4 address, looked up
        again at every opening; ``address`` is what commands carry (0xFF: whichever reader answers)."""
        reader = cls._new("tcp", port, host=host, address=address)
        reader.reopen()
        return reader

    @classmethod
    def serial(cls, com: int, baud: int = 57600, address: int = 0xFF) -> "Reader":
        """Opens serial port COM``com`` at ``baud`` bit/s; a device that is missing, or not this
        process's to use, is named in the error's ``reason``. An ``address`` other than 0xFF is also
        the one the opening asks (on a bus every reader answers 0xFF at once)."""
        reader = cls._new("serial", com, baud=baud, address=address)
        reader.reopen()
        return reader

    @classmethod
    def auto_serial(cls, baud: int = 57600, address: int = 0xFF) -> "Reader":
        """Opens the first of COM1..COM12 where a reader answers."""
        reader = cls._new("serial", 0, baud=baud, address=address)
        answered, com, port = ctypes.c_ubyte(0xFF), ctypes.c_int(-1), ctypes.c_int(-1)
        status = _core.lib().AutoOpenComPort(ctypes.byref(com), ctypes.byref(answered), _baud_code(baud),
                                             ctypes.byref(port))
        if status != OK:
            raise MorventError(status, "AutoOpenComPort", detail="COM1 to COM12")
        reader._number, reader._port, reader.answered_address = com.value, port.value, answered.value
        return reader

    # ---- the link ----

    def reopen(self) -> None:
        """Opens the same link again (after ``close()``, or to recover a broken link)."""
        self.close()
        answered, port = ctypes.c_ubyte(0xFF), ctypes.c_int(-1)
        if self._kind == "tcp":
            ip = _resolve(self._host)
            status = _core.lib().OpenNetPort(self._number, ip.encode(), ctypes.byref(answered), ctypes.byref(port))
            if status != OK:
                where = f"{self._host}:{self._number}"
                raise MorventError(status, "OpenNetPort", detail=where if ip == self._host else f"{where} at {ip}")
        else:
            # On a bus every reader answers 0xFF at once: a given address is asked alone.
            opening = "OpenComPort" if self._address == 0xFF else "OpenComPortAt"
            answered.value = self._address
            status = getattr(_core.lib(), opening)(self._number, ctypes.byref(answered), _baud_code(self._baud),
                                                   ctypes.byref(port))
            if status != OK:
                raise _serial_failure(status, opening, self._number)
        self._port, self.answered_address = port.value, answered.value

    def close(self) -> None:
        """Closes the link; closing twice does nothing."""
        port, self._port = getattr(self, "_port", -1), -1
        if port >= 1024:
            _core.lib().CloseNetPort(port)
        elif port > 0:
            _core.lib().CloseSpecComPort(port)

    @property
    def is_open(self) -> bool:
        return self._port >= 0

    @property
    def port(self) -> int:
        """The port index for the C functions (COM number or TCP port); -1 when closed."""
        return self._port

    @property
    def address(self) -> int:
        """The reader address the commands carry."""
        return self._address

    def __enter__(self) -> "Reader":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # the interpreter may be shutting down
            pass

    def _open_port(self) -> int:
        if self._port < 0:
            raise MorventError(INVALID_PORT, "Reader", detail="the reader is closed")
        return self._port

    def _addr(self) -> "ctypes.c_ubyte":
        return ctypes.c_ubyte(self._address)

    def _call(self, name: str, *args: object) -> None:
        status = getattr(_core.lib(), name)(ctypes.byref(self._addr()), *args, self._open_port())
        if status != OK:
            raise MorventError(status, name)

    def _tag_call(self, name: str, *args: object) -> None:
        error = ctypes.c_int(-1)
        status = getattr(_core.lib(), name)(ctypes.byref(self._addr()), *args, ctypes.byref(error),
                                            self._open_port())
        if status != OK:
            raise MorventError(status, name, error.value if status == TAG_ERROR else None)

    # ---- reader information and inventory ----

    def info(self) -> ReaderInfo:
        """Reads the reader information."""
        address = self._addr()
        raw = (ctypes.c_ubyte * 11)()
        base = ctypes.addressof(raw)
        cells = [ctypes.cast(base + i, _core.pu8) for i in (0,) + tuple(range(2, 11))]
        status = _core.lib().GetReaderInformation(ctypes.byref(address), *cells, self._open_port())
        if status != OK:
            raise MorventError(status, "GetReaderInformation")
        return ReaderInfo(address.value, bytes(raw))

    def inventory(self, mask: Union[Mask, bytes, None] = None,
                  tid: Union[Tuple[int, int], int, None] = None) -> List[Tag]:
        """Every tag that answers, counted from the records of every frame.

        ``mask``: a Mask, or bytes the EPC begins with. ``tid``: the TID
        words to read with each tag, as (word address, word count) or a
        count from word 0; they land in ``tag.tid``."""
        if isinstance(mask, (bytes, bytearray)):
            mask = Mask(bytes(mask))
        selection = _Selection(mask, "Inventory_G2")
        tid_address, tid_words = (0, tid) if isinstance(tid, int) else (tid or (0, 0))
        records = (ctypes.c_ubyte * 5000)()
        frame_info, length, count = ctypes.c_ubyte(0), ctypes.c_int(0), ctypes.c_int(0)
        status = _core.lib().Inventory_G2(
            ctypes.byref(self._addr()), selection.bank, selection.address, selection.length, selection.bits,
            1 if mask is not None else 0, tid_address, tid_words, 1 if tid is not None else 0, records,
            ctypes.byref(frame_info), ctypes.byref(length), ctypes.byref(count), self._open_port())
        if not (INVENTORY_DONE <= status <= INVENTORY_FULL or status == NO_TAG):
            raise MorventError(status, "Inventory_G2")
        return split_records(bytes(records[:max(0, min(length.value, 5000))]), tid is not None)

    def watch(self, interval: float = 0.0, rounds: Optional[int] = None,
              mask: Union[Mask, bytes, None] = None,
              tid: Union[Tuple[int, int], int, None] = None) -> Iterator[List[Tag]]:
        """Inventory rounds, one list of tags per round, ``interval`` seconds
        apart, until ``rounds`` have run, the loop breaks, or the reader is
        closed (from any thread). A failed round raises MorventError."""
        done = 0
        while rounds is None or done < rounds:
            if not self.is_open:
                return
            try:
                tags = self.inventory(mask=mask, tid=tid)
            except MorventError:
                if not self.is_open:  # closed while the round ran
                    return
                raise
            done += 1
            yield tags
            if interval > 0 and (rounds is None or done < rounds):
                time.sleep(interval)

    # ---- Gen2 memory and protection ----

    def read(self, tag: TagRef, bank: int, word_pointer: int, word_count: int, password: Password = bytes(4)) -> bytes:
        """Reads ``word_count`` words of a bank from ``word_pointer`` on."""
        t = _Addressed(tag, "ReadData_G2")
        data = (ctypes.c_ubyte * max(1, 2 * word_count))()
        self._tag_call("ReadData_G2", t.epc, t.words, int(bank), word_pointer, word_count, _password(password),
                       *t.args(), data)
        return bytes(data[:2 * word_count])

    def write(self, tag: TagRef, bank: int, word_pointer: int, data: bytes, password: Password = bytes(4),
              block: bool = False) -> None:
        """Writes whole words (an even number of bytes) from ``word_pointer`` on."""
        name = "BlockWrite_G2" if block else "WriteData_G2"
        if not data or len(data) % 2 or len(data) > 510:
            raise MorventError(PARAM_RANGE, name, detail="write 1 to 255 whole words (an even number of bytes)")
        t = _Addressed(tag, name)
        self._tag_call(name, t.epc, len(data) // 2, t.words, int(bank), word_pointer, _core.buffer(bytes(data)),
                       _password(password), *t.args())

    def erase(self, tag: TagRef, bank: int, word_pointer: int, word_count: int, password: Password = bytes(4)) -> None:
        """Erases ``word_count`` words of a bank."""
        t = _Addressed(tag, "BlockErase_G2")
        self._tag_call("BlockErase_G2", t.epc, t.words, int(bank), word_pointer, word_count, _password(password),
                       *t.args())

    def write_epc(self, epc: bytes, password: Password = bytes(4)) -> None:
        """Gives the tag in the field a new EPC (whole words, at most 15)."""
        words = _epc_words(bytes(epc), "WriteEPC_G2")
        self._tag_call("WriteEPC_G2", _password(password), _core.buffer(bytes(epc)), words)

    def lock(self, tag: TagRef, area: LockArea, mode: LockMode, password: Password) -> None:
        """Locks or unlocks an area of a tag."""
        t = _Addressed(tag, "Lock_G2")
        self._tag_call("Lock_G2", t.epc, t.words, int(area), int(mode), _password(password), *t.args())

    def kill(self, tag: TagRef, kill_password: Password) -> None:
        """Kills a tag with its kill password."""
        t = _Addressed(tag, "KillTag_G2")
        self._tag_call("KillTag_G2", t.epc, t.words, _password(kill_password), *t.args())

    # ---- ISO 18000-6B ----

    def inventory_6b(self) -> List[Tag6B]:
        """The ISO 18000-6B tags in the field."""
        records = (ctypes.c_ubyte * (255 * 9))()
        count = ctypes.c_int(0)
        status = _core.lib().InventoryMultiple_6B(ctypes.byref(self._addr()), 0, 0, 0, _core.buffer(bytes(8)), records,
                                                  ctypes.byref(count), self._open_port())
        if status == NO_TAG:
            return []
        if status != OK:
            raise MorventError(status, "InventoryMultiple_6B")
        return [Tag6B(records[9 * i], bytes(records[9 * i + 1:9 * i + 9])) for i in range(min(count.value, 255))]

    def read_6b(self, uid: bytes, start: int, count: int) -> bytes:
        """Reads ``count`` bytes of a 6B tag from ``start`` on."""
        data = (ctypes.c_ubyte * max(1, count))()
        self._tag_call("ReadData_6B", _core.buffer(bytes(uid), 8), start, count, data)
        return bytes(data[:count])

    def write_6b(self, uid: bytes, start: int, data: bytes) -> None:
        """Writes at most 242 bytes to a 6B tag from ``start`` on."""
        if len(data) > 242:
            raise MorventError(PARAM_RANGE, "WriteData_6B", detail="at most 242 bytes at once")
        written = ctypes.c_ubyte(0)
        self._tag_call("WriteData_6B", _core.buffer(bytes(uid), 8), start, _core.buffer(bytes(data)), len(data),
                       ctypes.byref(written))

    # ---- settings ----

    def set_power(self, power: int) -> None:
        self._call("SetRfPower", power)

    def set_scan_time(self, hundreds_of_ms: int) -> None:
        self._call("SetInventoryScanTime", hundreds_of_ms)

    def set_region(self, region1: int, region2: int) -> None:
        self._call("SetRegion", region1, region2)

    def set_address(self, new_address: int) -> None:
        """Gives the reader a new address; a Reader that addressed the old one follows it."""
        self._call("SetAddress", new_address)
        if self._address != 0xFF:
            self._address = new_address

    def set_baud_rate(self, bits_per_second: int) -> None:
        """Changes the reader's line speed; a serial Reader follows it."""
        self._call("SetBaudRate", _baud_code(bits_per_second))
        if self._kind == "serial":
            self._baud = bits_per_second

    def set_work_mode(self, mode: int) -> None:
        self._call("SetWorkMode", int(mode))

    def set_mask(self, mask: Union[Mask, bytes]) -> None:
        """The selection mask of the active mode."""
        if isinstance(mask, (bytes, bytearray)):
            mask = Mask(bytes(mask))
        s = _Selection(mask, "SetMask")
        self._call("SetMask", s.bank, s.address, s.length, s.bits)

    def set_inventory_interval(self, hundreds_of_ms: int) -> None:
        self._call("SetInventoryInterval", hundreds_of_ms)

    def set_tid_parameters(self, word_address: int, word_count: int) -> None:
        """The TID words active-mode records carry (count 0: none)."""
        self._call("SetTIDParameter", word_address, word_count)

    def system_parameters(self) -> SystemParameters:
        cells = [ctypes.c_ubyte(0) for _ in range(9)]
        mask_address, mask = (ctypes.c_ubyte * 2)(), (ctypes.c_ubyte * 32)()
        ext = [ctypes.c_ubyte(0) for _ in range(3)]
        refs = [ctypes.byref(c) for c in cells]
        status = _core.lib().GetSystemParameter(
            ctypes.byref(self._addr()), *refs[:6], refs[6], mask_address, refs[7], mask,
            *[ctypes.byref(c) for c in ext], self._open_port())
        if status != OK:
            raise MorventError(status, "GetSystemParameter")
        v = [c.value for c in cells]
        length = v[7]
        stored = Mask(bytes(mask[:(length + 7) // 8]), Bank(v[6]) if v[6] <= 3 else v[6],  # type: ignore[arg-type]
                      mask_address[0] << 8 | mask_address[1], length)
        return SystemParameters(v[0], v[1], v[2], (v[3], v[4]), v[5], stored, ext[0].value, ext[1].value, ext[2].value)

    def read_active_mode_data(self) -> bytes:
        """The bytes the reader sent by itself (response frames back to back); ``b""`` when none came."""
        data, count = (ctypes.c_ubyte * 8000)(), ctypes.c_int(0)
        status = _core.lib().ReadActiveModeData(data, ctypes.byref(count), self._open_port())
        if status == NO_DATA:
            return b""
        if status != OK:
            raise MorventError(status, "ReadActiveModeData")
        return bytes(data[:max(0, min(count.value, 8000))])

    # ---- clock, tag buffer, GPIO, transparent commands ----

    def clock(self) -> Tuple[int, ...]:
        """The reader's clock: year - 2000, month, day, hour, minute, second."""
        value = (ctypes.c_ubyte * 6)()
        self._call("GetTime", value)
        return tuple(value)

    def set_clock(self, clock: Tuple[int, ...]) -> None:
        self._call("SetReal_timeClock", _core.buffer(bytes(clock), 6))

    def tag_buffer(self) -> List[BufferRecord]:
        data, size = (ctypes.c_ubyte * 5000)(), ctypes.c_int(0)
        self._call("GetTagBufferInfo", data, ctypes.byref(size))
        raw, records, at = bytes(data[:max(0, min(size.value, 5000))]), [], 0
        while at + 12 <= len(raw) and at + 12 + raw[at + 11] <= len(raw):
            length = raw[at + 11]
            records.append(BufferRecord(raw[at], raw[at + 1], raw[at + 2] << 8 | raw[at + 3],
                                        tuple(raw[at + 4:at + 10]), raw[at + 12:at + 12 + length]))
            at += 12 + length
        return records

    def clear_tag_buffer(self) -> None:
        self._call("ClearTagBuffer")

    def set_gpio(self, outputs: int) -> None:
        self._call("SetGPIO", outputs)

    def gpio(self) -> int:
        value = ctypes.c_ubyte(0)
        self._call("GetGPIOStatus", ctypes.byref(value))
        return value.value

    def set_relay(self, relay: int) -> None:
        self._call("SetRelay", relay)

    def transparent(self, parameter: int, data: bytes) -> bytes:
        """Passes ``data`` (at most 250 bytes) to the reader after ``parameter``; the answer's data."""
        if len(data) > 250:
            raise MorventError(PARAM_RANGE, "TransparentCMD", detail="at most 250 bytes")
        length, answer = ctypes.c_ubyte(0), (ctypes.c_ubyte * 250)()
        self._call("TransparentCMD", parameter, len(data), _core.buffer(bytes(data)), ctypes.byref(length), answer)
        return bytes(answer[:min(length.value, 250)])


def _baud_code(bits_per_second: int) -> int:
    if bits_per_second not in _BAUD_CODES:
        raise MorventError(PARAM_RANGE, "baud rate",
                           detail=f"{bits_per_second} bit/s; use 9600, 19200, 38400, 57600 or 115200")
    return _BAUD_CODES[bits_per_second]
