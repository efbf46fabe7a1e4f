"""Status codes, their names and meanings from the core, and the error every
failed command raises."""

from __future__ import annotations

from typing import Optional

from . import _core

# Status codes with a meaning of their own (the full list is in morvent.h).
OK = 0x00
INVENTORY_DONE, INVENTORY_TIMEOUT, INVENTORY_MORE, INVENTORY_FULL = 0x01, 0x02, 0x03, 0x04
NO_DATA = 0x0E
COMM_ERROR = 0x30
PORT_OPEN = 0x35
INVALID_PORT = 0x37
NO_TAG = 0xFB
TAG_ERROR = 0xFC
PARAM_RANGE = 0xFF

# What MorventSerialDevice finds at a serial port's device.
DEVICE_PRESENT, DEVICE_MISSING, DEVICE_DENIED = 0, 1, 2


def status_name(status: int) -> str:
    """The name of a status code, e.g. ``"MORVENT_COMM_ERROR"``."""
    return _core.lib().MorventStatusName(status).decode()


def status_text(status: int) -> str:
    """What a status code means, in one line."""
    return _core.lib().MorventStatusText(status).decode()


def tag_error_name(code: int) -> str:
    """The name of a tag's error code, e.g. ``"MORVENT_TAG_ERR_PASSWORD"``."""
    return _core.lib().MorventTagErrorName(code).decode()


def version() -> str:
    """The version of the loaded libMorvent."""
    return _core.lib().MorventVersion().decode()


class MorventError(Exception):
    """A failed command.

    ``status`` is the status code, ``name`` and ``meaning`` its name and
    meaning, ``operation`` the C function that failed, and ``tag_error`` the
    tag's error code when the status is MORVENT_TAG_ERROR (else ``None``).
    ``reason`` is the cause when it is known better than the status tells,
    such as ``"no such device /dev/ttyUSB0"`` (else ``""``); the message then
    gives it in place of the status's meaning.
    """

    def __init__(self, status: int, operation: str, tag_error: Optional[int] = None, detail: str = "",
                 reason: str = "") -> None:
        self.status = status
        self.operation = operation
        self.name = status_name(status)
        self.meaning = status_text(status)
        self.tag_error = tag_error
        self.tag_error_name = tag_error_name(tag_error) if tag_error is not None else None
        self.reason = reason
        message = f"{operation}: {reason}" if reason else f"{operation}: {self.name} (0x{status & 0xFF:02X}): {self.meaning}"
        if tag_error is not None:
            message += f"; tag error {self.tag_error_name}: {_core.lib().MorventTagErrorText(tag_error).decode()}"
        if detail:
            message += f" ({detail})"
        super().__init__(message)

