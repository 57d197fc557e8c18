"""Images and fonts as Python objects, over the library's drawing API.

No lock: every call may run in parallel with calls from other threads
(ctypes releases the GIL). An Image is for one thread at a time, as the
library's images are; a Font may be shared by all.
"""

from __future__ import annotations

import ctypes
import inspect
import math
import os
from dataclasses import dataclass
from typing import Any, BinaryIO, Dict, Optional, Tuple, Union

from . import _checks, _native
from ._checks import Color, Path, Text
from ._native import lib

_POSITIONS = ("top-left", "top", "top-right", "left", "center", "right", "bottom-left", "bottom", "bottom-right")
# Pillow's anchors: a horizontal letter (left, middle, right) and a vertical
# one. The box's top is the first line's ascender and its bottom the last
# line's descender, so "a" is its top and "d" its bottom, "m" its middle and
# "s" the first baseline. "t" and "b" are, as in Pillow, the top and bottom
# of the glyphs' ink, for single-line text only.
_PIL_COLUMNS = {"l": 0, "m": 1, "r": 2}
_PIL_ROWS = {"a": 0, "m": 1, "d": 2}
_ALIGNS = {"left": 0, "center": 1, "centre": 1, "right": 2, "start": 3, "end": 4, "justify": 5}
_WRAPS = {"word": 0, "character": 1, "none": 2}
_LAYOUTS = {"auto": 0, "simple": 1, "shaped": 2}
_DIRECTIONS = {"ltr": 1, "rtl": 2}  # None: each paragraph's own (its first strong character)
_FORMATS = {"png": _native.FORMAT_PNG, "jpeg": _native.FORMAT_JPEG, "jpg": _native.FORMAT_JPEG,
            "bmp": _native.FORMAT_BMP}
_FORMAT_NAMES = {_native.FORMAT_PNG: "PNG", _native.FORMAT_JPEG: "JPEG", _native.FORMAT_BMP: "BMP"}

ImageSource = Union[Path, bytes, bytearray, memoryview, BinaryIO]
Shadow = Union[Tuple[int, int], Tuple[int, int, float]]
"""A shadow's offset in pixels, right and down, and optionally its blur (default 2)."""


def _position(name: str, what: str) -> int:
    try:
        return _POSITIONS.index(name.replace("_", "-").replace("centre", "center"))
    except (ValueError, AttributeError):
        raise ValueError(f"{what} must be one of {', '.join(_POSITIONS)}, not {name!r}") from None


def _format_code(name: Optional[str]) -> int:
    if name is None:
        return _native.FORMAT_AUTO
    try:
        return _FORMATS[name.lower()]
    except (KeyError, AttributeError):
        raise ValueError(f"format must be 'png', 'jpeg' or 'bmp', not {name!r}") from None


# The decoders take at most INT_MAX bytes, so even with no limit of its own
# a file object is read no further than one byte past that.
_DECODER_BYTES = 2 ** 31 - 1
# A file object's read(n) may allocate n bytes before it knows how many there
# are: a big limit is read in pieces of this size.
_READ_PIECE = 1 << 24


def _read_at_most(file: Any, room: int) -> bytes:
    """Up to room bytes of a binary file object: as many as it has if fewer."""
    pieces, left = [], room
    while left > 0:
        piece = file.read(min(left, _READ_PIECE))
        if not isinstance(piece, (bytes, bytearray)):
            raise TypeError("the file object must be opened in binary mode")
        if not piece:
            break
        pieces.append(bytes(piece))
        left -= len(piece)
    return b"".join(pieces)


def _read_source(source: Any, room: int) -> Optional[bytes]:
    """The bytes of a bytes-like object or a binary file object, None for a
    path. Of more than room bytes only room are copied or read: the library
    refuses room bytes as it would refuse them all, so room is one past its
    limit. bytes are passed whole (they need no copy)."""
    if isinstance(source, bytes):
        return source
    if isinstance(source, (bytearray, memoryview)):
        view = memoryview(source)
        if view.nbytes > room and view.c_contiguous:
            view = view.cast("B")[:room]
        return view.tobytes()
    if hasattr(source, "read"):
        return _read_at_most(source, room)
    return None


def _read_font_file(source: Path) -> bytes:
    """A font file's bytes, read once, failing as imgtext_font_load would."""
    where = _checks.path(source)
    try:
        with open(os.fspath(source), "rb") as file:
            too_big = os.fstat(file.fileno()).st_size > _DECODER_BYTES  # refused unread, as the library does
            data = b"" if too_big else _read_at_most(file, _DECODER_BYTES + 1)
    except OSError:
        data = b""
    if not data or len(data) > _DECODER_BYTES:
        raise _checks.error(f"cannot read file: {where.decode('utf-8', 'replace')}", _checks.STATUS_READ, where)
    return data


class _NativeFont:
    """The one owner of a loaded font's handle. A Font and its copies share
    one, and it frees the handle when the last of them lets it go: two
    owners of a handle would each free it."""

    __slots__ = ("handle",)

    def __init__(self, handle: Optional[int]) -> None:
        self.handle = handle

    def __del__(self) -> None:
        if self.handle and lib is not None:
            lib.imgtext_font_free(self.handle)  # ignores the built-in font
        self.handle = None

    def __copy__(self) -> "_NativeFont":
        return self

    def __deepcopy__(self, memo: Dict[int, Any]) -> "_NativeFont":
        return self

    def __reduce__(self) -> Any:
        raise TypeError("a native font handle points into this process: pickle the Font")


class Font:
    """A TrueType or OpenType font, immutable and shareable between threads.

    ``Font(path)`` reads a file, ``Font(data)`` takes the file's bytes (or a
    binary file object); ``index`` picks a font of a collection. ``Font.builtin()``
    is the library's own Caladea Regular, which every call uses by default.

    A copy (copy.copy, copy.deepcopy) shares the loaded font, which is freed
    with the last copy. A pickle holds the font's bytes and index, so a font
    read from a file unpickles where the file is not; the built-in font
    pickles by name. The bytes stay with the Font for that, read once.
    """

    def __init__(self, source: Union[Path, bytes, bytearray, memoryview, BinaryIO], index: int = 0) -> None:
        index = _checks.c_int(index, "index")
        data = _read_source(source, _DECODER_BYTES + 1)
        if data is None:
            data = _read_font_file(source)  # type: ignore[arg-type]
        handle = ctypes.c_void_p()
        _checks.check(lib.imgtext_font_load_memory(data, len(data), index, ctypes.byref(handle)))
        self._native = _NativeFont(handle.value)
        self._data: Optional[bytes] = data  # None for the built-in font
        self._index = index

    @classmethod
    def builtin(cls) -> "Font":
        font = cls.__new__(cls)
        font._native, font._data, font._index = _NativeFont(lib.imgtext_font_builtin()), None, 0
        return font

    @property
    def _handle(self) -> Optional[int]:
        return self._native.handle

    def __copy__(self) -> "Font":
        twin = type(self).__new__(type(self))
        twin.__dict__.update(self.__dict__)  # the same _NativeFont
        return twin

    def __deepcopy__(self, memo: Dict[int, Any]) -> "Font":
        return self.__copy__()  # nothing in a font changes: sharing it is a deep copy

    def __reduce__(self) -> Any:
        if self._data is None:
            return (type(self).builtin, ())
        return (type(self), (self._data, self._index))


