"""Python API for UHF RFID readers, over the C library libMorvent.

    import morvent

    with morvent.Reader.tcp("127.0.0.1", 6000) as reader:
        for tag in reader.inventory():
            print(tag)                      # the EPC in hex

Failures raise :class:`MorventError`. Statuses that are not failures are
results: an empty field gives an empty list, and nothing sent by the reader
in its active mode gives ``b""``. All readers of a process share the core's
one link lock: exchanges never overlap, whatever the link.
"""

from __future__ import annotations

from . import epc
from ._reader import Reader
from ._records import split_records
from ._status import (COMM_ERROR, DEVICE_DENIED, DEVICE_MISSING, DEVICE_PRESENT, INVALID_PORT, INVENTORY_DONE,
                      INVENTORY_FULL, INVENTORY_MORE, INVENTORY_TIMEOUT, NO_DATA, NO_TAG, OK, PARAM_RANGE, PORT_OPEN,
                      TAG_ERROR, MorventError, status_name, status_text, tag_error_name, version)
from ._values import (ANY, Bank, BufferRecord, LockArea, LockMode, Mask, Password, ReaderInfo, SystemParameters, Tag,
                      Tag6B, TagRef, WorkMode)

#: The kit's version; the same as the core's MorventVersion() it was made with.
__version__ = "0.3.0"

__all__ = [
    # Opening a reader and what failures raise.
    "Reader", "MorventError", "version",
    # Values given to and returned by the Reader.
    "Bank", "LockArea", "LockMode", "WorkMode", "Mask", "Tag", "Tag6B", "ReaderInfo", "SystemParameters",
    "BufferRecord", "ANY", "TagRef", "Password",
    # Status codes with a meaning of their own, and their names and meanings.
    "OK", "INVENTORY_DONE", "INVENTORY_TIMEOUT", "INVENTORY_MORE", "INVENTORY_FULL", "NO_DATA", "COMM_ERROR",
    "PORT_OPEN", "INVALID_PORT", "NO_TAG", "TAG_ERROR", "PARAM_RANGE", "status_name", "status_text",
    "tag_error_name",
    # What MorventSerialDevice finds at a serial port's device.
    "DEVICE_PRESENT", "DEVICE_MISSING", "DEVICE_DENIED",
    # Inventory records taken apart, and the GS1 identities of EPCs.
    "split_records", "epc",
]
