"""Tag records taken apart, and tags, passwords and masks put in the form the
C functions take them."""

from __future__ import annotations

import ctypes
from typing import List, Optional

from . import _core
from ._status import COMM_ERROR, PARAM_RANGE, MorventError
from ._values import ANY, Mask, Password, Tag, TagRef


def split_records(data: bytes, with_tid: bool) -> List[Tag]:
    """Takes inventory tag records apart: a length byte and the EPC, then
    with ``with_tid`` a length byte and the TID. Raises MorventError when a
    record runs past the end."""
    tags = []
    at = 0

    def field_at() -> bytes:
        nonlocal at
        if at >= len(data) or at + 1 + data[at] > len(data):
            raise MorventError(COMM_ERROR, "Inventory_G2", detail="a tag record runs past the end of the answer")
        value = bytes(data[at + 1:at + 1 + data[at]])
        at += 1 + data[at]
        return value

    while at < len(data):
        epc = field_at()
        tags.append(Tag(epc, field_at() if with_tid else b""))
    return tags


def _password(value: Password) -> "ctypes.Array[ctypes.c_ubyte]":
    if isinstance(value, int):
        if not 0 <= value <= 0xFFFFFFFF:
            raise MorventError(PARAM_RANGE, "password", detail="a password is 32 bits")
        value = value.to_bytes(4, "big")
    if len(value) != 4:
        raise MorventError(PARAM_RANGE, "password", detail="a password is 4 bytes")
    return _core.buffer(bytes(value))


class _Selection:
    """The four selection-mask fields as the C functions take them."""

    def __init__(self, mask: Optional[Mask], operation: str) -> None:
        self.bank, self.address, self.length, self.bits = 0, _core.buffer(b"\0\0"), 0, _core.buffer(b"")
        if mask is None:
            return
        length = mask.length
        if not 0 <= length <= 255 or len(mask.bits) < (length + 7) // 8:
            raise MorventError(PARAM_RANGE, operation, detail="a mask is at most 255 bits, and needs a byte per 8 of them")
        self.bank = int(mask.bank)
        self.address = _core.buffer(mask.bit_address.to_bytes(2, "big"))
        self.length = length
        self.bits = _core.buffer(bytes(mask.bits))


class _Addressed:
    """Tag addressing: EPC words, or 0xFF and the selection mask."""

    def __init__(self, tag: TagRef, operation: str) -> None:
        self.mask = _Selection(None, operation)
        self.words = 0
        self.epc = _core.buffer(b"")
        if isinstance(tag, Tag):
            tag = tag.epc
        if isinstance(tag, Mask):
            self.words = 0xFF
            self.mask = _Selection(tag, operation)
        elif isinstance(tag, (bytes, bytearray)):
            self.words = _epc_words(bytes(tag), operation)
            self.epc = _core.buffer(bytes(tag))
        elif tag is not ANY:
            raise TypeError("a tag is a Tag, its EPC as bytes, a Mask or morvent.ANY")

    def args(self) -> tuple:
        return (self.mask.bank, self.mask.address, self.mask.length, self.mask.bits)


def _epc_words(epc: bytes, operation: str) -> int:
    if len(epc) % 2 or len(epc) > 30:
        raise MorventError(PARAM_RANGE, operation, detail="an EPC is 0 to 15 whole words (an even number of bytes, at most 30)")
    return len(epc) // 2