@dataclass(frozen=True)
class TextMetrics:
    """The text box of a measured or drawn text, in pixels.

    ``x``, ``y``: its top-left as drawn (0, 0 from measure); ``width`` is the
    widest line, ``height`` line_count * line_height; ``ascent`` runs from the
    box's top to the first baseline; ``missing_glyphs`` counts characters no
    font had; ``line_widths`` (from measure) gives each line's width."""

    x: int
    y: int
    width: int
    height: int
    line_count: int
    line_height: int
    ascent: int
    descent: int
    missing_glyphs: int
    line_widths: Tuple[int, ...] = ()
    text_size: float = 0.0
    """The size the text was laid out at, in the unit given (size or
    font_size): the one asked for, or the one ``fit`` chose."""
    truncated: bool = False
    """True when ``max_lines`` cut text off (its last line ends in an ellipsis)."""

    @property
    def size(self) -> Tuple[int, int]:
        return (self.width, self.height)


def _metrics(m: _native.TextMetrics, line_widths: Tuple[int, ...] = ()) -> TextMetrics:
    return TextMetrics(m.x, m.y, m.width, m.height, m.line_count, m.line_height, m.ascent, m.descent,
                       m.missing_glyphs, line_widths, m.size, bool(m.truncated))


def _shadow(style: _native.TextStyle, shadow: Any) -> None:
    try:
        parts = tuple(shadow)
    except TypeError:
        raise TypeError(f"shadow must be a (dx, dy) or (dx, dy, blur) tuple, not {type(shadow).__name__}") from None
    if len(parts) not in (2, 3):
        raise ValueError(f"shadow must be (dx, dy) or (dx, dy, blur), not {len(parts)} numbers")
    style.shadow = 1
    style.shadow_dx, style.shadow_dy = _checks.c_int(parts[0], "shadow dx"), _checks.c_int(parts[1], "shadow dy")
    if len(parts) == 3:
        style.shadow_blur = _checks.c_float(parts[2], "shadow blur")


def _placement(style: _native.TextStyle, rotate: Any = None, tile: Any = None) -> None:
    """Rotation in degrees counterclockwise, and tiling: (step_x, step_y) or
    (step_x, step_y, row_offset) in pixels, 0 for a step's default."""
    if rotate is not None:
        style.rotation = _checks.c_float(rotate, "rotate")
    if tile is not None:
        try:
            parts = tuple(tile)
        except TypeError:
            raise TypeError(f"tile must be a (step_x, step_y) or (step_x, step_y, row_offset) tuple, "
                            f"not {type(tile).__name__}") from None
        if len(parts) not in (2, 3):
            raise ValueError(f"tile must be (step_x, step_y) or (step_x, step_y, row_offset), not {len(parts)} numbers")
        style.tile = 1
        style.tile_step_x, style.tile_step_y = _checks.c_int(parts[0], "tile step_x"), _checks.c_int(parts[1],
                                                                                                  "tile step_y")
        if len(parts) == 3:
            style.tile_row_offset = _checks.c_int(parts[2], "tile row_offset")


def _style(font: Optional[Font], fallback: Optional[Font], size: Optional[float], font_size: Optional[float],
           line_spacing: float, align: Optional[str], max_width: Optional[int], fill: Optional[Color] = None,
           opacity: float = 1.0, box: Optional[Color] = None, padding: int = 0, stroke_width: float = 0.0,
           stroke_fill: Optional[Color] = None, shadow: Optional[Shadow] = None, shadow_fill: Optional[Color] = None,
           box_radius: float = 0.0, world: Optional[dict] = None,
           spacing: Optional[float] = None, embedded_color: bool = True,
           fitting: Optional[dict] = None) -> _native.TextStyle:
    style = _native.new_options(_native.TextStyle, lib.imgtext_text_style_init)
    style.color_glyphs = 1 if embedded_color else 0
    chain = list(font) if isinstance(font, (list, tuple)) else [font]
    if not chain:
        raise ValueError("font must be a Font or a non-empty list of Fonts")
    for name, value in [("font", f) for f in chain] + [("fallback", fallback)]:
        if value is not None and not isinstance(value, Font):
            raise TypeError(f"{name} must be a Font, not {type(value).__name__}")
    if None in chain[1:]:
        raise TypeError("font: only a single font may be None (the built-in font)")
    style.font = chain[0]._handle if chain[0] is not None else None
    style.fallback = fallback._handle if fallback is not None else None
    if len(chain) > 1:
        fallbacks = (ctypes.c_void_p * (len(chain) - 1))(*[f._handle for f in chain[1:]])
        style.fallbacks = ctypes.cast(fallbacks, ctypes.POINTER(ctypes.c_void_p))
        style.fallback_count = len(chain) - 1
        style._keep = (fallbacks, chain)  # the array and the fonts live as long as the style
    _world_text(style, **(world or {}))
    _box_fit(style, **(fitting or {}))
    if size is not None and font_size is not None:
        raise ValueError("give size (pixel height) or font_size (em size), not both")
    if font_size is not None:
        style.size, style.size_unit = _checks.c_float(font_size, "font_size"), _native.SIZE_EM
    elif size is not None:
        style.size = _checks.c_float(size, "size")
    style.line_spacing = _checks.c_float(line_spacing, "line_spacing")
    if spacing is not None:
        if style.line_spacing != 1.0:
            raise ValueError("give spacing (pixels between lines) or line_spacing (a factor), not both")
        style.leading = _checks.c_float(spacing, "spacing")
    if align is not None:
        if align not in _ALIGNS:
            raise ValueError(f"align must be 'left', 'center', 'right', 'start', 'end' or 'justify', not {align!r}")
        style.align = _ALIGNS[align]
    style.max_width = _checks.c_int(max_width or 0, "max_width")
    if fill is not None:
        style.color = _checks.native_color(fill, "fill")
    style.opacity = _checks.c_float(opacity, "opacity")
    if box is not None:
        style.box, style.box_color = 1, _checks.native_color(box, "box")
    style.padding = _checks.c_int(padding, "padding")
    style.box_radius = _checks.c_float(box_radius, "box_radius")
    style.stroke_width = _checks.c_float(stroke_width, "stroke_width")
    if stroke_fill is not None:
        style.stroke_color = _checks.native_color(stroke_fill, "stroke_fill")
    if shadow is not None:
        _shadow(style, shadow)
    if shadow_fill is not None:
        style.shadow_color = _checks.native_color(shadow_fill, "shadow_fill")
    return style


