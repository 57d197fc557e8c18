"""Exceptions, and the checks that turn Python values into C arguments.

ctypes on its own truncates integers that do not fit a C int, cuts strings
at a NUL byte and reports a float where an int belongs as a bare
ArgumentError; every argument passes through here first instead.
"""

from __future__ import annotations

import builtins
import errno
import operator
import os
import sys
from typing import Optional, Sequence, Tuple, Union

from . import _colors, _native

Path = Union[str, bytes, os.PathLike]
Text = Union[str, bytes]
Color = Union[str, Sequence[int]]
"""A colour: a CSS name ("white", "red", any case), "#RGB", "#RRGGBB", "#RRGGBBAA",
or an (r, g, b) or (r, g, b, a) sequence of 0..255."""

STATUS_ARGUMENT, STATUS_READ, STATUS_DECODE, STATUS_LIMIT, STATUS_WRITE, STATUS_MEMORY = 1, 2, 3, 4, 5, 6


class ImgTextError(RuntimeError):
    """A library call failed. ``str(error)`` is the library's own message and
    ``status`` its status code (0 when only a message is known)."""

    status = 0

    def __init__(self, message: str) -> None:
        super().__init__(message)
        self.message = message

    def __str__(self) -> str:
        return self.message


class ArgumentError(ImgTextError, ValueError):
    """An argument or option out of range."""

    status = STATUS_ARGUMENT


class ReadError(ImgTextError, OSError):
    """A file could not be read."""

    status = STATUS_READ


class NotFoundError(ReadError, builtins.FileNotFoundError):
    """The file to read does not exist; also a built-in FileNotFoundError."""


class DecodeError(ImgTextError, OSError):
    """The data is not a picture (or font) the library reads, or is damaged."""

    status = STATUS_DECODE


class LimitError(ImgTextError, ValueError):
    """A picture or text beyond one of the library's size limits."""

    status = STATUS_LIMIT


class WriteError(ImgTextError, OSError):
    """The output could not be written or encoded."""

    status = STATUS_WRITE


class OutOfMemoryError(ImgTextError, MemoryError):
    """The library ran out of memory."""

    status = STATUS_MEMORY


_BY_STATUS = {STATUS_ARGUMENT: ArgumentError, STATUS_READ: ReadError, STATUS_DECODE: DecodeError,
              STATUS_LIMIT: LimitError, STATUS_WRITE: WriteError, STATUS_MEMORY: OutOfMemoryError}

# The seven calls report a message only; their fixed wording says which
# kind of failure it was.
_BY_MESSAGE = (("invalid", STATUS_ARGUMENT), ("cannot read file", STATUS_READ), ("cannot decode", STATUS_DECODE),
               ("image too large", STATUS_LIMIT), ("failed to write", STATUS_WRITE), ("out of memory", STATUS_MEMORY),
               ("failed to allocate", STATUS_MEMORY))


def error(message: str, status: int = 0, path: Optional[bytes] = None) -> ImgTextError:
    """The exception for a failure: by status, else by the message's wording."""
    if not status:
        status = next((code for prefix, code in _BY_MESSAGE if message.startswith(prefix)), 0)
    if status == STATUS_READ and path is not None and not os.path.exists(path):
        found = NotFoundError(message)
        found.errno, found.filename = errno.ENOENT, os.fsdecode(path)
        return found
    return _BY_STATUS.get(status, ImgTextError)(message)


def check(status: int, path: Optional[bytes] = None) -> None:
    """Raises for a drawing-API status other than 0, with this thread's message."""
    if status:
        raise error(_native.lib.imgtext_error_message().decode("utf-8", "replace"), status, path)


_INT_MIN, _INT_MAX = -(2 ** 31), 2 ** 31 - 1


def index(value: object, name: str) -> int:
    """An int (or anything with __index__); a TypeError naming the argument otherwise."""
    try:
        return operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"{name} must be an int, not {type(value).__name__}") from None


