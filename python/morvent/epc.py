"""GS1 identities of EPCs, decoded and encoded by the core.

    from morvent import epc

    identity = epc.decode(bytes.fromhex("3074257BF7194E4000001A85"))
    identity.uri             # 'urn:epc:id:sgtin:0614141.812345.6789'
    identity.element_string  # '(01)80614141123458(21)6789'
    epc.encode("urn:epc:id:sgtin:0614141.812345.6789", filter=3).hex().upper()
    # '3074257BF7194E4000001A85'

Bytes that are not a GS1 EPC raise :class:`NotGs1Error` (a ``ValueError``)
whose ``reason`` says why; ``Tag.identity`` gives ``None`` for them. An
identity that cannot be encoded raises :class:`EpcEncodingError` (a
``ValueError``) naming the rule it breaks.
"""

from __future__ import annotations

import ctypes
from dataclasses import dataclass
from typing import Optional

from . import _core

__all__ = ["Epc", "NotGs1Error", "EpcEncodingError", "decode", "encode"]

# The C API's results and rooms (morvent.h).
_OK, _NOT_GS1, _NO_PART, _REFUSED = 0, 0x100, 0x101, 0x103
_TEXT_ROOM, _MAX_BYTES = 256, 26
# The parts in the order of MORVENT_EPC_PART_*.
_PARTS = ("scheme", "filter", "uri", "tag_uri", "element_string", "digital_link", "key_name", "key",
          "company_prefix", "reference", "serial")


class NotGs1Error(ValueError):
    """The bytes are not a GS1 EPC; ``reason`` says why."""

    def __init__(self, reason: str) -> None:
        self.reason = reason
        super().__init__(f"not a GS1 EPC: {reason}")


class EpcEncodingError(ValueError):
    """The identity cannot be encoded; the message names the rule it breaks."""


@dataclass(frozen=True)
class Epc:
    """The GS1 identity of an EPC. Parts the scheme has not (a GID's element
    string, an SSCC's serial, a GID's filter) are ``None``."""
    epc: bytes
    scheme: str                       # 'sgtin-96'
    filter: Optional[int]             # 0..7
    uri: str                          # 'urn:epc:id:sgtin:0614141.812345.6789'
    tag_uri: str                      # 'urn:epc:tag:sgtin-96:3.0614141.812345.6789'
    element_string: Optional[str]     # '(01)80614141123458(21)6789'
    digital_link: Optional[str]       # 'https://id.gs1.org/01/80614141123458/21/6789'
    key_name: Optional[str]           # 'GTIN', 'SSCC', 'GLN', 'GRAI', 'GIAI', 'GDTI', 'GSRN', 'GSRNP'
    key: Optional[str]                # '80614141123458', with its check digit
    company_prefix: str               # '0614141' (a GID: its general manager number)
    reference: str                    # '812345': item reference, serial reference, ...
    serial: Optional[str]             # '6789' (an SGLN: its extension)

    def _key(self, name: str) -> Optional[str]:
        return self.key if self.key_name == name else None

    gtin = property(lambda self: self._key("GTIN"), doc="The GTIN of an SGTIN, else None.")
    sscc = property(lambda self: self._key("SSCC"), doc="The SSCC, else None.")
    gln = property(lambda self: self._key("GLN"), doc="The GLN of an SGLN, else None.")
    grai = property(lambda self: self._key("GRAI"), doc="The GRAI (without its serial), else None.")
    giai = property(lambda self: self._key("GIAI"), doc="The GIAI, else None.")
    gdti = property(lambda self: self._key("GDTI"), doc="The GDTI (without its serial), else None.")
    gsrn = property(lambda self: self._key("GSRN"), doc="The GSRN, else None.")

    def __str__(self) -> str:
        return self.uri


def decode(data: bytes) -> Epc:
    """The GS1 identity of the EPC ``data``; raises :class:`NotGs1Error`."""
    data = bytes(data)
    lib = _core.lib()
    text = ctypes.create_string_buffer(_TEXT_ROOM)
    buffer = _core.buffer(data)
    parts = {}
    for number, name in enumerate(_PARTS):
        status = lib.MorventEpcDecode(buffer, len(data), number, text, _TEXT_ROOM)
        if status == _NOT_GS1:
            raise NotGs1Error(text.value.decode("ascii", "replace"))
        if status not in (_OK, _NO_PART):
            raise RuntimeError(f"MorventEpcDecode gave 0x{status:X} for part {name}")
        parts[name] = text.value.decode("ascii") if status == _OK else None
    parts["filter"] = None if parts["filter"] is None else int(parts["filter"])
    return Epc(epc=data, **parts)


def encode(identity: str, filter: Optional[int] = None, bits: Optional[int] = None,
           company_prefix_digits: Optional[int] = None) -> bytes:
    """The EPC of a pure-identity URI, a tag URI or an element string, in
    whole words. ``filter`` 0..7 (default: the tag URI's, else 0); ``bits``
    the scheme's length (default: the tag URI's, else the shortest scheme
    that holds the identity); ``company_prefix_digits`` where an element
    string's company prefix ends. Raises :class:`EpcEncodingError`."""
    try:
        text = identity.encode("ascii")
    except UnicodeEncodeError as error:
        raise EpcEncodingError(
            f"{identity[error.start]!r} at position {error.start + 1} is not a character GS1 allows") from None
    if b"\0" in text:
        raise EpcEncodingError("the identity holds a zero byte")
    epc = (ctypes.c_ubyte * _MAX_BYTES)()
    size = ctypes.c_int(0)
    message = ctypes.create_string_buffer(_TEXT_ROOM)
    status = _core.lib().MorventEpcEncode(text, -1 if filter is None else filter, bits or 0,
                                          company_prefix_digits or 0, epc, ctypes.byref(size), message, _TEXT_ROOM)
    if status == _REFUSED:
        raise EpcEncodingError(message.value.decode("ascii", "replace"))
    if status != _OK:
        raise RuntimeError(f"MorventEpcEncode gave 0x{status:X}")
    return bytes(epc[:size.value])
