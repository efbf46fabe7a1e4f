"""The values the package hands out and takes: banks, lock areas and modes,
masks, tags and what the reader reports about itself."""

from __future__ import annotations

import enum
from dataclasses import dataclass
from typing import Optional, Tuple, Union

from . import epc


class Bank(enum.IntEnum):
    """Gen2 memory banks."""
    RESERVED = 0
    EPC = 1
    TID = 2
    USER = 3


class LockArea(enum.IntEnum):
    """What ``Reader.lock`` locks."""
    KILL_PASSWORD = 0
    ACCESS_PASSWORD = 1
    EPC = 2
    TID = 3
    USER = 4


class LockMode(enum.IntEnum):
    """How ``Reader.lock`` locks it."""
    OPEN = 0
    PERMANENTLY_OPEN = 1
    SECURED = 2
    PERMANENTLY_LOCKED = 3


class WorkMode(enum.IntEnum):
    """The reader's work mode: answering commands, or sending tags by itself."""
    ANSWER = 0
    ACTIVE = 1
    TRIGGER = 2

@dataclass(frozen=True)
class Mask:
    """A Gen2 selection mask: tags whose ``bank`` holds ``bits`` from bit
    ``bit_address`` on (the EPC starts at bit 0x20 of the EPC bank).
    ``bit_length`` None means all of ``bits``."""
    bits: bytes
    bank: Bank = Bank.EPC
    bit_address: int = 0x20
    bit_length: Optional[int] = None

    @property
    def length(self) -> int:
        return len(self.bits) * 8 if self.bit_length is None else self.bit_length


@dataclass(frozen=True)
class Tag:
    """A Gen2 tag from an inventory; ``str(tag)`` is the EPC in hex."""
    epc: bytes
    tid: bytes = b""

    def __str__(self) -> str:
        return self.epc.hex().upper()

    @property
    def identity(self) -> Optional["epc.Epc"]:
        """The GS1 identity of the EPC (:mod:`morvent.epc`), or None when it is none."""
        try:
            return epc.decode(self.epc)
        except epc.NotGs1Error:
            return None


class _Any:
    def __repr__(self) -> str:
        return "morvent.ANY"


ANY = _Any()
"""Addresses whichever tag answers first."""

TagRef = Union[Tag, bytes, Mask, _Any]
Password = Union[bytes, int]


@dataclass(frozen=True)
class Tag6B:
    """An ISO 18000-6B tag: the antenna byte and the 8-byte uid."""
    antenna: int
    uid: bytes


@dataclass(frozen=True)
class ReaderInfo:
    """What the reader reports about itself; ``raw`` holds the 11 bytes as sent."""
    address: int
    raw: bytes

    version = property(lambda self: (self.raw[0], self.raw[1]))
    reader_type = property(lambda self: self.raw[2])
    protocols = property(lambda self: self.raw[3])
    region = property(lambda self: (self.raw[4], self.raw[5]))
    power = property(lambda self: self.raw[6])
    scan_time = property(lambda self: self.raw[7])  # 100 ms units
    baud_code = property(lambda self: self.raw[8])


@dataclass(frozen=True)
class SystemParameters:
    """The work-mode parameters the reader reports."""
    work_mode: int
    eas_sensitivity: int
    trigger_time: int
    response: Tuple[int, int]
    inventory_interval: int
    mask: Mask
    tag_type: int
    antenna: int
    beep: int


@dataclass(frozen=True)
class BufferRecord:
    """One record of the reader's tag buffer."""
    tag_type: int
    antenna: int
    read_count: int
    last_seen: Tuple[int, ...]  # year - 2000, month, day, hour, minute, second
    id: bytes

