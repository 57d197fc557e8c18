"""Pure functions for pipelines that watermark many pictures (Dask, Spark, Ray).

``watermark(data, text, **style)`` takes one picture's encoded bytes and
returns the watermarked picture's bytes. Its options are plain values (a
font is a path, a colour a name or a tuple), so a task that calls it
pickles small, and it keeps no state between calls but a cache of the
fonts it has read, so the same call gives the same bytes on every worker,
in a loop or in a cluster.

A picture that cannot be done is not an exception: it is a ``Failure``,
returned in place of the bytes, so one corrupt file among millions costs one
result and never the partition, the task or the job. ``raise_errors=True``
raises the library's exception (an ImgTextError subclass) instead::

    from quendal_imgtext import batch

    result = batch.watermark(jpeg_bytes, "(c) Quendal", font_size=28, fill="white")
    if isinstance(result, batch.Failure):
        print("skipped:", result.status, result.message)

What a Failure covers is the picture: data that is no picture the library
reads or is cut short ("decode"), one beyond max_pixels or max_input_bytes
("limit"), one too large for the output format or to encode ("limit",
"write"), and running out of memory for it ("memory"). Options that are
wrong for every picture alike (an unknown colour, size=0, a font file that
is missing or not a font) raise, whatever ``raise_errors`` says, since every
item would fail the same way: better that the job stops at once.

Every call runs its decoding, drawing and encoding in the library with the
GIL released, so threads of one worker process run in parallel.
"""

from __future__ import annotations

import functools
import os
from typing import Any, NamedTuple, Optional, Tuple, Union

from . import _checks, _native
from ._drawing import Font, Image, draw_in_passing, draw_text_placement
from ._native import lib

__all__ = ["Failure", "watermark"]


class Failure(NamedTuple):
    """The result of a picture watermark() could not do.

    ``status``: the library's short name of the failure, "decode", "limit",
    "write", "memory" (or "read"); ``message``: the library's message, such
    as "cannot decode image from memory (truncated: the data ends at row 12
    of 64)". A tuple, so it pickles, prints and compares as plain values."""

    status: str
    message: str


@functools.lru_cache(maxsize=16)
def _font(source: Union[str, bytes], index: int) -> Font:
    # Read once per process and shared by every call and thread (a Font is
    # immutable): parsing a font per picture would cost more than the text.
    return Font(source, index=index)


def _fonts(font: Any, index: int) -> Any:
    if font is None or isinstance(font, Font):
        return font
    if isinstance(font, (list, tuple)):
        return [_fonts(f, index) for f in font]
    if isinstance(font, os.PathLike):
        font = os.fspath(font)
    if isinstance(font, (str, bytes)):
        return _font(font, index)
    raise TypeError(f"font must be a path (str, bytes, os.PathLike), a Font or a list of them, "
                    f"not {type(font).__name__}")


_PICTURE_STATUSES = (_checks.STATUS_READ, _checks.STATUS_DECODE, _checks.STATUS_LIMIT, _checks.STATUS_WRITE,
                     _checks.STATUS_MEMORY)


def _streamed(data: bytes, text: bytes, xy: Any, anchor: Optional[str], gravity: Optional[str], margin: int,
              fonts: Any, format: Optional[str], quality: Optional[int], drop_metadata: bool,
              max_pixels: Optional[int], allow_damaged: bool, style: Any) -> Optional[bytes]:
    """A JPEG to JPEG watermark in one library call, which streams the
    picture through in bands of rows: a few megabytes for any photo. None
    where the result may not be a JPEG from a JPEG, or where anything fails:
    the steps one by one then give the result, or the failure, exactly."""
    if (format is not None and str(format).lower() not in ("jpeg", "jpg")) or data[:3] != b"\xff\xd8\xff":
        return None
    try:
        if xy is not None:
            placed = draw_text_placement(xy, text, font=fonts, anchor=anchor, **style)
        else:
            placed = draw_text_placement(text, font=fonts, gravity=gravity, margin=margin, **style)
        load = _native.new_options(_native.LoadOptions, lib.imgtext_load_options_init)
        load.max_pixels = _checks.limit(max_pixels, "max_pixels")
        load.allow_damaged = 1 if allow_damaged else 0
        save = _native.new_options(_native.SaveOptions, lib.imgtext_save_options_init)
        save.format = _native.FORMAT_JPEG
        if quality is not None:
            save.jpeg_quality = _checks.c_int(quality, "quality")
        save.drop_metadata = 1 if drop_metadata else 0
    except (TypeError, ValueError, OverflowError, _checks.ImgTextError):
        return None
    return draw_in_passing(data, placed, load, save)


def watermark(data: bytes, text: Union[str, bytes], *, xy: Optional[Tuple[float, float]] = None,
              anchor: Optional[str] = None, gravity: Optional[str] = "bottom-right", margin: int = 16,
              font: Any = None, font_index: int = 0, format: Optional[str] = None, quality: Optional[int] = None,
              drop_metadata: bool = False, max_pixels: Optional[int] = _native.DEFAULT_MAX_PIXELS,
              allow_damaged: bool = False, raise_errors: bool = False, **style: Any) -> Union[bytes, Failure]:
    """The picture in ``data`` (its encoded bytes: JPEG, PNG, BMP, ...) with
    ``text`` drawn on it, encoded again; or a Failure (see the module).

    Placement: by ``gravity`` (default "bottom-right") with ``margin``
    pixels (default 16), or at ``xy`` with ``anchor`` as Image.draw_text
    takes them. ``font``: a font file's path (read once per process), or a
    list of paths for a chain; default the built-in font; ``font_index``
    picks a font of a collection. Every other keyword is draw_text's: fill,
    size or font_size, opacity, stroke_width, stroke_fill, shadow, box,
    align, spacing, max_width, ...

    Output: ``format`` "jpeg", "png" or "bmp", default the input's own;
    ``quality`` for JPEG (default 92); ``drop_metadata`` writes no colour
    profile, resolution or EXIF. A JPEG is turned upright by its EXIF
    orientation first. ``max_pixels`` refuses pictures larger than that
    before decoding (a Failure, "limit"); ``allow_damaged`` draws on a
    picture cut short instead of failing it.
    """
    if not isinstance(data, (bytes, bytearray, memoryview)):
        raise TypeError(f"data must be the picture's bytes, not {type(data).__name__}")
    if isinstance(text, str):
        text = text.encode("utf-8", "surrogatepass")
    fonts = _fonts(font, _checks.c_int(font_index, "font_index"))
    streamed = _streamed(bytes(data), text, xy, anchor, gravity, margin, fonts, format, quality, drop_metadata,
                         max_pixels, allow_damaged, style)
    if streamed is not None:
        return streamed
    try:
        image = Image.open(bytes(data), max_pixels=max_pixels, allow_damaged=allow_damaged)
        if xy is not None:
            image.draw_text(xy, text, font=fonts, anchor=anchor, **style)
        else:
            image.draw_text(text, font=fonts, gravity=gravity, margin=margin, **style)
        return image.encode(format, quality, drop_metadata=drop_metadata)
    except _checks.ImgTextError as error:
        if raise_errors or error.status not in _PICTURE_STATUSES:
            raise
        return Failure(lib.imgtext_status_name(error.status).decode("ascii"), error.message)