def c_int(value: object, name: str) -> int:
    """An int that fits a C int: TypeError for other types, OverflowError beyond the range."""
    number = index(value, name)
    if not _INT_MIN <= number <= _INT_MAX:
        raise OverflowError(f"{name} = {number} does not fit in a C int ({_INT_MIN}..{_INT_MAX})")
    return number


_UINT64_MAX = 2 ** 64 - 1


def limit(value: object, name: str) -> int:
    """A uint64 limit option, None for none (0 in C, where 0 means no limit).
    An explicit 0 is refused with the negative values, as a ValueError:
    Pillow users read 0 as "refuse everything", C users as "no limit"."""
    if value is None:
        return 0
    number = index(value, name)
    if number < 1:
        raise ValueError(f"{name} must be at least 1, or None for no limit, not {number}")
    if number > _UINT64_MAX:
        raise OverflowError(f"{name} = {number} does not fit in a C uint64_t (1..{_UINT64_MAX})")
    return number


def c_float(value: object, name: str) -> float:
    if isinstance(value, (str, bytes)) or not hasattr(value, "__float__"):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    return float(value)  # type: ignore[arg-type]


def _no_nul(data: bytes, name: str) -> bytes:
    if b"\0" in data:
        raise ValueError(f"{name}: embedded null byte")
    return data


def path(value: Path, name: str = "path", legacy: bool = False) -> bytes:
    """A path as the library takes it. The drawing API takes UTF-8 on every
    platform; the seven calls take the ANSI code page on Windows."""
    value = os.fspath(value)
    if isinstance(value, str):
        if sys.platform == "win32":
            value = value.encode("mbcs" if legacy else "utf-8")
        else:
            value = os.fsencode(value)
    elif not isinstance(value, bytes):
        raise TypeError(f"{name} must be str, bytes or os.PathLike, not {type(value).__name__}")
    return _no_nul(value, name)


def text(value: Optional[Text], nul_terminated: bool = False) -> Optional[bytes]:
    """Text as UTF-8 bytes (bytes pass unchanged). A C string ends at the first
    NUL, so where the length is not passed a NUL is refused rather than cut."""
    if value is None:
        return None
    if isinstance(value, str):
        data = value.encode("utf-8", "surrogatepass")
    elif isinstance(value, (bytes, bytearray, memoryview)):
        data = bytes(value)
    else:
        raise TypeError(f"text must be str or bytes, not {type(value).__name__}")
    return _no_nul(data, "text") if nul_terminated else data


def _channel(value: object, name: str) -> int:
    number = c_int(value, name)
    if not 0 <= number <= 255:
        raise ValueError(f"{name}: channel {number} is outside 0..255")
    return number


def color(value: Color, name: str) -> Tuple[int, int, int, int]:
    """(r, g, b, a) from a colour name, "#RGB", "#RRGGBB", "#RRGGBBAA" or a 3- or 4-sequence."""
    if isinstance(value, str):
        digits = value[1:] if value.startswith("#") else None
        if digits is not None and len(digits) in (3, 6, 8):
            try:
                if len(digits) == 3:
                    return tuple(int(d, 16) * 17 for d in digits) + (255,)  # type: ignore[return-value]
                channels = [int(digits[i:i + 2], 16) for i in range(0, len(digits), 2)]
                return tuple(channels + [255] * (4 - len(channels)))  # type: ignore[return-value]
            except ValueError:
                pass
        found = _colors.named(value)
        if found is not None:
            return found
        raise ValueError(f'{name}: unknown colour {value!r}: give a CSS colour name such as "white" or "red", '
                         f'"#RGB", "#RRGGBB", "#RRGGBBAA" or an (r, g, b[, a]) tuple')
    try:
        channels = list(value)
    except TypeError:
        raise TypeError(f"{name} must be a colour string or an (r, g, b[, a]) tuple, "
                        f"not {type(value).__name__}") from None
    if len(channels) not in (3, 4):
        raise ValueError(f"{name} must have 3 or 4 channels, not {len(channels)}")
    return tuple(_channel(c, name) for c in channels) + ((255,) if len(channels) == 3 else ())  # type: ignore


def native_color(value: Color, name: str) -> _native.Color:
    return _native.Color(*color(value, name))
