"""Status codes as the library gives them, and the exceptions they raise.

The text and errno of a status come from the library's own conversions; its
name comes from the status table the library is built from
(hyxuser_status.def, shipped beside the package and with the headers).
"""

from __future__ import annotations

import ctypes
import errno as _errno
import re
from pathlib import Path

from . import _native

STATUS_BASE = 0x0BAD0000
ERRNO_STATUS_BASE = 0x2BAD0000
_TABLE_FILE = "hyxuser_status.def"
_ROW = re.compile(r"^HYX_STATUS\(\s*(0x[0-9a-fA-F]+|\d+)\s*,\s*(\w+)\s*,", re.MULTILINE)


def _table_paths() -> list[Path]:
    paths = [Path(__file__).resolve().parent / _TABLE_FILE]
    library = Path(_native.lib._name)
    if library.is_absolute():
        # An installed prefix keeps the table with the headers.
        for prefix in list(library.resolve().parents)[:4]:
            paths.append(prefix / "include" / "hyxuser" / _TABLE_FILE)
    return paths


def _read_table() -> dict[int, str]:
    """Code to name, read from the status table (empty when it is not found)."""
    for path in _table_paths():
        try:
            text = path.read_text()
        except OSError:
            continue
        table = {}
        for match in _ROW.finditer(text):
            n = int(match.group(1), 0)
            table[STATUS_BASE + n if n else 0] = match.group(2)
        return table
    return {}


# Read once, when the package is imported; never written afterwards.
_NAMES = _read_table()
_CODES = {name: code for code, name in _NAMES.items()}


def status_code(name: str) -> int:
    """The code of the status called name ("HYX_NOT_FOUND"), from the table.

    Raises KeyError for a name the table does not hold."""
    return _CODES[name]


def status_name(status: int) -> str:
    """The table's name of status: "HYX_OK", "HYX_NOT_FOUND", ...; an
    errno-carrying code is "HYX_GENERIC_LINUX_ERROR", any other unknown code
    "UNKNOWN"."""
    status &= 0xFFFFFFFF
    name = _NAMES.get(status)
    if name is not None:
        return name
    if ERRNO_STATUS_BASE <= status < ERRNO_STATUS_BASE + 4096:
        return "HYX_OK" if status == ERRNO_STATUS_BASE else "HYX_GENERIC_LINUX_ERROR"
    return "UNKNOWN"


def status_text(status: int) -> str:
    """The library's text for status ("Not found"; "okay" for HYX_OK; the
    libc text of an errno-carrying code; "Unknown error status: 0x..." for a
    code the library does not know)."""
    status &= 0xFFFFFFFF
    buffer = ctypes.create_string_buffer(256)
    length = ctypes.c_int()
    _native.CodeToString(status, buffer, len(buffer), ctypes.byref(length))
    if length.value >= len(buffer):
        buffer = ctypes.create_string_buffer(length.value + 1)
        _native.CodeToString(status, buffer, len(buffer), None)
    return buffer.value.decode(errors="replace")


def status_errno(status: int) -> int:
    """The errno the library converts status to (EINVAL for a code it does
    not know)."""
    value = ctypes.c_int()
    _native.CodeToErrno(status & 0xFFFFFFFF, ctypes.byref(value))
    return value.value


def status_pam_value(status: int) -> int | None:
    """The Linux-PAM return value status stands for, or None when it has none."""
    value = _native.CodeToPamReturnValue(status & 0xFFFFFFFF)
    return None if value == -1 else value


class HyxError(Exception):
    """A call into the library failed.

    Attributes: status (the HYX_ReturnStatus code), name (its name in the
    status table), message (the library's text for it) and errno (the errno
    the library converts it to)."""

    status: int
    name: str
    message: str
    errno: int

    def __init__(self, status: int, context: str | None = None) -> None:
        self.status = status & 0xFFFFFFFF
        self.name = status_name(self.status)
        self.message = status_text(self.status)
        self.errno = status_errno(self.status)
        self.context = context
        where = f"{context}: " if context else ""
        super().__init__(f"{where}{self.message} ({self.name}, {self.status:#010x})")

    def __reduce__(self) -> tuple[type[HyxError], tuple[int, str | None]]:
        return (type(self), (self.status, self.context))


class NotFound(HyxError):
    """What was asked for does not exist (HYX_NOT_FOUND, or errno ENOENT)."""


class PermissionDenied(HyxError):
    """The host refused: no access, no permission, or a refused PAM check."""


class NotReady(HyxError):
    """A service the call needs is not there yet (HYX_NOT_READY, HYX_NO_CONNECT)."""


class Throttled(HyxError):
    """A throttled call came inside its window (HYX_LIMIT_EXCEEDED from a
    trap or an event); the throttle queries say how long is left."""


class NotOnHost(HyxError):
    """The host does not speak the library's interfaces: not a Hyxkernel
    (HYX_NOT_IMPLEMENTED) or one whose interface differs (HYX_CHECKSUM_MISMATCH)."""


_BY_NAME: dict[str, type[HyxError]] = {
    "HYX_NOT_FOUND": NotFound,
    "HYX_NO_ACCESS": PermissionDenied,
    "HYX_NO_PERMISSION": PermissionDenied,
    "HYX_ACCESS_DENIED": PermissionDenied,
    "HYX_NOT_READY": NotReady,
    "HYX_NO_CONNECT": NotReady,
    "HYX_NOT_IMPLEMENTED": NotOnHost,
    "HYX_CHECKSUM_MISMATCH": NotOnHost,
}
_BY_ERRNO: dict[int, type[HyxError]] = {
    _errno.ENOENT: NotFound,
    _errno.EPERM: PermissionDenied,
    _errno.EACCES: PermissionDenied,
}


def error_class(status: int) -> type[HyxError]:
    """The exception class a failed call with status raises."""
    status &= 0xFFFFFFFF
    found = _BY_NAME.get(status_name(status))
    if found is None and status > ERRNO_STATUS_BASE:
        found = _BY_ERRNO.get(status - ERRNO_STATUS_BASE)
    return found or HyxError


def check(status: int, context: str | None = None) -> None:
    """Raises the exception for status unless it is HYX_OK."""
    if status != 0:
        raise error_class(status)(status, context)
