"""Loading libMorvent and declaring the C functions the package calls."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
from typing import Optional

u8 = ctypes.c_ubyte
pu8 = ctypes.POINTER(ctypes.c_ubyte)
i32 = ctypes.c_int
pi32 = ctypes.POINTER(ctypes.c_int)
text = ctypes.c_char_p

# name: (argument types); every function returns int unless listed in _TEXT.
_SIGNATURES = {
    "OpenNetPort": (i32, text, pu8, pi32),
    "OpenComPort": (i32, pu8, u8, pi32),
    "OpenComPortAt": (i32, pu8, u8, pi32),
    "AutoOpenComPort": (pi32, pu8, u8, pi32),
    "CloseNetPort": (i32,),
    "CloseSpecComPort": (i32,),
    "GetReaderInformation": (pu8,) * 11 + (i32,),
    "Inventory_G2": (pu8, u8, pu8, u8, pu8, u8, u8, u8, u8, pu8, pu8, pi32, pi32, i32),
    "SingleTagInventory_G2": (pu8, pu8, ctypes.c_void_p, pi32, i32),
    "ReadData_G2": (pu8, pu8, u8, u8, u8, u8, pu8, u8, pu8, u8, pu8, pu8, pi32, i32),
    "WriteData_G2": (pu8, pu8, u8, u8, u8, u8, pu8, pu8, u8, pu8, u8, pu8, pi32, i32),
    "BlockWrite_G2": (pu8, pu8, u8, u8, u8, u8, pu8, pu8, u8, pu8, u8, pu8, pi32, i32),
    "BlockErase_G2": (pu8, pu8, u8, u8, u8, u8, pu8, u8, pu8, u8, pu8, pi32, i32),
    "WriteEPC_G2": (pu8, pu8, pu8, u8, pi32, i32),
    "KillTag_G2": (pu8, pu8, u8, pu8, u8, pu8, u8, pu8, pi32, i32),
    "Lock_G2": (pu8, pu8, u8, u8, u8, pu8, u8, pu8, u8, pu8, pi32, i32),
    "InventoryMultiple_6B": (pu8, u8, u8, u8, pu8, pu8, pi32, i32),
    "ReadData_6B": (pu8, pu8, u8, u8, pu8, pi32, i32),
    "WriteData_6B": (pu8, pu8, u8, pu8, u8, pu8, pi32, i32),
    "SetRegion": (pu8, u8, u8, i32),
    "SetAddress": (pu8, u8, i32),
    "SetInventoryScanTime": (pu8, u8, i32),
    "SetBaudRate": (pu8, u8, i32),
    "SetRfPower": (pu8, u8, i32),
    "SetWorkMode": (pu8, u8, i32),
    "SetMask": (pu8, u8, pu8, u8, pu8, i32),
    "SetInventoryInterval": (pu8, u8, i32),
    "SetTIDParameter": (pu8, u8, u8, i32),
    "GetSystemParameter": (pu8,) * 14 + (i32,),
    "ReadActiveModeData": (pu8, pi32, i32),
    "GetTime": (pu8, pu8, i32),
    "SetReal_timeClock": (pu8, pu8, i32),
    "ClearTagBuffer": (pu8, i32),
    "GetTagBufferInfo": (pu8, pu8, pi32, i32),
    "SetGPIO": (pu8, u8, i32),
    "GetGPIOStatus": (pu8, pu8, i32),
    "SetRelay": (pu8, u8, i32),
    "TransparentCMD": (pu8, u8, u8, pu8, pu8, pu8, i32),
    "MorventStatusName": (i32,),
    "MorventStatusText": (i32,),
    "MorventTagErrorName": (i32,),
    "MorventTagErrorText": (i32,),
    "MorventVersion": (),
    "MorventEpcDecode": (pu8, i32, i32, ctypes.c_char_p, i32),
    "MorventEpcEncode": (text, i32, i32, i32, pu8, pi32, ctypes.c_char_p, i32),
    "MorventSerialDevice": (i32, text, i32),
    "MorventResolveHost": (text, text),
}
_TEXT = {"MorventStatusName", "MorventStatusText", "MorventTagErrorName", "MorventTagErrorText", "MorventVersion"}

_FILE_NAME = "Morvent.dll" if sys.platform == "win32" else "libMorvent.so"


def _candidates() -> "list[str]":
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), _FILE_NAME)
    found = []
    if os.path.exists(here):
        found.append(here)
    if os.environ.get("MORVENT_LIB"):
        found.append(os.environ["MORVENT_LIB"])
    if sys.platform != "win32":
        found.append(_FILE_NAME + ".0")  # the runtime package has only the versioned name
    found.append(_FILE_NAME)
    system = ctypes.util.find_library("Morvent")
    if system:
        found.append(system)
    return found


def _load() -> ctypes.CDLL:
    errors = []
    for candidate in _candidates():
        try:
            lib = ctypes.CDLL(candidate)
        except OSError as error:
            errors.append(f"{candidate}: {error}")
            continue
        for name, arguments in _SIGNATURES.items():
            function = getattr(lib, name)
            function.argtypes = list(arguments)
            function.restype = text if name in _TEXT else ctypes.c_int
        return lib
    raise OSError(
        "libMorvent not found; install the kit, or set MORVENT_LIB to the path of libMorvent.so. Tried: "
        + "; ".join(errors)
    )


_lib: Optional[ctypes.CDLL] = None


def lib() -> ctypes.CDLL:
    """The loaded core, loaded on first use."""
    global _lib
    if _lib is None:
        _lib = _load()
    return _lib


def buffer(data: bytes, size: Optional[int] = None) -> "ctypes.Array[ctypes.c_ubyte]":
    """A byte array holding `data`, at least one byte long (the core never reads an empty one)."""
    size = max(size if size is not None else len(data), len(data), 1)
    array = (ctypes.c_ubyte * size)()
    ctypes.memmove(array, data, len(data))
    return array
