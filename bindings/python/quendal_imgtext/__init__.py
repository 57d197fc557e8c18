"""Write text onto raster images: Python bindings for quendal-imgtext.

Sizes: ``size`` is the text's pixel height from ascender to descender (the
seven calls' size, default 24); ``font_size`` is the em size, what Pillow's
ImageFont.truetype(size=) and most tools call the font size, so a line of
font_size 40 is taller than 40 pixels (47 in the built-in font, 55 in Noto
Sans). Give one of them.

Pictures and fonts as objects (the library's drawing API)::

    from quendal_imgtext import Image, Font

    image = Image.open("photo.jpg")
    image.draw_text("© 2026 Café", gravity="bottom-right", margin=16, size=32, fill="#ffffffcc")
    image.draw_text((10, 10), "Hello\\nWorld", fill=(255, 0, 0), anchor="la", align="center")
    image.save("out.jpg", quality=90)

Text is UTF-8 (``str``, or ``bytes`` passed unchanged). ``numpy.asarray(image)``
views the pixels without a copy, ``Image.from_array`` takes an array, and
``Image.from_pil`` / ``image.to_pil()`` convert to and from Pillow; neither
numpy nor Pillow is needed otherwise. These calls take no lock: threads run
them in parallel.

The seven file-to-file calls, one function each::

    import quendal_imgtext as t
    t.create("card.png", "Hello", 320, 120, size=40)
    t.add("photo.jpg", "out.png", "(c) 2026", x=10, y=10, opacity=0.6)

They draw one glyph per byte (so only ASCII is visible) and, since they
share one process-wide error text, run one at a time under a lock.

Failures raise ImgTextError subclasses carrying the library's message:
ArgumentError (also ValueError), ReadError and its NotFoundError (also
FileNotFoundError), DecodeError, WriteError (also OSError), LimitError and
OutOfMemoryError. Paths are ``str``, ``bytes`` or ``os.PathLike``; a NUL in a
path raises ValueError, as open() does. Colours are CSS names ("white",
"red": the names Pillow's ImageColor knows), "#RRGGBB", "#RGB", "#RRGGBBAA"
or (r, g, b[, a]) tuples.

``quendal_imgtext.batch.watermark(data, text, **style)`` is a pure bytes-to-
bytes function for pipelines (Dask, Spark, Ray) that reports a bad picture
as a result rather than raising.

The shared library is found through the QUENDAL_IMGTEXT_LIBRARY environment
variable, then beside this package, then on the system's library path.
"""

from ._checks import (ArgumentError, DecodeError, ImgTextError, LimitError, NotFoundError, OutOfMemoryError,
                      ReadError, WriteError)
from ._drawing import Font, Image, TextMetrics, measure, textlength
from ._legacy import add, add_boxed, centered, cleanup, create, init, last_error
from . import _native, batch
from ._native import library_path

__all__ = ["Image", "Font", "TextMetrics", "measure", "textlength",
           "ImgTextError", "ArgumentError", "ReadError", "NotFoundError", "DecodeError", "LimitError", "WriteError",
           "OutOfMemoryError",
           "init", "cleanup", "last_error", "create", "add", "add_boxed", "centered", "library_path", "batch"]
__version__ = _native.lib.imgtext_version().decode("ascii")
"""The loaded library's version, "MAJOR.MINOR.PATCH" (imgtext_version())."""
