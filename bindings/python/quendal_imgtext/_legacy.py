"""The seven file-to-file calls, one function each.

They share one process-wide error text in the library, so a lock makes each
call and the read of its message one step: safe from several threads, one
call at a time. (The Image and Font API has no such lock.)
"""

from __future__ import annotations

import threading
from typing import Optional

from . import _checks
from ._checks import Color, Path, Text
from ._native import lib

_lock = threading.Lock()


def _call(function, *args, input_path: Optional[bytes] = None) -> None:
    with _lock:
        if function(*args) == 1:
            return
        message = lib.imgtext_last_error().decode("utf-8", "replace")
    raise _checks.error(message, path=input_path)


def _rgb(value: Color, name: str, opaque: bool = True):
    r, g, b, a = _checks.color(value, name)
    if opaque and a != 255:
        raise ValueError(f"{name} must be opaque here (alpha {a}); Image.draw_text draws translucent colours")
    return r, g, b, a


def init() -> None:
    """Parse the built-in font now (optional; drawing calls do it themselves)."""
    _call(lib.imgtext_init)


def cleanup() -> None:
    """Forget the parsed font; the next call parses it again."""
    with _lock:
        lib.imgtext_cleanup()


def last_error() -> str:
    """The message of the last failed module-level call, or '' after a success."""
    with _lock:
        return lib.imgtext_last_error().decode("utf-8", "replace")


def create(output_path: Path, text: Optional[Text], width: int, height: int, size: int = 24,
           color: Color = (255, 255, 255), background: Color = (0, 0, 0)) -> None:
    """Write a new width x height picture in the background colour, with text
    centred both ways (``None`` or ``""`` for none)."""
    _call(lib.imgtext_create, _checks.path(output_path, "output_path", legacy=True),
          _checks.text(text, nul_terminated=True), _checks.c_int(width, "width"), _checks.c_int(height, "height"),
          _checks.c_int(size, "size"), *_rgb(color, "color")[:3], *_rgb(background, "background")[:3])


def add(input_path: Path, output_path: Path, text: Text, x: int = 0, y: int = 0, size: int = 24,
        color: Color = (255, 255, 255), opacity: float = 1.0) -> None:
    """Draw text with its box's top-left at (x, y) onto the picture in
    input_path and write output_path. A colour's alpha multiplies opacity."""
    source = _checks.path(input_path, "input_path", legacy=True)
    r, g, b, a = _rgb(color, "color", opaque=False)
    opacity = _checks.c_float(opacity, "opacity")
    _call(lib.imgtext_add, source, _checks.path(output_path, "output_path", legacy=True),
          _checks.text(text, nul_terminated=True), _checks.c_int(x, "x"), _checks.c_int(y, "y"),
          _checks.c_int(size, "size"), r, g, b, opacity if a == 255 else opacity * a / 255, input_path=source)


def add_boxed(input_path: Path, output_path: Path, text: Text, x: int = 0, y: int = 0, size: int = 24,
              color: Color = (255, 255, 255), box_color: Color = (0, 0, 0), padding: int = 0) -> None:
    """Draw text on an opaque box (padding pixels around the text) whose
    top-left corner is (x, y)."""
    source = _checks.path(input_path, "input_path", legacy=True)
    _call(lib.imgtext_add_boxed, source, _checks.path(output_path, "output_path", legacy=True),
          _checks.text(text, nul_terminated=True), _checks.c_int(x, "x"), _checks.c_int(y, "y"),
          _checks.c_int(size, "size"), *_rgb(color, "color")[:3], *_rgb(box_color, "box_color")[:3],
          _checks.c_int(padding, "padding"), input_path=source)


def centered(input_path: Path, output_path: Path, text: Text, size: int = 24,
             color: Color = (255, 255, 255)) -> None:
    """Draw text centred in the picture, each line centred within the text box."""
    source = _checks.path(input_path, "input_path", legacy=True)
    _call(lib.imgtext_centered, source, _checks.path(output_path, "output_path", legacy=True),
          _checks.text(text, nul_terminated=True), _checks.c_int(size, "size"), *_rgb(color, "color")[:3],
          input_path=source)
