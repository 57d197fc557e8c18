"""Finding the shared library and declaring its functions for ctypes.

Both APIs are declared here; nothing else in the package touches ctypes
prototypes. ctypes releases the GIL around every call, so drawing-API calls
from different threads run in parallel.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
from typing import List, Tuple


def _library_names() -> List[str]:
    if sys.platform == "win32":
        return ["quendal-imgtext.dll"]
    if sys.platform == "darwin":
        return ["libquendal-imgtext.dylib", "libquendal-imgtext.0.dylib"]
    return ["libquendal-imgtext.so", "libquendal-imgtext.so.0"]


class LibraryNotFound(OSError):
    """The shared library could not be loaded."""


def _load() -> Tuple[ctypes.CDLL, str]:
    tried = []
    override = os.environ.get("QUENDAL_IMGTEXT_LIBRARY")
    if override:
        try:
            return ctypes.CDLL(override), override
        except OSError as error:
            raise LibraryNotFound(f"cannot load QUENDAL_IMGTEXT_LIBRARY={override}: {error}") from None
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
    raise LibraryNotFound("cannot find the quendal-imgtext library; looked for QUENDAL_IMGTEXT_LIBRARY, then "
                          + ", ".join(tried) + ". Set QUENDAL_IMGTEXT_LIBRARY to its path.")


lib, library_path = _load()

# ---- the header's types

FORMAT_AUTO, FORMAT_JPEG, FORMAT_PNG, FORMAT_BMP = 0, 1, 2, 3
SIZE_PIXEL_HEIGHT, SIZE_EM = 0, 1
DEFAULT_MAX_PIXELS = 178956970
DEFAULT_MAX_INPUT_BYTES = 512 * 1024 * 1024
DAMAGE_NONE, DAMAGE_TRUNCATED = 0, 1


class Color(ctypes.Structure):
    _fields_ = [("r", ctypes.c_uint8), ("g", ctypes.c_uint8), ("b", ctypes.c_uint8), ("a", ctypes.c_uint8)]


class LoadOptions(ctypes.Structure):
    _fields_ = [("struct_size", ctypes.c_size_t), ("max_pixels", ctypes.c_uint64), ("auto_orient", ctypes.c_int),
                ("reserved", ctypes.c_int),
                ("threads", ctypes.c_int), ("max_input_bytes", ctypes.c_uint64), ("allow_damaged", ctypes.c_int)]


class SaveOptions(ctypes.Structure):
    _fields_ = [("struct_size", ctypes.c_size_t), ("format", ctypes.c_int), ("jpeg_quality", ctypes.c_int),
                ("png_rgb_if_opaque", ctypes.c_int), ("keep_exif", ctypes.c_int), ("drop_metadata", ctypes.c_int)]


class TextStyle(ctypes.Structure):
    _fields_ = [("struct_size", ctypes.c_size_t), ("font", ctypes.c_void_p), ("fallback", ctypes.c_void_p),
                ("size", ctypes.c_float), ("size_unit", ctypes.c_int), ("line_spacing", ctypes.c_float),
                ("align", ctypes.c_int), ("max_width", ctypes.c_int), ("color", Color), ("opacity", ctypes.c_float),
                ("box", ctypes.c_int), ("box_color", Color), ("padding", ctypes.c_int),
                ("stroke_width", ctypes.c_float), ("stroke_color", Color), ("shadow", ctypes.c_int),
                ("shadow_dx", ctypes.c_int), ("shadow_dy", ctypes.c_int), ("shadow_blur", ctypes.c_float),
                ("shadow_color", Color), ("box_radius", ctypes.c_float),
                ("fallbacks", ctypes.POINTER(ctypes.c_void_p)), ("fallback_count", ctypes.c_size_t),
                ("layout", ctypes.c_int), ("direction", ctypes.c_int), ("features", ctypes.c_char_p),
                ("language", ctypes.c_char_p), ("color_glyphs", ctypes.c_int),
                ("variations", ctypes.c_char_p),
                ("rotation", ctypes.c_float), ("tile", ctypes.c_int), ("tile_step_x", ctypes.c_int),
                ("tile_step_y", ctypes.c_int), ("tile_row_offset", ctypes.c_int),
                ("wrap", ctypes.c_int), ("letter_spacing", ctypes.c_float), ("letter_spacing_unit", ctypes.c_int),
                ("line_height", ctypes.c_float), ("leading", ctypes.c_float), ("max_lines", ctypes.c_int),
                ("auto_size", ctypes.c_int), ("fit_width", ctypes.c_int), ("fit_height", ctypes.c_int),
                ("min_size", ctypes.c_float), ("max_size", ctypes.c_float)]


class TextJob(ctypes.Structure):
    _fields_ = [("struct_size", ctypes.c_size_t), ("text", ctypes.c_char_p), ("length", ctypes.c_size_t),
                ("style", ctypes.c_void_p), ("gravity", ctypes.c_int), ("position", ctypes.c_int),
                ("x", ctypes.c_int), ("y", ctypes.c_int), ("margin", ctypes.c_int)]


class TextMetrics(ctypes.Structure):
    _fields_ = [("struct_size", ctypes.c_size_t)] + [
        (name, ctypes.c_int) for name in ("x", "y", "width", "height", "line_count", "line_height", "ascent",
                                          "descent", "missing_glyphs")] + [
        ("size", ctypes.c_float), ("truncated", ctypes.c_int)]


# Option structs begin with their size and a newer library may know more
# fields than this package does. Letting the library's own _init fill a
# generous buffer gives those fields their defaults; this package then sets
# the leading fields it knows.
_OPTIONS_ROOM = 1024


def new_options(struct_type, init):
    buffer = ctypes.create_string_buffer(max(_OPTIONS_ROOM, ctypes.sizeof(struct_type)))
    init(buffer)
    options = struct_type.from_buffer(buffer)  # keeps buffer alive
    if options.struct_size > len(buffer) or options.struct_size < ctypes.sizeof(struct_type):
        raise RuntimeError(f"the library's {struct_type.__name__} ({options.struct_size} bytes) does not fit")
    return options


def new_metrics() -> TextMetrics:
    metrics = TextMetrics()
    metrics.struct_size = ctypes.sizeof(TextMetrics)
    return metrics


# ---- prototypes

_int, _str, _ptr, _size = ctypes.c_int, ctypes.c_char_p, ctypes.c_void_p, ctypes.c_size_t
_out_ptr = ctypes.POINTER(ctypes.c_void_p)


def _declare(name, restype, *argtypes):
    function = getattr(lib, name)
    function.restype = restype
    function.argtypes = list(argtypes)


# The seven calls.
_declare("imgtext_init", _int)
_declare("imgtext_cleanup", None)
_declare("imgtext_last_error", _str)
_declare("imgtext_create", _int, _str, _str, *[_int] * 9)
_declare("imgtext_add", _int, _str, _str, _str, *[_int] * 6, ctypes.c_float)
_declare("imgtext_add_boxed", _int, _str, _str, _str, *[_int] * 10)
_declare("imgtext_centered", _int, _str, _str, _str, *[_int] * 4)

# The drawing API.
_declare("imgtext_error_message", _str)
_declare("imgtext_status_name", _str, _int)
_declare("imgtext_version", _str)
_declare("imgtext_load_options_init", None, _ptr)
_declare("imgtext_save_options_init", None, _ptr)
_declare("imgtext_text_style_init", None, _ptr)
_declare("imgtext_image_create", _int, _int, _int, Color, _out_ptr)
_declare("imgtext_image_load", _int, _str, _ptr, _out_ptr)
_declare("imgtext_image_load_memory", _int, _str, _size, _ptr, _out_ptr)
_declare("imgtext_image_wrap", _int, _ptr, _int, _int, _size, _out_ptr)
_declare("imgtext_image_copy", _int, _str, _int, _int, _size, _out_ptr)
_declare("imgtext_image_free", None, _ptr)
_declare("imgtext_image_width", _int, _ptr)
_declare("imgtext_image_height", _int, _ptr)
_declare("imgtext_image_stride", _size, _ptr)
_declare("imgtext_image_pixels", _ptr, _ptr)
_declare("imgtext_image_format", _int, _ptr)
_declare("imgtext_image_damage", _int, _ptr)
_declare("imgtext_image_save", _int, _ptr, _str, _ptr)
_declare("imgtext_image_encode", _int, _ptr, _ptr, _out_ptr, ctypes.POINTER(_size))
_declare("imgtext_free", None, _ptr)
_declare("imgtext_font_builtin", _ptr)
_declare("imgtext_font_load", _int, _str, _int, _out_ptr)
_declare("imgtext_font_load_memory", _int, _str, _size, _int, _out_ptr)
_declare("imgtext_font_free", None, _ptr)
_declare("imgtext_measure_text", _int, _str, _size, _ptr, _ptr, ctypes.POINTER(_int), _size)
_declare("imgtext_draw_text", _int, _ptr, _str, _size, _int, _int, _int, _ptr, _ptr)
_declare("imgtext_draw_text_gravity", _int, _ptr, _str, _size, _int, _int, _ptr, _ptr)
_declare("imgtext_text_job_init", None, _ptr)
_declare("imgtext_draw_memory", _int, _str, _size, _ptr, _size, _ptr, _ptr, _out_ptr, ctypes.POINTER(_size))