def _coordinate(value: object, name: str) -> int:
    """A pixel coordinate: an int, or a float rounded to the nearest pixel with
    a half going down (10.5 to 10, -0.5 to -1), where Pillow 9's text lands."""
    if isinstance(value, float) or (not hasattr(value, "__index__") and hasattr(value, "__float__")
                                    and not isinstance(value, (str, bytes))):
        number = float(value)  # type: ignore[arg-type]
        if not math.isfinite(number):
            raise ValueError(f"{name} must be a finite number, not {number}")
        return _checks.c_int(math.ceil(number - 0.5), name)
    return _checks.c_int(value, name)


def _world_text(style: _native.TextStyle, features: Any = None, language: Optional[str] = None,
                direction: Optional[str] = None, layout: Optional[str] = None, variations: Any = None) -> None:
    """The shaping fields: features as Pillow takes them (["-liga", "ss01"])
    or as one string, a BCP 47 language, direction "ltr"/"rtl", layout, and
    a variable font's axes ({"wght": 700}, "wght=700" or an instance's name)."""
    if variations is not None:
        if isinstance(variations, dict):
            try:
                items = [f"{str(tag)}={float(value)!r}" for tag, value in variations.items()]
            except (TypeError, ValueError):
                raise TypeError("variations must map axis tags to numbers, e.g. {'wght': 700}") from None
            text = ",".join(items)
        elif isinstance(variations, str):
            text = variations
        else:
            raise TypeError(f"variations must be a dict or a str, not {type(variations).__name__}")
        style.variations = text.encode("utf-8") if text else None
    if features is not None:
        if isinstance(features, str):
            features = [features]
        try:
            tags = [str(f) if isinstance(f, str) else None for f in features]
        except TypeError:
            raise TypeError(f"features must be a list of strings, not {type(features).__name__}") from None
        if None in tags:
            raise TypeError("features must be strings such as '-liga' or 'ss01=1'")
        style.features = ",".join(tags).encode("utf-8") if tags else None
    if language is not None:
        if not isinstance(language, str):
            raise TypeError(f"language must be a str, not {type(language).__name__}")
        style.language = language.encode("utf-8")
    if direction is not None:
        if direction not in _DIRECTIONS:
            raise ValueError(f"direction must be 'ltr', 'rtl' or None, not {direction!r}")
        style.direction = _DIRECTIONS[direction]
    if layout is not None:
        if layout not in _LAYOUTS:
            raise ValueError(f"layout must be 'auto', 'simple' or 'shaped', not {layout!r}")
        style.layout = _LAYOUTS[layout]


def _box_fit(style: _native.TextStyle, fit: Optional[Tuple[int, int]] = None, min_size: Optional[float] = None,
             max_size: Optional[float] = None, letter_spacing: float = 0.0,
             wrap: Optional[str] = None, max_lines: Optional[int] = None) -> None:
    """The box fields: fit=(width, height) for auto-size between min_size
    and max_size, letter_spacing in pixels, wrap "word"/"character"/"none"
    and max_lines (Pillow's spacing, pixels between lines, is _style's)."""
    if fit is not None:
        try:
            width, height = fit
        except (TypeError, ValueError):
            raise TypeError(f"fit must be a (width, height) pair, not {fit!r}") from None
        style.auto_size = 1
        style.fit_width, style.fit_height = _checks.c_int(width, "fit width"), _checks.c_int(height, "fit height")
    elif min_size is not None or max_size is not None:
        raise ValueError("min_size and max_size are for fit=(width, height)")
    if min_size is not None:
        style.min_size = _checks.c_float(min_size, "min_size")
    if max_size is not None:
        style.max_size = _checks.c_float(max_size, "max_size")
    style.letter_spacing = _checks.c_float(letter_spacing, "letter_spacing")
    if wrap is not None:
        if wrap not in _WRAPS:
            raise ValueError(f"wrap must be 'word', 'character' or 'none', not {wrap!r}")
        style.wrap = _WRAPS[wrap]
    if max_lines is not None:
        style.max_lines = _checks.c_int(max_lines, "max_lines")


def measure(text: Text, font: Optional[Font] = None, *, size: Optional[float] = None,
            font_size: Optional[float] = None, line_spacing: float = 1.0, max_width: Optional[int] = None,
            fallback: Optional[Font] = None, features: Any = None, language: Optional[str] = None,
            direction: Optional[str] = None, layout: Optional[str] = None, align: Optional[str] = None,
            spacing: Optional[int] = None, embedded_color: bool = True, variations: Any = None,
            rotate: Any = None, fit: Optional[Tuple[int, int]] = None, min_size: Optional[float] = None,
            max_size: Optional[float] = None, letter_spacing: float = 0.0, wrap: Optional[str] = None,
            max_lines: Optional[int] = None) -> TextMetrics:
    """Lay out text as draw_text would, without drawing.

    ``size`` is the pixel height from ascender to descender (default 24, as
    the module-level functions take it); ``font_size`` is the em size, as
    Pillow and most tools give it. ``line_spacing`` multiplies the line
    height, or ``spacing`` adds that many pixels between lines (Pillow's
    word); ``max_width`` wraps lines wider than that many pixels at spaces.
    ``variations`` and ``rotate`` are as for draw_text; turned text measures
    as the bounding box of its turned text box. A text box: see draw_text
    (align matters to measuring only as "justify", whose lines are measured
    at the box's width).
    """
    data = _checks.text(text)
    style = _style(font, fallback, size, font_size, line_spacing, align, max_width,
                   world=dict(features=features, language=language, direction=direction, layout=layout,
                              variations=variations),
                   spacing=spacing, embedded_color=embedded_color,
                   fitting=dict(fit=fit, min_size=min_size, max_size=max_size, letter_spacing=letter_spacing,
                                wrap=wrap, max_lines=max_lines))
    _placement(style, rotate)
    metrics = _native.new_metrics()
    room = data.count(b"\n") + 1
    while True:
        widths = (ctypes.c_int * room)()
        _checks.check(lib.imgtext_measure_text(data, len(data), ctypes.byref(style), ctypes.byref(metrics),
                                               widths, room))
        if metrics.line_count <= room:
            return _metrics(metrics, tuple(widths[:metrics.line_count]))
        room = metrics.line_count  # wrapping made more lines than breaks


def textlength(text: Text, font: Optional[Font] = None, **options: Any) -> float:
    """The advance width of one line of text in pixels, a float as Pillow's
    textlength returns (whole pixels here: the library lays glyphs out on the
    pixel grid). options: measure()'s. Text with a line break is refused, as
    Pillow refuses it; "" is 0.0."""
    data = _checks.text(text)
    if b"\n" in data:
        raise ValueError("can't measure length of multiline text")
    metrics = measure(data, font, **options)
    return float(metrics.width) if data else 0.0


