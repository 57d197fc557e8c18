"""Write text onto raster images: Python bindings for quendal-imgtext.

Every function is one complete file-to-file operation and raises
ImgTextError, carrying the library's own message, when it fails::

    import quendal_imgtext as t
    t.create("card.png", "Hello", 320, 120, size=40)
    t.add("photo.jpg", "out.png", "(c) 2026", x=10, y=10, opacity=0.6)

Text is bytes to the library: ``bytes`` pass unchanged, ``str`` is encoded
as UTF-8 (what a C host would pass). The library draws one glyph per byte
in its built-in font, so only ASCII is visible today; other bytes draw
nothing but take the width of a space. A newline starts a new line.

Paths may be ``str``, ``bytes`` or ``os.PathLike`` (encoded with
``os.fsencode``). Colours are (red, green, blue) tuples of 0..255.

The library keeps process-wide state (the error text, the parsed font)
without locks, so this module serialises every call with a lock: it is safe
to call from several threads, one call at a time.

The shared library is found through the QUENDAL_IMGTEXT_LIBRARY environment
variable, then beside this package, then on the system's library path.
"""

import ctypes
import ctypes.util
import os
import sys
import threading

__all__ = ["ImgTextError", "init", "cleanup", "last_error", "create", "add", "add_boxed", "centered",
           "library_path"]
__version__ = "0.1.0"


class ImgTextError(RuntimeError):
    """A library call failed; the message is the library's own."""


def _library_names():
    if sys.platform == "win32":
        return ["quendal-imgtext.dll"]
    if sys.platform == "darwin":
        return ["libquendal-imgtext.dylib", "libquendal-imgtext.0.dylib"]
    return ["libquendal-imgtext.so", "libquendal-imgtext.so.0"]


def _load_library():
    tried = []
    override = os.environ.get("QUENDAL_IMGTEXT_LIBRARY")
    if override:
        try:
            return ctypes.CDLL(override), override
        except OSError as error:
            raise ImgTextError(f"cannot load QUENDAL_IMGTEXT_LIBRARY={override}: {error}") from None
    here = os.path.dirname(os.path.abspath(__file__))
    for name in _library_names():
        candidate = os.path.join(here, name)
        tried.append(candidate)
        if os.path.exists(candidate):
            return ctypes.CDLL(candidate), candidate
    found = ctypes.util.find_library("quendal-imgtext")
    for name in ([found] if found else []) + _library_names():
        tried.append(name)
        try:
            return ctypes.CDLL(name), name
        except OSError:
            continue
    raise ImgTextError("cannot find the quendal-imgtext library; looked for QUENDAL_IMGTEXT_LIBRARY, then "
                       + ", ".join(tried) + ". Set QUENDAL_IMGTEXT_LIBRARY to its path.")


_lib, library_path = _load_library()
_lock = threading.Lock()

_int = ctypes.c_int
_str = ctypes.c_char_p
_lib.imgtext_init.argtypes = []
_lib.imgtext_init.restype = _int
_lib.imgtext_cleanup.argtypes = []
_lib.imgtext_cleanup.restype = None
_lib.imgtext_last_error.argtypes = []
_lib.imgtext_last_error.restype = _str
_lib.imgtext_create.argtypes = [_str, _str] + [_int] * 9
_lib.imgtext_create.restype = _int
_lib.imgtext_add.argtypes = [_str, _str, _str] + [_int] * 6 + [ctypes.c_float]
_lib.imgtext_add.restype = _int
_lib.imgtext_add_boxed.argtypes = [_str, _str, _str] + [_int] * 10
_lib.imgtext_add_boxed.restype = _int
_lib.imgtext_centered.argtypes = [_str, _str, _str] + [_int] * 4
_lib.imgtext_centered.restype = _int


def _path(path):
    return os.fsencode(path)


def _text(text):
    if text is None:
        return None
    if isinstance(text, str):
        return text.encode("utf-8")
    return bytes(text)


def _rgb(colour, name):
    try:
        red, green, blue = colour
        return int(red), int(green), int(blue)
    except (TypeError, ValueError):
        raise TypeError(f"{name} must be a (red, green, blue) tuple") from None


def _call(function, *args):
    with _lock:
        if function(*args) != 1:
            raise ImgTextError(_lib.imgtext_last_error().decode("utf-8", "replace"))


def init():
    """Parse the built-in font now (optional; drawing calls do it themselves)."""
    _call(_lib.imgtext_init)


def cleanup():
    """Forget the parsed font; the next call parses it again."""
    with _lock:
        _lib.imgtext_cleanup()


def last_error():
    """The message of the library's last failed call, or '' after a success."""
    with _lock:
        return _lib.imgtext_last_error().decode("utf-8", "replace")


def create(output, text, width, height, size=24, color=(255, 255, 255), background=(0, 0, 0)):
    """Write a new width x height image in the background colour with text centred both ways."""
    _call(_lib.imgtext_create, _path(output), _text(text), width, height, size, *_rgb(color, "color"),
          *_rgb(background, "background"))


def add(input, output, text, x=0, y=0, size=24, color=(255, 255, 255), opacity=1.0):
    """Draw text with its top-left at (x, y) onto the picture in input and write output."""
    _call(_lib.imgtext_add, _path(input), _path(output), _text(text), x, y, size, *_rgb(color, "color"),
          float(opacity))


def add_boxed(input, output, text, x=0, y=0, size=24, color=(255, 255, 255), box_color=(0, 0, 0), padding=0):
    """Draw text on an opaque box (padding pixels around the text) whose corner is (x, y)."""
    _call(_lib.imgtext_add_boxed, _path(input), _path(output), _text(text), x, y, size, *_rgb(color, "color"),
          *_rgb(box_color, "box_color"), padding)


def centered(input, output, text, size=24, color=(255, 255, 255)):
    """Draw text centred in the picture, each line centred within the text block."""
    _call(_lib.imgtext_centered, _path(input), _path(output), _text(text), size, *_rgb(color, "color"))
