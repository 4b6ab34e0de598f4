"""The exceptions of varnel: one base class and one subclass per kind of failure.

Every failure of the library reaches Python as an exception carrying the
library's error code (``.code``, one of the ``MACBIN_ERR_*`` values of
varnel.h) and its one-line reason (``.reason``); ``str()`` of the exception
names the file as well when there is one.
"""
from __future__ import annotations

import os
import sys
import warnings
from typing import Optional

# The library's codes (MACBIN_ERR_* in varnel.h).
ERR_NONE = 0
ERR_IO = 1
ERR_MEMORY = 2
ERR_DAMAGED = 3
ERR_UNSUPPORTED = 4
ERR_LIMIT = 5
ERR_ARGUMENT = 6
ERR_STATE = 7
ERR_IMAGE = 8


class Error(Exception):
    """A failure of the library, or a call varnel refuses.

    ``code`` is the library's error code (0 when varnel itself refused the
    call before reaching the library), ``reason`` its one-line text and
    ``path`` the file concerned, or None.
    """

    code: int = ERR_NONE

    def __init__(self, reason: str, path: Optional[str] = None, code: Optional[int] = None,
                 system_error: int = 0) -> None:
        message = f"{path}: {reason}" if path else reason
        Exception.__init__(self, message)
        self.reason = reason
        self.path = path
        if code is not None:
            self.code = code
        self.system_error = system_error


class FileError(Error, OSError):
    """A file could not be opened, read, written, closed or removed.

    ``errno`` is the system's error number when the library knew it (else 0).
    """

    code = ERR_IO

    def __init__(self, reason: str, path: Optional[str] = None, code: Optional[int] = None,
                 system_error: int = 0) -> None:
        Error.__init__(self, reason, path, code, system_error)
        self.errno = system_error or None
        self.strerror = reason
        self.filename = path

    def __str__(self) -> str:  # OSError would format errno and strerror itself
        return self.args[0]


class OutOfMemoryError(Error, MemoryError):
    """The library ran out of memory."""

    code = ERR_MEMORY


class DamagedError(Error):
    """The input is damaged: cut short, a CRC that does not match, a resource
    map, compressed resource, icon or picture that fails its checks."""

    code = ERR_DAMAGED


class UnsupportedError(Error):
    """Sound input in a form the library does not read (an unknown AppleSingle
    version or decompressor, a resource type that does not decode)."""

    code = ERR_UNSUPPORTED


class LimitError(Error):
    """A limit of the formats or the writer: the map or its name list full,
    data past 16 MB, a fork past 32 bits, a name or text too long."""

    code = ERR_LIMIT


class ArgumentError(Error, ValueError):
    """An argument the call refuses: a malformed resource line, a value out of
    range, text that MacRoman cannot hold, a type without a processor."""

    code = ERR_ARGUMENT


class StateError(Error, ValueError):
    """A call out of order: on a closed file, data written after the first
    resource, a second file written at once from one thread."""

    code = ERR_STATE


class ImageError(Error):
    """An image file could not be read: missing, in no format the library
    (PNG, netpbm, CT) or a registered image-file reader takes, damaged, or
    of the wrong size."""

    code = ERR_IMAGE


class VarnelWarning(UserWarning):
    """A warning of the library: a damaged resource fork read without its
    resources, a BinHex fork whose CRC does not match, a loss in a
    conversion."""


_BY_CODE = {
    ERR_IO: FileError,
    ERR_MEMORY: OutOfMemoryError,
    ERR_DAMAGED: DamagedError,
    ERR_UNSUPPORTED: UnsupportedError,
    ERR_LIMIT: LimitError,
    ERR_ARGUMENT: ArgumentError,
    ERR_STATE: StateError,
    ERR_IMAGE: ImageError,
}


def error_for(code: int, reason: str, path: Optional[str] = None, system_error: int = 0) -> Error:
    """The exception for a library error code (Error itself for an unknown one)."""
    cls = _BY_CODE.get(code, Error)
    return cls(reason or "the library gives no reason", path, code, system_error)


def warn(text: str, path: Optional[str] = None) -> None:
    """Gives a VarnelWarning attributed to the caller's code, outside varnel."""
    package = os.path.dirname(os.path.abspath(__file__))
    level = 1
    frame = sys._getframe(0)
    while frame is not None and os.path.dirname(os.path.abspath(frame.f_code.co_filename)) == \
            package:
        frame = frame.f_back
        level += 1
    warnings.warn(f"{path}: {text}" if path else text, VarnelWarning, stacklevel=level)
