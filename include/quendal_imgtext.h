/* quendal-imgtext: write text onto raster images.
 *
 * Seven C functions. Each drawing call is one complete file-to-file operation:
 * read an image (PNG, JPEG, BMP, GIF, TGA, PSD, PIC, PNM or HDR), lay out the
 * text in the one built-in typeface (Caladea Regular), composite it in a solid
 * colour, and write PNG, JPEG or BMP chosen by the output path's extension.
 *
 * Conventions shared by every function below:
 * - Results: 1 on success, 0 on failure. After a failure imgtext_last_error()
 *   returns a fixed English message; every call but imgtext_last_error()
 *   clears it on entry, so it is empty after any success.
 * - Text is a NUL-terminated byte string. Each byte is one glyph: 0x0A starts
 *   a new line, bytes with no glyph in the font (controls, 0x80-0xFF, so every
 *   byte of a multi-byte UTF-8 sequence) draw nothing but advance the pen.
 *   Visible characters are printable ASCII.
 * - size is the pixel height from the font's ascender to its descender;
 *   0 or less means 24. Text at a size above QUENDAL_IMGTEXT_MAX_SIZE is
 *   refused ("invalid size: ..."). A glyph too large to rasterise (a bitmap
 *   over 2 GiB) is left out, as is one whose bitmap cannot be allocated.
 *   Colours are 0..255 per channel, clamped. Every int argument may take any
 *   value: positions and sizes far outside the image are clipped.
 * - Coordinates are pixels from the top-left corner, y down. (x, y) is the
 *   top-left of the text box; negative values and text running off the image
 *   are allowed and clipped.
 * - Output format: a path ending in .png, .jpg, .jpeg or .bmp (any case)
 *   selects PNG (8-bit RGBA), JPEG (quality 92, alpha dropped) or BMP (32-bit
 *   with alpha). Any other name gets the input's own format when that was
 *   JPEG, PNG or BMP, otherwise PNG.
 * - Paths are passed on unchanged, for reading and writing alike: to the C
 *   runtime on POSIX systems, and on Windows to the narrow (ANSI code page)
 *   functions, so a path must be representable in the ANSI code page.
 * - Saving writes a temporary file beside the output and renames it into
 *   place only once complete: a failed save leaves any earlier file intact.
 * - Input files may be hostile: they are decoded with size limits and every
 *   failure is reported, never crashed on.
 * - Thread safety: the library keeps process-wide state (error text, parsed
 *   font) without locks. Make one call at a time and read imgtext_last_error()
 *   before the next call.
 */
#ifndef QUENDAL_IMGTEXT_H
#define QUENDAL_IMGTEXT_H

#define QUENDAL_IMGTEXT_VERSION_MAJOR 0
#define QUENDAL_IMGTEXT_VERSION_MINOR 1
#define QUENDAL_IMGTEXT_VERSION_PATCH 0

/* The largest pixel size text can be drawn at. */
#define QUENDAL_IMGTEXT_MAX_SIZE 100000

#if defined(_WIN32)
#  if defined(QUENDAL_IMGTEXT_BUILDING)
#    define QUENDAL_IMGTEXT_API __declspec(dllexport)
#  else
#    define QUENDAL_IMGTEXT_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__) && __GNUC__ >= 4
#  define QUENDAL_IMGTEXT_API __attribute__((visibility("default")))
#else
#  define QUENDAL_IMGTEXT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Parses the built-in font now rather than on the first drawing call.
 * Optional. Returns 1, or 0 with a message if the font cannot be parsed. */
QUENDAL_IMGTEXT_API int imgtext_init(void);

/* Forgets the parsed font; the next call parses it again. Frees nothing,
 * since the font lives in the library's read-only data. */
QUENDAL_IMGTEXT_API void imgtext_cleanup(void);

/* The message of the last failed call, or "" after a successful one. Never
 * NULL; the same address for the life of the process; at most 511 bytes. The
 * text changes on the next call of any other function. */
QUENDAL_IMGTEXT_API const char *imgtext_last_error(void);

/* Draws text onto the image in input_path at (x, y) and writes output_path.
 * opacity scales glyph coverage and is clamped to 0..1 (NaN draws nothing). */
QUENDAL_IMGTEXT_API int imgtext_add(const char *input_path, const char *output_path,
                                    const char *text, int x, int y, int size,
                                    int red, int green, int blue, float opacity);

/* As imgtext_add at full opacity, on an opaque box of the box colour that
 * extends padding pixels (negative means 0) beyond the text box on every side.
 * (x, y) is the box's top-left corner. */
QUENDAL_IMGTEXT_API int imgtext_add_boxed(const char *input_path, const char *output_path,
                                          const char *text, int x, int y, int size,
                                          int red, int green, int blue,
                                          int box_red, int box_green, int box_blue,
                                          int padding);

/* Draws text centred in the image, each line centred within the text box. */
QUENDAL_IMGTEXT_API int imgtext_centered(const char *input_path, const char *output_path,
                                         const char *text, int size,
                                         int red, int green, int blue);

/* Writes a new width x height image filled opaque with the background colour,
 * with text (NULL or "" for none) centred both ways. Unrecognised output
 * extensions give PNG. */
QUENDAL_IMGTEXT_API int imgtext_create(const char *output_path, const char *text,
                                       int width, int height, int size,
                                       int red, int green, int blue,
                                       int bg_red, int bg_green, int bg_blue);

#ifdef __cplusplus
}
#endif

#endif /* QUENDAL_IMGTEXT_H */