def _style_options(font: Optional[Font], options: Dict[str, Any]) -> Dict[str, Any]:
    """_style()'s arguments from draw_text's keywords, as textbbox takes them."""
    options.pop("fill", None)
    options.pop("opacity", None)
    world = {name: options.pop(name) for name in ("features", "language", "direction", "layout", "variations")
             if name in options}
    fitting = {name: options.pop(name) for name in ("fit", "min_size", "max_size", "letter_spacing", "wrap",
                                                    "max_lines") if name in options}
    known = {"fallback", "size", "font_size", "line_spacing", "align", "max_width", "box", "padding", "stroke_width",
             "stroke_fill", "shadow", "shadow_fill", "box_radius", "spacing", "embedded_color", "rotate", "tile"}
    unknown = sorted(set(options) - known)
    if unknown:
        raise TypeError(f"unexpected keyword argument {unknown[0]!r}")
    return dict(options, font=font, fallback=options.get("fallback"), size=options.get("size"),
                font_size=options.get("font_size"), line_spacing=options.get("line_spacing", 1.0),
                align=options.get("align"), max_width=options.get("max_width"), world=world, fitting=fitting)


def _variant(style: _native.TextStyle, **fields: Any) -> _native.TextStyle:
    """A copy of a style (all struct_size bytes the library reads) with some fields changed."""
    size = max(style.struct_size, ctypes.sizeof(_native.TextStyle))
    buffer = ctypes.create_string_buffer(ctypes.string_at(ctypes.addressof(style), size), size)
    twin = _native.TextStyle.from_buffer(buffer)
    twin._keep = getattr(style, "_keep", None)
    for name, value in fields.items():
        setattr(twin, name, value)
    return twin


def _ink(data: bytes, style: _native.TextStyle) -> Optional[Tuple[int, int, int, int]]:
    """(left, top, right, bottom) of what the text paints in style, from the
    layout box's top-left, right and bottom exclusive; None for no ink. The
    text is drawn opaque on a transparent canvas with room around its box for
    overhanging glyphs, the outline, the shadow and the box, and the canvas's
    alpha is searched with bytes methods (the work runs in C, not row by row
    in Python, but for the span of inked rows)."""
    style = _variant(style, opacity=1.0, color=_native.Color(255, 255, 255, 255))
    metrics = _native.new_metrics()
    _checks.check(lib.imgtext_measure_text(data, len(data), ctypes.byref(style), ctypes.byref(metrics), None, 0))
    room = metrics.line_height + math.ceil(style.stroke_width) + 2
    if style.box:
        room += max(style.padding, 0)
    if style.shadow:
        room += abs(style.shadow_dx) + abs(style.shadow_dy) + math.ceil(4 * style.shadow_blur)
    width = metrics.width + 2 * room
    canvas = Image.new(width, metrics.height + 2 * room)
    _checks.check(lib.imgtext_draw_text(canvas._handle, data, len(data), room, room, 0, ctypes.byref(style), None))
    alpha = canvas.tobytes()[3::4]
    before = len(alpha) - len(alpha.lstrip(b"\0"))
    if before == len(alpha):
        return None
    top, bottom = before // width, (len(alpha.rstrip(b"\0")) - 1) // width + 1
    left, right = width, 0
    for row in range(top, bottom):
        line = alpha[row * width:(row + 1) * width]
        stripped = line.rstrip(b"\0")
        if stripped:
            left, right = min(left, len(stripped) - len(stripped.lstrip(b"\0"))), max(right, len(stripped))
    return (left - room, top - room, right - room, bottom - room)


def _anchor(anchor: str, data: bytes, style: _native.TextStyle) -> Tuple[int, int]:
    """(the library's position, pixels to raise y by) for a Pillow anchor or a
    position's name. Baseline and ink anchors place the box's top row: s
    lowers it by the ascent, t and b by where the ink's top or bottom is."""
    if not isinstance(anchor, str):
        raise TypeError(f"anchor must be a str, not {type(anchor).__name__}")
    if len(anchor) == 2 and anchor[0] in _PIL_COLUMNS and anchor[1] in "amdstb":
        column = _PIL_COLUMNS[anchor[0]]
        if anchor[1] in _PIL_ROWS:
            return _PIL_ROWS[anchor[1]] * 3 + column, 0
        metrics = _native.new_metrics()
        _checks.check(lib.imgtext_measure_text(data, len(data), ctypes.byref(style), ctypes.byref(metrics), None, 0))
        if anchor[1] == "s":
            return column, metrics.ascent
        if metrics.line_count > 1:
            raise ValueError(f"anchor {anchor!r} is for single-line text, as in Pillow (\"anchor not supported for "
                             f"multiline text\"): use {anchor[0]}a or {anchor[0]}d for the box's top or bottom")
        ink = _ink(data, _variant(style, stroke_width=0.0, shadow=0, box=0))
        if ink is None:
            return column, 0 if anchor[1] == "t" else metrics.height
        return column, ink[1] if anchor[1] == "t" else ink[3]
    return _position(anchor, "anchor"), 0


def _c_half(value: int) -> int:
    """value / 2 truncated toward zero, as the library's C halves."""
    return value // 2 if value >= 0 else -((-value) // 2)


@dataclass
class _Placed:
    """Text and style with where draw_text puts it: by gravity, or with the
    box's position point at (x, y)."""

    data: bytes
    style: _native.TextStyle
    by_gravity: bool
    position: int
    x: int
    y: int
    margin: int

    def draw(self, handle: int) -> _native.TextMetrics:
        metrics = _native.new_metrics()
        if self.by_gravity:
            _checks.check(lib.imgtext_draw_text_gravity(handle, self.data, len(self.data), self.position, self.margin,
                                                        ctypes.byref(self.style), ctypes.byref(metrics)))
        else:
            _checks.check(lib.imgtext_draw_text(handle, self.data, len(self.data), self.x, self.y, self.position,
                                                ctypes.byref(self.style), ctypes.byref(metrics)))
        return metrics

    def layout_box(self, image_width: int, image_height: int) -> Tuple[int, int, int, int]:
        """(left, top, width, height) of the box, placed as the library places it."""
        metrics = _native.new_metrics()
        _checks.check(lib.imgtext_measure_text(self.data, len(self.data), ctypes.byref(self.style),
                                               ctypes.byref(metrics), None, 0))
        w, h = metrics.width, metrics.height

        def along(index: int, anchor: int, outer: int, inner: int) -> int:
            if self.by_gravity:
                return (self.margin, _c_half(outer - inner), outer - self.margin - inner)[index]
            return (anchor, anchor - inner // 2, anchor - inner)[index]

        return (along(self.position % 3, self.x, image_width, w), along(self.position // 3, self.y, image_height, h),
                w, h)


class Image:
    """An RGBA picture in memory (straight alpha, 8 bits a channel).

    Make one with Image.open, Image.new, Image.from_array or Image.from_pil.
    ``numpy.asarray(image)`` is a (height, width, 4) uint8 view of the pixels,
    not a copy; ``image.pixels`` is the same as a memoryview.
    """

    def __init__(self, handle: int, owner: Any = None, kept: Optional[Tuple[int, bool]] = None) -> None:
        """Internal: takes over a library image handle (and keeps owner alive).
        No other Image may hold the handle: each frees its own."""
        self._handle = handle
        self._owner = owner  # the array whose memory a wrapped image draws into
        # A copy's (format code, damaged), the original's: the library's copy
        # of the pixels is a canvas, with neither.
        self._kept = kept

    def __del__(self) -> None:
        if getattr(self, "_handle", None) and lib is not None:
            lib.imgtext_image_free(self._handle)
        self._handle = None

    # ---- making images

    @classmethod
    def open(cls, source: ImageSource, *, max_pixels: Optional[int] = _native.DEFAULT_MAX_PIXELS,
             auto_orient: bool = True, threads: int = 1, allow_damaged: bool = False,
             max_input_bytes: Optional[int] = _native.DEFAULT_MAX_INPUT_BYTES) -> "Image":
        """Decode a picture (PNG, JPEG, BMP, GIF, TGA, PSD, PIC, PNM, HDR) from a
        path, from its bytes, or from a binary file object. Pictures whose
        header claims more than max_pixels are refused before decoding, and
        input of more than max_input_bytes (default 512 MiB) unread: a file
        object is read no further than one byte past it. None is no limit
        but the decoders' own (2 GiB of input); a limit is otherwise 1 to
        2**64 - 1 (ValueError below, OverflowError above), so 0 is refused.

        A picture whose data ends before the picture does (a file cut short)
        raises DecodeError, "cannot decode image ... (truncated: ...)", unless
        ``allow_damaged=True``: then it loads, its missing part as the
        decoder fills it (zeros), and ``damaged`` is True. (Pillow's
        ImageFile.LOAD_TRUNCATED_IMAGES, per call.)

        A JPEG is turned upright by its EXIF orientation, so that positions,
        anchors, gravity and ``size`` are those of the picture as viewers
        show it; a missing or damaged EXIF block turns nothing.
        ``auto_orient=False`` keeps the pixels as stored. A JPEG's colour
        profile, resolution and EXIF stay with the image for save().
        ``threads=2`` decodes a large baseline JPEG on two threads (the same
        pixels, faster where a core is free); other pictures ignore it."""
        options = _native.new_options(_native.LoadOptions, lib.imgtext_load_options_init)
        options.max_pixels = _checks.limit(max_pixels, "max_pixels")
        options.max_input_bytes = _checks.limit(max_input_bytes, "max_input_bytes")
        options.auto_orient = 1 if auto_orient else 0
        options.threads = _checks.c_int(threads, "threads")
        options.allow_damaged = 1 if allow_damaged else 0
        handle = ctypes.c_void_p()
        data = _read_source(source, (options.max_input_bytes or _DECODER_BYTES) + 1)
        if data is not None:
            _checks.check(lib.imgtext_image_load_memory(data, len(data), ctypes.byref(options), ctypes.byref(handle)))
        else:
            where = _checks.path(source)  # type: ignore[arg-type]
            _checks.check(lib.imgtext_image_load(where, ctypes.byref(options), ctypes.byref(handle)), where)
        return cls(handle.value)

    @classmethod
    def new(cls, width: int, height: int, color: Color = (0, 0, 0, 0)) -> "Image":
        """A width x height picture filled with color (default transparent black)."""
        handle = ctypes.c_void_p()
        _checks.check(lib.imgtext_image_create(_checks.c_int(width, "width"), _checks.c_int(height, "height"),
                                               _checks.native_color(color, "color"), ctypes.byref(handle)))
        return cls(handle.value)

    @classmethod
    def from_array(cls, array: Any, *, copy: bool = False) -> "Image":
        """A picture drawn into a numpy array of uint8, in place: a writable
        (height, width, 4) RGBA array whose pixels are packed (rows may be
        further apart, as in a slice of a wider array). Drawing on the image
        changes the array.

        Any other array, (height, width, 3) RGB, (height, width) grey,
        read-only or with its channels apart, cannot be drawn into, and is
        refused with a message saying so, unless ``copy=True``: then it is
        converted into a new RGBA array (this needs numpy) that the image
        draws into, and the original is left as it was."""
        interface = getattr(array, "__array_interface__", None)
        if interface is None:
            raise TypeError(f"from_array needs a numpy array (or an object with __array_interface__), "
                            f"not {type(array).__name__}")
        shape, strides = tuple(interface["shape"]), interface.get("strides")
        if interface["typestr"] not in ("|u1", "<u1", ">u1") or len(shape) not in (2, 3) or shape[2:] not in (
                (), (3,), (4,)):
            raise ValueError(f"from_array takes uint8 arrays of (height, width[, 3 or 4]), "
                             f"not {interface['typestr']} of shape {shape}")
        address, readonly = interface["data"]
        packed = strides is None or (strides[1] == 4 and strides[2] == 1 and strides[0] >= shape[1] * 4)
        if copy:
            import numpy  # only here: converting needs it, wrapping does not

            source = numpy.asarray(array)
            rgba = numpy.empty(source.shape[:2] + (4,), numpy.uint8)
            rgba[..., :3] = source[..., :3] if source.ndim == 3 and source.shape[2] >= 3 else source.reshape(
                source.shape[:2] + (1,))[..., :1]
            rgba[..., 3] = source[..., 3] if source.ndim == 3 and source.shape[2] == 4 else 255
            return cls.from_array(rgba)
        if len(shape) != 3 or shape[2] != 4 or readonly or not packed:
            what = ("a read-only array" if readonly and shape[2:] == (4,) else "an RGBA array with its channels apart"
                    if shape[2:] == (4,) else f"a {'grey' if len(shape) == 2 else 'RGB'} array of shape {shape}")
            raise ValueError(f"from_array draws into the array itself, which needs a writable, packed (height, "
                             f"width, 4) RGBA array, and this is {what}: pass an RGBA array, or copy=True to draw "
                             f"on a converted copy")
        height, width = shape[0], shape[1]
        stride = strides[0] if strides else width * 4
        handle = ctypes.c_void_p()
        _checks.check(lib.imgtext_image_wrap(address, _checks.c_int(width, "width"), _checks.c_int(height, "height"),
                                             stride, ctypes.byref(handle)))
        return cls(handle.value, owner=array)

    @classmethod
    def from_pil(cls, picture: Any) -> "Image":
        """A copy of a Pillow image, converted to RGBA."""
        if picture.mode != "RGBA":
            picture = picture.convert("RGBA")
        data = picture.tobytes()
        width, height = picture.size
        handle = ctypes.c_void_p()
        _checks.check(lib.imgtext_image_copy(data, width, height, width * 4, ctypes.byref(handle)))
        return cls(handle.value)

    def to_pil(self) -> Any:
        """A Pillow RGBA image with a copy of the pixels (needs Pillow)."""
        from PIL import Image as PILImage

        return PILImage.frombytes("RGBA", self.size, self.tobytes())

    def copy(self) -> "Image":
        """A new image with its own copy of the pixels, and the same format and
        damaged. copy.copy and copy.deepcopy make the same. A JPEG's colour
        profile, resolution and EXIF are not copied (the library gives no
        access to them), so the copy saves without them."""
        handle = ctypes.c_void_p()
        data = ctypes.string_at(self._pixels(), self._span())
        _checks.check(lib.imgtext_image_copy(data, self.width, self.height, self.stride, ctypes.byref(handle)))
        return Image(handle.value, kept=(self._format_code(), self.damaged))

    __copy__ = copy

    def __deepcopy__(self, memo: Dict[int, Any]) -> "Image":
        return self.copy()

    def __reduce__(self) -> Any:
        # By content, as copy() copies: a handle is a pointer into this
        # process. A loaded JPEG's ICC profile, resolution and EXIF stay
        # behind: the C API has no call that reads them back.
        return (_image_from_pickle, (self.width, self.height, self.format, self.damaged, self.tobytes()))

    # ---- looking at it

    @property
    def width(self) -> int:
        return lib.imgtext_image_width(self._handle)

    @property
    def height(self) -> int:
        return lib.imgtext_image_height(self._handle)

    @property
    def size(self) -> Tuple[int, int]:
        """(width, height), as Pillow gives it."""
        return (self.width, self.height)

    @property
    def stride(self) -> int:
        """Bytes from one row to the next (width * 4 unless wrapping an array)."""
        return lib.imgtext_image_stride(self._handle)

    @property
    def format(self) -> Optional[str]:
        """'JPEG', 'PNG' or 'BMP' for a picture decoded from one (or a copy of
        it), else None."""
        return _FORMAT_NAMES.get(self._format_code())

    def _format_code(self) -> int:
        return self._kept[0] if self._kept else lib.imgtext_image_format(self._handle)

    @property
    def damaged(self) -> bool:
        """True for a picture opened with ``allow_damaged=True`` whose data ended
        before the picture did (or a copy of one), else False."""
        if self._kept:
            return self._kept[1]
        return lib.imgtext_image_damage(self._handle) != _native.DAMAGE_NONE

    def _pixels(self) -> int:
        return lib.imgtext_image_pixels(self._handle)

    def _span(self) -> int:
        """Bytes from the first pixel to the last: a wrapped view into a wider
        array owns no memory past its last row's last pixel."""
        return self.stride * (self.height - 1) + self.width * 4

    @property
    def __array_interface__(self) -> Dict[str, Any]:
        return {"version": 3, "shape": (self.height, self.width, 4), "typestr": "|u1",
                "data": (self._pixels(), False), "strides": (self.stride, 4, 1)}

    @property
    def pixels(self) -> memoryview:
        """The pixels in place, as a writable memoryview that keeps the image
        alive: shaped (height, width, 4) when rows are packed; otherwise flat,
        with rows ``stride`` bytes apart."""

        class _Rows(ctypes.c_uint8 * self._span()):
            pass

        rows = _Rows.from_address(self._pixels())
        rows.image = self  # the memory is the image's
        flat = memoryview(rows).cast("B")
        return flat.cast("B", (self.height, self.width, 4)) if self.stride == self.width * 4 else flat

    def __buffer__(self, flags: int) -> memoryview:  # memoryview(image), from Python 3.12
        return self.pixels

    def tobytes(self) -> bytes:
        """The pixels as packed RGBA rows (a copy)."""
        data = ctypes.string_at(self._pixels(), self._span())
        row = self.width * 4
        if self.stride == row:
            return data
        return b"".join(data[y * self.stride:y * self.stride + row] for y in range(self.height))

    # ---- drawing

    def draw_text(self, xy_or_text: Any = None, /, text: Optional[Text] = None, fill: Optional[Color] = None,
                  font: Optional[Font] = None, anchor: Optional[str] = None, *,
                  xy: Optional[Tuple[float, float]] = None, align: Optional[str] = None,
                  size: Optional[float] = None, font_size: Optional[float] = None, line_spacing: float = 1.0,
                  spacing: Optional[int] = None, max_width: Optional[int] = None, opacity: float = 1.0,
                  box: Optional[Color] = None, padding: int = 0, gravity: Optional[str] = None, margin: int = 0,
                  fallback: Optional[Font] = None, stroke_width: float = 0.0, stroke_fill: Optional[Color] = None,
                  shadow: Optional[Shadow] = None, shadow_fill: Optional[Color] = None, box_radius: float = 0.0,
                  features: Any = None, language: Optional[str] = None, direction: Optional[str] = None,
                  layout: Optional[str] = None, embedded_color: bool = True, variations: Any = None,
                  rotate: Any = None, tile: Any = None, fit: Optional[Tuple[int, int]] = None,
                  min_size: Optional[float] = None, max_size: Optional[float] = None, letter_spacing: float = 0.0,
                  wrap: Optional[str] = None, max_lines: Optional[int] = None) -> TextMetrics:
        """Draw UTF-8 text, placed at a point or by gravity; returns its box.

        The calling forms, each tested:

        - ``draw_text((x, y), text, fill, font, anchor)``: Pillow's order, any
          of them by keyword (``draw_text(xy=(x, y), text="Hi")``);
        - ``draw_text(text, xy=(x, y))``: the text first;
        - ``draw_text(text, gravity="bottom-right", margin=16)`` (or
          ``text=text``): the box margin pixels inside the named edges,
          centred on an axis the name leaves free.

        At a point, the anchor point of the text is put at (x, y). x and y may
        be floats, rounded to the nearest pixel with a half going down, where
        Pillow 9 puts text (Pillow renders the horizontal fraction; this
        library draws on whole pixels). anchor is Pillow's two letters
        (default "la"): horizontal l, m, r (the box's left, middle, right);
        vertical a (the first line's ascender, the box's top), m (the box's
        middle), s (the first line's baseline), d (the last line's
        descender, the box's bottom), and, for single-line text only as in
        Pillow, t and b: the top and bottom of the glyphs' ink (the outline
        not counted). It may also be a name: top-left, top, ..., bottom-right.

        fill: a CSS colour name ("white", "red": Pillow's ImageColor names),
        "#RRGGBB", "#RGB", "#RRGGBBAA" or an (r, g, b[, a]) tuple (default
        white). align: "left", "center" or "right", each line
        within the box. size / font_size / line_spacing / max_width: as for
        measure(); ``spacing`` adds pixels between lines, as Pillow's does
        (default 0 here, not Pillow's 4), instead of the ``line_spacing``
        factor. opacity: 0..1.
        box: a colour to fill the text box with (translucent allowed), grown
        by padding pixels; box_radius rounds its corners (pixels, 0..1e6).
        fallback: a font for characters ``font`` lacks. font may also be a
        list of Fonts, a chain: each character cluster is drawn in the first
        that has all of it.

        World text (see the header's imgtext_text_style): other fonts than the
        built-in one are shaped with HarfBuzz, with bidi and Unicode line
        breaking. features: OpenType features as Pillow takes them
        (["-liga", "smcp", "ss01=1"]); language: a BCP 47 tag ("sr", "tr");
        direction: "ltr" or "rtl" (default: each paragraph's first strong
        character); layout: "auto" (default), "simple" or "shaped". align
        also takes "start" and "end", which follow the paragraph's direction.
        variations: a variable font's axis values, {"wght": 700, "wdth": 85}
        or "wght=700,wdth=85", or the name of a named instance ("Bold").

        rotate: degrees counterclockwise: the text, its box, outline and
        shadow turn about the anchor (by gravity, the turned box's bounding
        box is placed); the returned box is that bounding box. tile:
        (step_x, step_y) or (step_x, step_y, row_offset) repeats the text
        over the whole picture on a grid turned with it, steps in pixels
        along and across the lines (8..1000000, 0 for twice the text's width
        or height), each row shifted row_offset along the lines.

        stroke_width: an outline this many pixels beyond the glyphs (0..256,
        fractions allowed; 0, the default, draws none), one seamless outline
        around the whole text, under the fill; stroke_fill is its colour
        (default black), as Pillow names them. shadow: (dx, dy) or (dx, dy,
        blur), a shadow of the text (and outline) dx pixels right and dy down,
        blurred with that standard deviation (0..256, default 2); shadow_fill
        is its colour (default black at alpha 160). The text colour's alpha
        and opacity apply to outline and shadow too. Neither moves the text's
        box, which placement and the returned metrics describe: leave a
        margin for them.

        embedded_color: Pillow's keyword, but on by default: True draws
        colour glyphs (emoji in CBDT, sbix or COLRv0 fonts) in their own
        colours, fill's alpha and opacity applying; False draws their
        outlines in fill, or nothing (counted in missing_glyphs) from a font
        of bitmaps alone.
        A text box (see the header's imgtext_text_style): fit=(width, height)
        draws at the largest size (a multiple of 1/64) at which all the text
        fits that box, wrapping at its width (0 leaves a side free), between
        min_size and max_size (default 1 and 100000); the metrics' text_size
        says which. Nothing fitting raises, unless min_size is given: then
        the text is drawn at it, cut by max_lines. letter_spacing: pixels
        added between characters after kerning (negative allowed), never
        inside a cluster or a joined Arabic word. wrap: "word" (default), "character"
        (at any cluster) or "none". max_lines: lines past it are cut, the
        last ending in an ellipsis that fits the width (metrics' truncated).
        align="justify" widens every line but a paragraph's last to the box
        at its word spaces (no kashida).

        Text is drawn with its length, so a NUL is not an end: like any
        character no font has, it is drawn as the missing glyph (nothing
        visible in the built-in font) and counted in missing_glyphs.
        """
        arguments = {name: value for name, value in locals().items() if name != "self"}
        return _metrics(_placement_of(**arguments).draw(self._handle))

    def textbbox(self, xy_or_text: Any = None, /, text: Optional[Text] = None, font: Optional[Font] = None,
                 anchor: Optional[str] = None, **options: Any) -> Tuple[int, int, int, int]:
        """(left, top, right, bottom) of the ink that draw_text with the same
        arguments would put on this picture: every pixel it would paint,
        the outline (stroke_width) included, as Pillow's textbbox includes
        it, and the shadow and box when given. right and bottom are one past
        the last inked pixel, as in Pillow. Text with no ink (spaces) gives
        an empty box at the layout box's top-left. The picture is not
        changed; options are draw_text's keywords (fill and opacity aside,
        which change no pixel's place). See text_layout_box for the box
        that anchors and gravity place."""
        placed = self._placed(xy_or_text, text, options.pop("xy", None), anchor, options.pop("gravity", None),
                              options.pop("margin", 0), _style_options(font, options))
        left, top, width, height = placed.layout_box(self.width, self.height)
        ink = _ink(placed.data, placed.style)
        if ink is None:
            return (left, top, left, top)
        return (left + ink[0], top + ink[1], left + ink[2], top + ink[3])

    multiline_textbbox = textbbox  # Pillow's name for text with line breaks: the same here

    def text_layout_box(self, xy_or_text: Any = None, /, text: Optional[Text] = None, font: Optional[Font] = None,
                        anchor: Optional[str] = None, **options: Any) -> Tuple[int, int, int, int]:
        """(left, top, right, bottom) of the layout box draw_text would place:
        the lines' advance widths by the line pitch, the box the metrics it
        returns describe. Glyphs may ink past it (italics, accents, an
        outline); textbbox gives the ink. Arguments as for textbbox."""
        placed = self._placed(xy_or_text, text, options.pop("xy", None), anchor, options.pop("gravity", None),
                              options.pop("margin", 0), _style_options(font, options))
        left, top, width, height = placed.layout_box(self.width, self.height)
        return (left, top, left + width, top + height)

    def textlength(self, text: Text, font: Optional[Font] = None, **options: Any) -> float:
        """Pillow's ImageDraw.textlength: the module function textlength()."""
        return textlength(text, font, **options)

    def _placed(self, first: Any, text: Optional[Text], xy: Any, anchor: Optional[str], gravity: Optional[str],
                margin: int, style_options: Dict[str, Any]) -> "_Placed":
        return _place(first, text, xy, anchor, gravity, margin, style_options)

    # ---- writing

    def _save_options(self, format_code: int, quality: Optional[int], keep_exif: bool,
                      drop_metadata: bool = False) -> _native.SaveOptions:
        options = _native.new_options(_native.SaveOptions, lib.imgtext_save_options_init)
        # Resolved here, not by the library: a copy knows its format, its handle does not.
        resolved = format_code or self._format_code() or _native.FORMAT_PNG
        options.format = resolved
        for name, given in (("quality", quality is not None), ("keep_exif", keep_exif)):
            if given and resolved != _native.FORMAT_JPEG:
                raise ValueError(f"{name} is for JPEG, and this would be {_FORMAT_NAMES[resolved]}")
        if quality is not None:
            options.jpeg_quality = _checks.c_int(quality, "quality")
        if keep_exif and drop_metadata:
            raise ValueError("keep_exif=True keeps EXIF and drop_metadata=True drops it: give one")
        options.keep_exif = 1 if keep_exif else 0
        options.drop_metadata = 1 if drop_metadata else 0
        return options

    def save(self, fp: Union[Path, BinaryIO], format: Optional[str] = None, quality: Optional[int] = None, *,
             keep_exif: bool = False, drop_metadata: bool = False) -> None:
        """Write the picture to a path or a binary file object.

        format is 'png', 'jpeg' or 'bmp'; by default a path's extension
        (.png, .jpg, .jpeg, .bmp) chooses, and a name with no extension (or a
        file object) gets the format the picture was read from, else PNG. An
        extension that is none of these is refused rather than written with
        other bytes. quality (1..100, default 92) is for JPEG only. A path is
        written to a temporary file renamed into place, so a failure leaves
        any earlier file intact.

        A picture read from a JPEG keeps its colour profile and resolution in
        JPEG and PNG output. Its EXIF block is written only with
        ``keep_exif=True`` (JPEG output only; its orientation is 1 if open()
        turned the pixels), since EXIF may hold where the photo was taken.
        ``drop_metadata=True`` writes none of them: the file is as a new
        canvas's would be."""
        code = _format_code(format)
        if hasattr(fp, "write"):
            fp.write(self.encode(format, quality, keep_exif=keep_exif,  # type: ignore[union-attr]
                                 drop_metadata=drop_metadata))
            return
        where = _checks.path(fp, "fp")  # type: ignore[arg-type]
        if code == _native.FORMAT_AUTO:
            extension = os.path.splitext(os.path.basename(where))[1][1:].decode("utf-8", "replace")
            if extension:
                code = _format_code(extension) if extension.lower() in _FORMATS else -1
                if code < 0:
                    raise ValueError(f"unknown file extension .{extension}: give format='png', 'jpeg' or 'bmp'")
        options = self._save_options(code, quality, keep_exif, drop_metadata)
        _checks.check(lib.imgtext_image_save(self._handle, where, ctypes.byref(options)))

    def encode(self, format: Optional[str] = None, quality: Optional[int] = None, *, keep_exif: bool = False,
               drop_metadata: bool = False) -> bytes:
        """The picture encoded as 'png', 'jpeg' or 'bmp' (default: the format it
        was read from, else PNG); quality, keep_exif and drop_metadata as for
        save()."""
        options = self._save_options(_format_code(format), quality, keep_exif, drop_metadata)
        data, size = ctypes.c_void_p(), ctypes.c_size_t()
        _checks.check(lib.imgtext_image_encode(self._handle, ctypes.byref(options), ctypes.byref(data),
                                               ctypes.byref(size)))
        try:
            return ctypes.string_at(data.value, size.value)
        finally:
            lib.imgtext_free(data)

    def __repr__(self) -> str:
        return f"<quendal_imgtext.Image {self.width}x{self.height}{' ' + self.format if self.format else ''}>"


def _place(first: Any, text: Optional[Text], xy: Any, anchor: Optional[str], gravity: Optional[str], margin: int,
           style_options: Dict[str, Any]) -> _Placed:
    """The text, style and placement of draw_text's calling forms; no picture is needed."""
    if isinstance(first, (str, bytes, bytearray)):
        if text is not None:
            raise TypeError("text given twice: as the first argument and as text=")
        first, text = None, first
    if first is not None and xy is not None:
        raise TypeError("xy given twice: as the first argument and as xy=")
    xy = first if first is not None else xy
    if text is None:
        raise TypeError("draw_text needs text")
    data = _checks.text(text)
    placement = {name: style_options.pop(name) for name in ("rotate", "tile") if name in style_options}
    style = _style(**style_options)
    _placement(style, **placement)
    if gravity is not None:
        if xy is not None or anchor is not None:
            raise ValueError("give gravity, or xy with an anchor, not both")
        return _Placed(data, style, True, _position(gravity, "gravity"), 0, 0, _checks.c_int(margin, "margin"))
    if xy is None:
        raise TypeError("draw_text needs xy, or gravity=")
    try:
        x, y = xy
    except (TypeError, ValueError):
        raise TypeError(f"xy must be an (x, y) pair, not {xy!r}") from None
    x, y = _coordinate(x, "x"), _coordinate(y, "y")
    position, above = _anchor(anchor or "la", data, style)
    return _Placed(data, style, False, position, x, _checks.c_int(y - above, "y"), 0)


def _placement_of(xy_or_text: Any, text: Optional[Text], fill: Optional[Color], font: Optional[Font],
                  anchor: Optional[str], xy: Any, align: Optional[str], size: Optional[float],
                  font_size: Optional[float], line_spacing: float, spacing: Optional[int], max_width: Optional[int],
                  opacity: float, box: Optional[Color], padding: int, gravity: Optional[str], margin: int,
                  fallback: Optional[Font], stroke_width: float, stroke_fill: Optional[Color], shadow: Optional[Shadow],
                  shadow_fill: Optional[Color], box_radius: float, features: Any, language: Optional[str],
                  direction: Optional[str], layout: Optional[str], embedded_color: bool, variations: Any,
                  rotate: Any, tile: Any, fit: Optional[Tuple[int, int]], min_size: Optional[float],
                  max_size: Optional[float], letter_spacing: float, wrap: Optional[str],
                  max_lines: Optional[int]) -> _Placed:
    """What draw_text with these arguments draws, and where."""
    return _place(xy_or_text, text, xy, anchor, gravity, margin, dict(
        font=font, fallback=fallback, size=size, font_size=font_size, line_spacing=line_spacing, align=align,
        max_width=max_width, fill=fill, opacity=opacity, box=box, padding=padding, stroke_width=stroke_width,
        stroke_fill=stroke_fill, shadow=shadow, shadow_fill=shadow_fill, box_radius=box_radius,
        world=dict(features=features, language=language, direction=direction, layout=layout, variations=variations),
        spacing=spacing, embedded_color=embedded_color, rotate=rotate, tile=tile,
        fitting=dict(fit=fit, min_size=min_size, max_size=max_size, letter_spacing=letter_spacing, wrap=wrap,
                     max_lines=max_lines)))


_DRAW_TEXT = inspect.signature(Image.draw_text)


def draw_text_placement(*args: Any, **keywords: Any) -> _Placed:
    """Internal: what Image.draw_text(*args, **keywords) would draw, without a picture."""
    bound = _DRAW_TEXT.bind(None, *args, **keywords)
    bound.apply_defaults()
    arguments = dict(bound.arguments)
    arguments.pop("self")
    return _placement_of(**arguments)


def draw_in_passing(data: bytes, placed: _Placed, load: _native.LoadOptions,
                    save: _native.SaveOptions) -> Optional[bytes]:
    """Internal: the picture in ``data`` with the text drawn, encoded, in one
    library call (imgtext_draw_memory, which streams a JPEG to JPEG through
    in bands of rows); None if that call fails, for the caller to take the
    steps one by one and report what they report."""
    job = _native.TextJob()
    lib.imgtext_text_job_init(ctypes.byref(job))
    job.text, job.length, job.style = placed.data, len(placed.data), ctypes.addressof(placed.style)
    job.gravity, job.position, job.x, job.y, job.margin = (1 if placed.by_gravity else 0, placed.position, placed.x,
                                                          placed.y, placed.margin)
    out, size = ctypes.c_void_p(), ctypes.c_size_t()
    if lib.imgtext_draw_memory(data, len(data), ctypes.byref(job), 1, ctypes.byref(load), ctypes.byref(save),
                               ctypes.byref(out), ctypes.byref(size)) != 0:
        return None
    try:
        return ctypes.string_at(out.value, size.value)
    finally:
        lib.imgtext_free(out)


def _image_from_pickle(width: int, height: int, format: Optional[str], damaged: bool, pixels: bytes) -> Image:
    """The Image that Image.__reduce__ described. A pickle may hold anything:
    the pixels must be exactly the packed rows the size says."""
    width, height = _checks.c_int(width, "width"), _checks.c_int(height, "height")
    if not isinstance(pixels, bytes) or width < 1 or height < 1 or len(pixels) != width * height * 4:
        raise ValueError(f"an image pickle's pixels must be {width} x {height} x 4 bytes")
    codes = {name: code for code, name in _FORMAT_NAMES.items()}
    if format is not None and format not in codes:
        raise ValueError(f"an image pickle's format must be one of {', '.join(codes)} or None, not {format!r}")
    handle = ctypes.c_void_p()
    _checks.check(lib.imgtext_image_copy(pixels, width, height, width * 4, ctypes.byref(handle)))
    return Image(handle.value, kept=(codes.get(format, _native.FORMAT_AUTO), bool(damaged)))
