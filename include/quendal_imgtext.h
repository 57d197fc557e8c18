/* quendal-imgtext: write text onto raster images.
 *
 * Two APIs over one engine, in one library:
 *
 * 1. Seven file-to-file calls (imgtext_create, imgtext_add, imgtext_add_boxed,
 *    imgtext_centered, imgtext_init, imgtext_cleanup, imgtext_last_error).
 *    Each drawing call reads an image, lays out bytes of text in the
 *    built-in typeface (Caladea Regular), composites it and writes PNG, JPEG
 *    or BMP chosen by the output path's extension. One call at a time.
 *
 * 2. The drawing API (imgtext_image_*, imgtext_font_*, imgtext_draw_text,
 *    imgtext_measure_text ...): images and fonts as values in memory, UTF-8
 *    text, any TrueType/OpenType font, measuring, anchors, gravity,
 *    alignment and wrapping; safe from any number of threads at once.
 *    Its defaults give byte for byte what the seven calls give for ASCII
 *    text in the built-in font: the seven calls are wrappers over it.
 *
 * Conventions of the seven calls:
 * - Results: 1 on success, 0 on failure. After a failure imgtext_last_error()
 *   returns a fixed English message; every call but imgtext_last_error()
 *   clears it on entry, so it is empty after any success.
 * - Text is a NUL-terminated byte string. Each byte is one glyph: 0x0A starts
 *   a new line, bytes with no glyph in the font (controls, 0x80-0xFF, so every
 *   byte of a multi-byte UTF-8 sequence) draw nothing but advance the pen.
 *   Visible characters are printable ASCII. (The drawing API reads UTF-8.)
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
 *   JPEG, PNG or BMP, otherwise PNG. A picture larger than the chosen format's
 *   encoder can write is refused from the input file's header, before it is
 *   decoded, with the message the save would have given.
 * - Paths are passed on unchanged, for reading and writing alike: to the C
 *   runtime on POSIX systems, and on Windows to the narrow (ANSI code page)
 *   functions, so a path must be representable in the ANSI code page.
 * - Saving writes a temporary file beside the output and renames it into
 *   place only once complete: a failed save leaves any earlier file intact.
 *   A file that may be written but not replaced (its folder allows no new
 *   files, or a sticky folder holds another user's file) is overwritten in
 *   place, but only after the whole new file is encoded and its disk space
 *   reserved, so a failure still leaves the old bytes.
 * - Input files may be hostile: they are decoded with size limits and every
 *   failure is reported, never crashed on. A JPEG of more than
 *   QUENDAL_IMGTEXT_MAX_JPEG_SCANS scans is refused ("... (too many scans)").
 * - Thread safety: the seven calls share one process-wide error text. Make
 *   one call at a time and read imgtext_last_error() before the next call.
 *   They may run while other threads use the drawing API.
 */
#ifndef QUENDAL_IMGTEXT_H
#define QUENDAL_IMGTEXT_H

#define QUENDAL_IMGTEXT_VERSION_MAJOR 0
#define QUENDAL_IMGTEXT_VERSION_MINOR 1
#define QUENDAL_IMGTEXT_VERSION_PATCH 0
#define QUENDAL_IMGTEXT_STRINGIFY_(x) #x
#define QUENDAL_IMGTEXT_STRINGIFY(x) QUENDAL_IMGTEXT_STRINGIFY_(x)
/* "MAJOR.MINOR.PATCH", for comparing with imgtext_version() at run time. */
/* clang-format off */
#define QUENDAL_IMGTEXT_VERSION_STRING                       \
    QUENDAL_IMGTEXT_STRINGIFY(QUENDAL_IMGTEXT_VERSION_MAJOR) "." \
    QUENDAL_IMGTEXT_STRINGIFY(QUENDAL_IMGTEXT_VERSION_MINOR) "." \
    QUENDAL_IMGTEXT_STRINGIFY(QUENDAL_IMGTEXT_VERSION_PATCH)
/* clang-format on */

/* The largest pixel size text can be drawn at. */
#define QUENDAL_IMGTEXT_MAX_SIZE 100000

/* The most fonts one style may chain (its font, fallback and fallbacks). */
#define QUENDAL_IMGTEXT_MAX_FONTS 16

/* The longest text one measuring or drawing call of the drawing API takes,
 * in bytes (IMGTEXT_ERROR_LIMIT beyond): far more than any caption or page,
 * and a bound on the memory shaped text needs (tens of bytes a glyph). */
#define QUENDAL_IMGTEXT_MAX_TEXT_BYTES 4194304

/* The widest outline and the largest shadow blur a text style may ask for,
 * in pixels (their cost grows with the area they cover), and the largest
 * radius of a box's rounded corners. */
#define QUENDAL_IMGTEXT_MAX_STROKE_WIDTH 256
#define QUENDAL_IMGTEXT_MAX_SHADOW_BLUR 256
#define QUENDAL_IMGTEXT_MAX_BOX_RADIUS 1000000

/* Tiled text (imgtext_text_style.tile): the steps between tiles in pixels,
 * how many times one grid cell's area a tile may cover (each pixel of the
 * picture is composited at most about that many times), and the largest
 * tile. */
#define QUENDAL_IMGTEXT_MIN_TILE_STEP 8
#define QUENDAL_IMGTEXT_MAX_TILE_STEP 1000000
#define QUENDAL_IMGTEXT_MAX_TILE_OVERLAP 64
#define QUENDAL_IMGTEXT_MAX_TILE_PIXELS (1u << 26)
/* The largest letter spacing (either sign) a text style may ask for: in
 * pixels, and in thousandths of an em (100 em); and the largest line
 * height and leading (either sign), in pixels. */
#define QUENDAL_IMGTEXT_MAX_LETTER_SPACING 100000
#define QUENDAL_IMGTEXT_MAX_LETTER_SPACING_EM_1000 100000
#define QUENDAL_IMGTEXT_MAX_LINE_HEIGHT 1000000

/* Each scan of a progressive JPEG is a pass over the whole picture, yet may
 * be a few bytes long; files with more scans are refused before decoding.
 * Encoders write about ten; this is TurboJPEG's recommended limit. */
#define QUENDAL_IMGTEXT_MAX_JPEG_SCANS 500

/* A CFF font's glyphs are programs (charstrings), and a few bytes of one may
 * run 2^18 steps. One drawing call may run this many steps over all its
 * glyphs; a call that needs more stops with IMGTEXT_ERROR_LIMIT. A glyph
 * runs three times per call however often it recurs (more only where the
 * picture's edge cuts it), and real glyphs take a few hundred steps to a
 * few thousand, so real text stays far below: a 3000 x 3000 picture filled
 * at 10 px with every glyph Noto Serif CJK maps in the BMP, with an outline
 * and a shadow, needs a twentieth of it. */
#define QUENDAL_IMGTEXT_MAX_DRAW_STEPS (1u << 30)

/* Colour glyph bitmaps are PNG files inside the font. One larger than
 * QUENDAL_IMGTEXT_MAX_COLOR_BITMAP_BYTES bytes, or wider or taller than
 * QUENDAL_IMGTEXT_MAX_COLOR_BITMAP_SIDE pixels by its header, is never
 * decoded: its glyph is drawn from its outline (or not at all) as if it had
 * no bitmap. Real fonts' bitmaps are a few kilobytes of about 136 x 128
 * pixels. Decoding and scaling colour glyphs counts, a step per pixel
 * visited, against QUENDAL_IMGTEXT_MAX_DRAW_STEPS. */
#define QUENDAL_IMGTEXT_MAX_COLOR_BITMAP_BYTES (1 << 20)
#define QUENDAL_IMGTEXT_MAX_COLOR_BITMAP_SIDE 1024

/* COLRv1 colour glyphs are graphs of paints. Clips and groups open at once
 * beyond QUENDAL_IMGTEXT_MAX_COLOR_PAINT_DEPTH (each holds a surface the
 * size of the glyph's box), and painting operations (fills, gradients,
 * clips and groups) beyond QUENDAL_IMGTEXT_MAX_COLOR_PAINT_OPERATIONS in
 * one glyph, are left out, with all they contain. Real emoji open a few
 * and paint a few dozen to a few hundred. Painting counts, a step per
 * pixel of the box each operation visits, against
 * QUENDAL_IMGTEXT_MAX_DRAW_STEPS. */
#define QUENDAL_IMGTEXT_MAX_COLOR_PAINT_DEPTH 12
#define QUENDAL_IMGTEXT_MAX_COLOR_PAINT_OPERATIONS 4096

/* Windows: exported from the DLL, imported by its users; define
 * QUENDAL_IMGTEXT_STATIC when linking the library's objects statically. */
#if defined(_WIN32)
#  if defined(QUENDAL_IMGTEXT_BUILDING)
#    define QUENDAL_IMGTEXT_API __declspec(dllexport)
#  elif defined(QUENDAL_IMGTEXT_STATIC)
#    define QUENDAL_IMGTEXT_API
#  else
#    define QUENDAL_IMGTEXT_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__) && __GNUC__ >= 4
#  define QUENDAL_IMGTEXT_API __attribute__((visibility("default")))
#else
#  define QUENDAL_IMGTEXT_API
#endif

#include <stddef.h>
#include <stdint.h>

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

/* The seven calls' parameters stay grouped as their callers read them:
 * paths and text, position and size, then each colour. */
/* clang-format off */

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
/* clang-format on */

/* ======================================================================
 * The drawing API
 *
 * Images and fonts are opaque handles; options are structs that begin with
 * their own size, filled with defaults by an _init function, so that new
 * fields can be added without breaking programs built against an older
 * header (the library reads only the fields the caller's version knew).
 *
 * Results: every function that can fail returns an imgtext_status, 0 for
 * success. After a failure imgtext_error_message() holds a fixed English
 * message for the calling thread (the same texts the seven calls use where
 * the failure is the same); every call that can fail clears it on entry.
 *
 * Threads: every function may be called from any number of threads at
 * once. A font is immutable once loaded and may be shared by all threads.
 * An image may be used by one thread at a time (drawing changes it), and
 * different images by different threads freely. Nothing process-wide
 * changes.
 *
 * Text: UTF-8 with an explicit length in bytes (IMGTEXT_NUL_TERMINATED
 * for a NUL-terminated string), at most QUENDAL_IMGTEXT_MAX_TEXT_BYTES. A
 * malformed sequence (a lone surrogate included) reads as one U+FFFD. LF,
 * CR LF, NEL (U+0085), LINE SEPARATOR and PARAGRAPH SEPARATOR end a line and
 * a paragraph (CR alone, VT and FF are characters, as the seven calls take
 * them). A code point no font of the style's chain has, a NUL included, is
 * drawn as the first font's missing glyph (nothing visible in the built-in
 * font, the width of a space) and counted in
 * imgtext_text_metrics.missing_glyphs. Bidi controls without their match
 * end at the paragraph's end and affect nothing after it.
 *
 * Paths: UTF-8 on every platform (on Windows they become UTF-16 for the
 * wide file functions, so any file name works).
 * ====================================================================== */

typedef struct imgtext_image imgtext_image;
typedef struct imgtext_font imgtext_font;

typedef enum imgtext_status {
    IMGTEXT_OK = 0,
    IMGTEXT_ERROR_ARGUMENT = 1, /* an argument or option out of range */
    IMGTEXT_ERROR_READ = 2,     /* a file could not be read */
    IMGTEXT_ERROR_DECODE = 3,   /* an image or font file is not one, or is damaged */
    IMGTEXT_ERROR_LIMIT = 4,    /* a picture or text beyond a size limit */
    IMGTEXT_ERROR_WRITE = 5,    /* the output could not be written or encoded */
    IMGTEXT_ERROR_MEMORY = 6    /* out of memory */
} imgtext_status;

/* This thread's message for its last failed call of the drawing API, or ""
 * if it succeeded. Never NULL; valid until this thread's next call. */
QUENDAL_IMGTEXT_API const char *imgtext_error_message(void);

/* A short English name of a status ("ok", "argument", "read", "decode",
 * "limit", "write", "memory"; "unknown" otherwise). Static storage. */
QUENDAL_IMGTEXT_API const char *imgtext_status_name(int status);

/* The version of the library that is loaded, "MAJOR.MINOR.PATCH" (static
 * storage), so that a program can check it against the header it was built
 * with (QUENDAL_IMGTEXT_VERSION_STRING). */
QUENDAL_IMGTEXT_API const char *imgtext_version(void);

#define IMGTEXT_NUL_TERMINATED ((size_t)-1)

/* Pillow's decompression-bomb threshold: about 179 million pixels. */
#define IMGTEXT_DEFAULT_MAX_PIXELS 178956970u

/* The most bytes of encoded input a load reads by default (512 MiB): far
 * more than any photo, far less than the decoders' own 2 GiB. */
#define IMGTEXT_DEFAULT_MAX_INPUT_BYTES 536870912u

typedef struct imgtext_color {
    uint8_t r, g, b, a; /* straight (not premultiplied) alpha */
} imgtext_color;

/* Output formats; the codes match what imgtext_image_format() reports. */
enum {
    IMGTEXT_FORMAT_AUTO = 0, /* saving: from the path's extension, else the
                                input's format, else PNG */
    IMGTEXT_FORMAT_JPEG = 1,
    IMGTEXT_FORMAT_PNG = 2,
    IMGTEXT_FORMAT_BMP = 3
};

/* The nine points of a text box, for anchors and gravity. */
typedef enum imgtext_position {
    IMGTEXT_TOP_LEFT = 0,
    IMGTEXT_TOP = 1,
    IMGTEXT_TOP_RIGHT = 2,
    IMGTEXT_LEFT = 3,
    IMGTEXT_CENTER = 4,
    IMGTEXT_RIGHT = 5,
    IMGTEXT_BOTTOM_LEFT = 6,
    IMGTEXT_BOTTOM = 7,
    IMGTEXT_BOTTOM_RIGHT = 8
} imgtext_position;

/* ---- Images ----------------------------------------------------------- */

typedef struct imgtext_load_options {
    size_t struct_size;       /* sizeof(imgtext_load_options) */
    uint64_t max_pixels;      /* refuse (IMGTEXT_ERROR_LIMIT) pictures whose header
                            claims more pixels, before decoding anything;
                            default IMGTEXT_DEFAULT_MAX_PIXELS, 0 = no limit
                            beyond the decoder's own */
    int auto_orient;          /* 1 (default): turn a JPEG upright by its EXIF
                            orientation (1..8) while loading, so that
                            positions, anchors and gravity refer to the
                            picture as viewers show it, and width and height
                            are the upright ones. A missing or damaged EXIF
                            block means no turning, never a failure.
                            0: keep the pixels as stored. */
    int reserved;             /* ignored. The first version of this struct ended
                            above, and its padding, left uninitialised by
                            callers, lay here; fields added since lie past it. */
    int threads;              /* 1 (default; 0 means the same): decode on the
                            calling thread. 2 or more: a baseline JPEG is
                            decoded on two threads, the calling one reading
                            the compressed data while one more, started and
                            joined within the call, makes the pixels; the
                            result is the same. Worth it for large photos
                            where a core is free: about 1.6x as fast for 12
                            megapixels, for about 4 MB more memory during
                            the call (two rows of 8x8 blocks across the
                            picture if that is more: up to about 17 MB for
                            a file 65535 pixels wide). Other pictures
                            ignore it, and so does a process that cannot
                            start a thread. Negative values are an
                            IMGTEXT_ERROR_ARGUMENT. */
    uint64_t max_input_bytes; /* refuse (IMGTEXT_ERROR_LIMIT, "input too
                            large: ...") a file or data larger than this,
                            unread; default IMGTEXT_DEFAULT_MAX_INPUT_BYTES,
                            0 = none below the decoders' own 2 GiB */
    int allow_damaged;        /* 0 (default): a picture whose data ends before the
                            picture does (a truncated JPEG, a file cut short)
                            is refused with IMGTEXT_ERROR_DECODE ("cannot
                            decode image ... (truncated: ...)", saying where
                            the data ended where the decoder knows it);
                            1: it loads, its missing part as the decoder
                            fills it, and imgtext_image_damage() says so */
} imgtext_load_options;

QUENDAL_IMGTEXT_API void imgtext_load_options_init(imgtext_load_options *options);

/* A new width x height image filled with color (transparent allowed).
 * *image receives the handle; free it with imgtext_image_free. */
QUENDAL_IMGTEXT_API imgtext_status imgtext_image_create(int width, int height, imgtext_color color,
                                                        imgtext_image **image);

/* Decodes a picture (PNG, JPEG, BMP, GIF first frame, TGA, PSD, PIC, PNM,
 * HDR) from a file or from memory to 8-bit RGBA. The bytes may be hostile.
 * options may be NULL for the defaults. The library keeps no pointer to
 * data. Failures: READ (file), DECODE, LIMIT, MEMORY.
 * A JPEG's metadata stays with the image for saving (see
 * imgtext_save_options): its ICC colour profile (one or several APP2
 * segments), its resolution (the JFIF density, else the EXIF resolution)
 * and its EXIF block (with the orientation set to 1 once applied). Other
 * formats keep none. */
QUENDAL_IMGTEXT_API imgtext_status imgtext_image_load(const char *path, const imgtext_load_options *options,
                                                      imgtext_image **image);
QUENDAL_IMGTEXT_API imgtext_status imgtext_image_load_memory(const void *data, size_t size,
                                                             const imgtext_load_options *options,
                                                             imgtext_image **image);

/* An image over the caller's RGBA pixels (straight alpha, rows stride bytes
 * apart, stride >= width * 4, and the whole span, stride * (height - 1) +
 * width * 4 bytes, at most PTRDIFF_MAX). wrap draws into the caller's
 * memory, which must outlive the handle and stays the caller's; copy takes
 * a copy. */
QUENDAL_IMGTEXT_API imgtext_status imgtext_image_wrap(void *pixels, int width, int height, size_t stride,
                                                      imgtext_image **image);
QUENDAL_IMGTEXT_API imgtext_status imgtext_image_copy(const void *pixels, int width, int height, size_t stride,
                                                      imgtext_image **image);

/* Frees the handle and the pixels it owns (never a wrapped buffer). NULL is
 * allowed. */
QUENDAL_IMGTEXT_API void imgtext_image_free(imgtext_image *image);

/* Size, row stride in bytes, and the pixels: RGBA rows, top row first, valid
 * until the image is freed. NULL image gives 0 / NULL. */
QUENDAL_IMGTEXT_API int imgtext_image_width(const imgtext_image *image);
QUENDAL_IMGTEXT_API int imgtext_image_height(const imgtext_image *image);
QUENDAL_IMGTEXT_API size_t imgtext_image_stride(const imgtext_image *image);
QUENDAL_IMGTEXT_API uint8_t *imgtext_image_pixels(imgtext_image *image);

/* The format the loaded file looked like (IMGTEXT_FORMAT_JPEG, _PNG, _BMP),
 * or IMGTEXT_FORMAT_AUTO for anything else, including canvases. */
QUENDAL_IMGTEXT_API int imgtext_image_format(const imgtext_image *image);

/* What imgtext_image_damage() reports. */
enum { IMGTEXT_DAMAGE_NONE = 0, IMGTEXT_DAMAGE_TRUNCATED = 1 };

/* Whether the loaded picture's data ended before the picture did (only with
 * the load option allow_damaged; IMGTEXT_DAMAGE_TRUNCATED), else
 * IMGTEXT_DAMAGE_NONE (also for canvases and NULL). Truncation is known for
 * JPEG, BMP, GIF, PSD, PIC, HDR and TGA data, which the decoders would
 * otherwise complete with zeros; a PNG or PNM cut short fails to decode. */
QUENDAL_IMGTEXT_API int imgtext_image_damage(const imgtext_image *image);

typedef struct imgtext_save_options {
    size_t struct_size;    /* sizeof(imgtext_save_options) */
    int format;            /* IMGTEXT_FORMAT_*; default AUTO */
    int jpeg_quality;      /* 1..100; default 92 (no chroma subsampling above 90) */
    int png_rgb_if_opaque; /* 1: write RGB when every pixel is opaque; default 0:
                              always RGBA, as the seven calls do */
    int keep_exif;         /* 1: write a loaded JPEG's EXIF block into JPEG
                           output (its orientation 1 if the load applied it).
                           Default 0, since EXIF may hold where the picture
                           was taken (GPS) and who took it. PNG output never
                           gets it. */
    int drop_metadata;     /* default 0: a loaded JPEG's ICC profile and
                           resolution go into JPEG output (APP2 segments,
                           the JFIF density) and PNG output (iCCP, pHYs);
                           1: write neither (nor EXIF), as for a canvas.
                           Pictures without metadata are written exactly as
                           the seven calls write them. */
} imgtext_save_options;

QUENDAL_IMGTEXT_API void imgtext_save_options_init(imgtext_save_options *options);

/* Encodes the image and writes it to path with the same guarantees as the
 * seven calls (temporary file renamed into place; a failure leaves any old
 * file intact). options may be NULL. Failures: ARGUMENT, LIMIT (too large
 * for the format), WRITE, MEMORY. */
QUENDAL_IMGTEXT_API imgtext_status imgtext_image_save(const imgtext_image *image, const char *path,
                                                      const imgtext_save_options *options);

/* Encodes the image into a new buffer (*data, *size bytes) that the caller
 * releases with imgtext_free. With format AUTO: the input's format, else PNG. */
QUENDAL_IMGTEXT_API imgtext_status imgtext_image_encode(const imgtext_image *image, const imgtext_save_options *options,
                                                        void **data, size_t *size);

/* Releases memory the library handed over (encoded images). NULL allowed. */
QUENDAL_IMGTEXT_API void imgtext_free(void *data);

/* ---- Fonts ------------------------------------------------------------ */

/* The built-in Caladea Regular, parsed once on first use. Never freed;
 * NULL only if the library's own font data is damaged. */
QUENDAL_IMGTEXT_API const imgtext_font *imgtext_font_builtin(void);

/* A TrueType or CFF-flavoured OpenType font from a file or memory; index
 * picks a font of a collection (0 otherwise). The bytes are copied; the
 * library keeps no pointer to data. *font receives the handle (NULL on
 * failure); free it with imgtext_font_free.
 *
 * The bytes may be hostile: before a font is accepted, everything the
 * renderer will read from it is checked to lie inside its table and the
 * file. Refused with IMGTEXT_ERROR_DECODE and a message saying what is wrong
 * ("cannot decode font: ..."):
 * - bytes that are not a font or collection, an index the collection does
 *   not have (or any index but 0 for a single font), a table directory or a
 *   used table (cmap, head, hhea, hmtx, maxp, loca, glyf, kern, GPOS, CFF)
 *   outside the file;
 * - a font without the tables drawing needs, without glyphs or horizontal
 *   metrics, with units per em outside 16..16384 or an ascender not above
 *   its descender;
 * - no Unicode character map, or one in a format other than 0, 4, 6, 12
 *   or 13 (CFF2 and other variable-font outlines are not read either);
 * - glyph outlines, components, kerning (kern, GPOS pair adjustment) or CFF
 *   structures (INDEXes, DICTs, subroutines, FDSelect) that run outside
 *   their table or are out of order;
 * - composite glyphs that contain themselves, nest more than 16 deep, or
 *   expand to more than 131,072 points or repeat components excessively;
 *   more than 2,048 GPOS pair adjustment subtables.
 * A CFF glyph whose charstring program runs too long (over 2^18 steps) or
 * fails is drawn as nothing, its advance kept; the font remembers it, and
 * never runs that charstring again. Code points the character
 * map sends to glyphs the font does not have draw as its missing glyph.
 *
 * imgtext_font_load reads the file at path (UTF-8). Failures: READ (file),
 * DECODE, LIMIT (2 GiB or larger), MEMORY; ARGUMENT for a NULL font or path, or
 * empty data. Thread-safe. */
QUENDAL_IMGTEXT_API imgtext_status imgtext_font_load(const char *path, int index, imgtext_font **font);
QUENDAL_IMGTEXT_API imgtext_status imgtext_font_load_memory(const void *data, size_t size, int index,
                                                            imgtext_font **font);

/* Frees a loaded font once no thread uses it. NULL and the built-in font
 * are ignored. */
QUENDAL_IMGTEXT_API void imgtext_font_free(imgtext_font *font);

/* ---- Text ------------------------------------------------------------- */

enum { IMGTEXT_SIZE_PIXEL_HEIGHT = 0, IMGTEXT_SIZE_EM = 1 };
/* START and END follow each paragraph's direction: START is LEFT for
 * left-to-right text and RIGHT for right-to-left text.
 * JUSTIFY: every line but a paragraph's last (and but the last of all)
 * fills the box's width, which is its widest line's (at most the wrap
 * width), by widening each space between its words (the fonts' space
 * glyphs) by the same amount; those lines are measured at the box's width.
 * The other lines, and lines without a space, go to the START. No kashida
 * or other stretching of joined letters: Arabic text widens at its spaces
 * only. */
enum {
    IMGTEXT_ALIGN_LEFT = 0,
    IMGTEXT_ALIGN_CENTER = 1,
    IMGTEXT_ALIGN_RIGHT = 2,
    IMGTEXT_ALIGN_START = 3,
    IMGTEXT_ALIGN_END = 4,
    IMGTEXT_ALIGN_JUSTIFY = 5
};

/* Where a line wider than the wrap width is cut (imgtext_text_style.wrap):
 * - WORD (default): at Unicode's break opportunities, as max_width says;
 * - CHARACTER: at any grapheme cluster boundary (never inside a cluster),
 *   as many clusters on each line as fit;
 * - NONE: never; lines end only at line breaks, and max_width and
 *   fit_width only measure (the ellipsis of max_lines, auto-size). */
enum { IMGTEXT_WRAP_WORD = 0, IMGTEXT_WRAP_CHARACTER = 1, IMGTEXT_WRAP_NONE = 2 };

/* The unit of imgtext_text_style.letter_spacing. */
enum { IMGTEXT_LETTER_SPACING_PIXELS = 0, IMGTEXT_LETTER_SPACING_EM_1000 = 1 };

/* How text is laid out (imgtext_text_style.layout).
 * - SHAPED: each paragraph's direction and embedding levels by Unicode's
 *   bidirectional algorithm (UAX #9), each grapheme cluster in the first
 *   font of the chain that has all its characters, runs by level, script
 *   (Unicode Script, Common and Inherited taking their neighbours') and
 *   font, each shaped by HarfBuzz with the font's GSUB and GPOS tables and
 *   the default features of its script and direction (joining forms,
 *   ligatures, marks, kerning, reordering), then each line put in visual
 *   order. What Arabic, Hebrew, the Indic scripts and most fonts need.
 * - SIMPLE: one glyph per code point in logical order, from the first font
 *   that has it, with the pair kerning of the font's kern table and of the
 *   GPOS pair adjustments stb_truetype reads (not those behind Extension
 *   lookups, which only SHAPED applies): the seven calls' layout, which
 *   their identity with the drawing API rests on. No bidi, joining or
 *   ligatures.
 * - AUTO (default): SIMPLE for a paragraph the built-in font (as the first
 *   font) draws on its own, left to right, so that ASCII in the built-in
 *   font draws exactly what the seven calls draw; SHAPED for every other
 *   paragraph and every other font. In a shaped paragraph, left-to-right
 *   runs in the built-in font are still laid out simply.
 * Line breaking is the same for both: see imgtext_text_style.max_width. */
enum { IMGTEXT_LAYOUT_AUTO = 0, IMGTEXT_LAYOUT_SIMPLE = 1, IMGTEXT_LAYOUT_SHAPED = 2 };

/* A paragraph's base direction (imgtext_text_style.direction): AUTO from its
 * first strong character (left to right if it has none), or forced. */
enum { IMGTEXT_DIRECTION_AUTO = 0, IMGTEXT_DIRECTION_LTR = 1, IMGTEXT_DIRECTION_RTL = 2 };

typedef struct imgtext_text_style {
    size_t struct_size;           /* sizeof(imgtext_text_style) */
    const imgtext_font *font;     /* default NULL: the built-in font */
    const imgtext_font *fallback; /* for code points font lacks; default NULL */
    float size;                   /* default 24; 0 < size <= QUENDAL_IMGTEXT_MAX_SIZE */
    int size_unit;                /* IMGTEXT_SIZE_PIXEL_HEIGHT (ascender to
                                    descender, the seven calls' size; default)
                                    or IMGTEXT_SIZE_EM (what other tools call
                                    the font size) */
    float line_spacing;           /* factor on the line height; default 1 */
    int align;                    /* each line in the box; default LEFT */
    int max_width;                /* wrap lines wider than this many pixels,
                                    each as long as fits, at the break
                                    opportunities of Unicode's line breaking
                                    (UAX #14: after spaces, between CJK
                                    ideographs, after hyphens; no line starts
                                    with closing punctuation), and inside a
                                    word only when it alone is wider, then at
                                    a grapheme cluster boundary (UAX #29),
                                    never inside a cluster. The spaces a line
                                    ends on take no width. Thai, Lao, Khmer
                                    and Myanmar need a dictionary to find word
                                    boundaries, which the default rules lack:
                                    their words break only as overlong ones.
                                    0 = no wrapping */
    imgtext_color color;          /* default opaque white */
    float opacity;                /* multiplies coverage and color.a, 0..1;
                                    default 1 */
    int box;                      /* 1: draw a box behind the text; default 0 */
    imgtext_color box_color;      /* default opaque black; alpha 255 paints the
                                    box opaque, less blends it (opacity does
                                    not apply to the box) */
    int padding;                  /* box margin around the text box (negative
                                    means 0); default 0 */
    /* Outline, shadow and rounded box. They add to the picture around the
     * text box but never move it: measuring, anchors and gravity place the
     * text box alone, so leave a margin or padding for them. */
    float stroke_width;         /* an outline this many pixels beyond the
                                    glyphs' edges (fractions allowed), drawn
                                    under the fill around the text as a whole,
                                    so glyphs that overlap or kern together
                                    share one seamless outline. 0..256;
                                    default 0: none (the fill is then drawn
                                    exactly as without this field) */
    imgtext_color stroke_color; /* default opaque black. Text with an outline
                                    is composed first and then blended at
                                    opacity, so a translucent fill never shows
                                    the outline through it */
    int shadow;                 /* 1: a shadow of the text (and its outline)
                                    under it; default 0 */
    int shadow_dx, shadow_dy;   /* the shadow's offset in pixels, right and
                                    down (any value); default 2, 2 */
    float shadow_blur;          /* the blur's standard deviation in pixels,
                                    0..256 (0: a sharp shadow); a cascade of
                                    three box blurs over the text's area only;
                                    default 2 */
    imgtext_color shadow_color; /* default black at alpha 160; opacity
                                    multiplies it as it does the text */
    float box_radius;           /* radius of the box's corners in pixels,
                                    antialiased, at most half the box's
                                    shorter side; 0..1,000,000; default 0:
                                    square corners, as the seven calls draw */
    /* World text: more fonts, the layout, and what shaping reads. */
    const imgtext_font *const *fallbacks; /* more fonts, tried in order after
                                    font and fallback for what they lack;
                                    default NULL. The chain (font, fallback,
                                    then these) holds at most
                                    QUENDAL_IMGTEXT_MAX_FONTS fonts */
    size_t fallback_count;                /* entries in fallbacks (none may be NULL) */
    int layout;                           /* IMGTEXT_LAYOUT_*; default AUTO */
    int direction;                        /* IMGTEXT_DIRECTION_*; default AUTO */
    const char *features;                 /* OpenType features, as HarfBuzz writes them:
                                    "-liga", "smcp", "tnum", "ss01=1",
                                    "kern=0", separated by commas or spaces;
                                    default NULL: each script's defaults.
                                    Shaped text only. A malformed one is an
                                    IMGTEXT_ERROR_ARGUMENT that names it */
    const char *language;                 /* a BCP 47 tag ("sr" for Serbian forms of
                                    Cyrillic, "tr" for the Turkish i, "zh-Hant"),
                                    which fonts use to choose their localized
                                    forms; default NULL: none (never the
                                    process's locale). Shaped text only */
    int color_glyphs;                     /* 1 (default): glyphs a font has in colour
                                    (PNG bitmaps in 'CBDT'/'CBLC' or 'sbix',
                                    COLRv0 layers in 'COLR' with 'CPAL'
                                    palette 0) are drawn in their own colours,
                                    layers in the palette's foreground entry
                                    in the text color; color.a and opacity
                                    still apply, and the outline and shadow
                                    follow the glyphs' alpha. Bitmaps are
                                    scaled to the size by area averaging. 0:
                                    each glyph's outline is drawn in the text
                                    color instead, and a font with no outlines
                                    (colour glyphs alone) has no glyphs: its
                                    characters go to the next font of the
                                    chain, else count as missing. COLRv1
                                    paint graphs in 'COLR' are drawn too:
                                    solid fills, linear, radial and sweep
                                    gradients, clips, transforms and groups
                                    (Porter-Duff modes, PLUS, MULTIPLY and
                                    SCREEN; other blend modes as SRC_OVER);
                                    images inside 'COLR' are not drawn */
    /* Variable fonts: a point of the design space of every font of the chain
     * that has variation axes (fvar) and TrueType outlines; other fonts are
     * drawn as they are. Outlines, advances and shaped positions follow the
     * axes; line metrics and the simple layout's kerning stay the default
     * instance's. Without variations fonts are drawn exactly as before. */
    const char *variations; /* axis values as HarfBuzz writes them,
                                    "wght=700,wdth=85", separated by commas or
                                    spaces (an axis the font lacks is
                                    ignored), or the name of a named instance,
                                    "Bold" (ASCII case ignored); default NULL:
                                    the default instance. A malformed value,
                                    or a name no font of the chain has, is an
                                    IMGTEXT_ERROR_ARGUMENT that names it */
    /* Rotation: the glyphs' outlines are turned before they are rasterised,
     * so turned text is as sharp as upright text; its box, outline and
     * shadow turn with it (the shadow's offset stays in picture pixels).
     * Colour glyphs (color_glyphs) are pictures: each one's upright pixels
     * are turned about the same pen with a bilinear filter, keeping their
     * colours, with color.a and opacity applied as upright.
     * imgtext_draw_text turns the text box about its anchor point;
     * imgtext_draw_text_gravity places the turned box's bounding box by
     * gravity. The metrics then give that bounding box: x, y, width and
     * height are the smallest pixel rectangle holding the turned text box
     * (measuring gives its width and height); the rest are the upright
     * layout's. The angle's sine and cosine are the library's own (+ - * /
     * in a fixed order, exact for multiples of 90 degrees), so turned text
     * is the same on every platform. */
    float rotation; /* degrees counterclockwise, any finite value (NaN
                                    and infinities are an
                                    IMGTEXT_ERROR_ARGUMENT); default 0: upright,
                                    drawn exactly as without this field */
    /* Tiling: the text repeated over the whole picture on a grid turned
     * with it (the all-over watermark). The tile placed as the text alone
     * would be is one point of the grid; the others lie step_x apart along
     * the lines and step_y apart across them, each row shifted
     * tile_row_offset along the lines from the one before. The text, its
     * box, outline and shadow are drawn once, into a tile, and the tile is
     * composited at each point, so the cost follows the picture's area: the
     * tile may be at most QUENDAL_IMGTEXT_MAX_TILE_OVERLAP times the area of
     * one grid cell and QUENDAL_IMGTEXT_MAX_TILE_PIXELS pixels, else
     * IMGTEXT_ERROR_LIMIT. Tiles are drawn as turned text is, at 0 degrees
     * too. The metrics are the placed tile's. */
    int tile;            /* 1: tile the picture; default 0 */
    int tile_step_x;     /* pixels between tiles along the lines,
                                    QUENDAL_IMGTEXT_MIN_TILE_STEP..
                                    QUENDAL_IMGTEXT_MAX_TILE_STEP; default 0:
                                    twice the text box's width */
    int tile_step_y;     /* the same across the lines; default 0: twice the
                                    text box's height */
    int tile_row_offset; /* -QUENDAL_IMGTEXT_MAX_TILE_STEP..
                                    QUENDAL_IMGTEXT_MAX_TILE_STEP; default 0 */
    /* Boxes: wrapping, spacing, cutting and auto-size. Their defaults (0)
     * lay text out exactly as it was before they existed. A value out of
     * range is an IMGTEXT_ERROR_ARGUMENT naming the field; NaN always is. */
    int wrap;                  /* IMGTEXT_WRAP_*; default WORD */
    float letter_spacing;      /* added after kerning between every two grapheme
                                    clusters of a line (none after its last, so
                                    a line of n clusters widens by (n - 1) x
                                    this, as measured, wrapped and drawn alike);
                                    never inside a cluster, nor inside a run of
                                    a joining script (Arabic, Syriac, N'Ko,
                                    Mongolian, Mandaic, Adlam ...), whose
                                    letters would come apart: such a run keeps
                                    its own widths, and spacing goes only at
                                    its ends. While it is not 0, shaped runs of
                                    other scripts leave out the optional
                                    ligatures (liga, clig, dlig, hlig), whose
                                    letters it could not part (features may
                                    turn them back on). Negative allowed; at most
                                    QUENDAL_IMGTEXT_MAX_LETTER_SPACING pixels
                                    or QUENDAL_IMGTEXT_MAX_LETTER_SPACING_EM_1000
                                    thousandths either way; default 0 */
    int letter_spacing_unit;   /* IMGTEXT_LETTER_SPACING_PIXELS (default) or
                                    _EM_1000: thousandths of the first font's
                                    em at the size drawn (so auto-size scales it) */
    float line_height;         /* the pitch from one baseline to the next in
                                    pixels (rounded up), in place of the
                                    font's pitch times line_spacing; 0 (default):
                                    that. 0..QUENDAL_IMGTEXT_MAX_LINE_HEIGHT */
    float leading;             /* pixels added to the pitch (negative: lines
                                    closer than the font's own, down to a pitch
                                    of 1, so lines overlap); default 0;
                                    -QUENDAL_IMGTEXT_MAX_LINE_HEIGHT..
                                    QUENDAL_IMGTEXT_MAX_LINE_HEIGHT */
    int max_lines;             /* 0 (default): no limit. n: text beyond the
                                    n-th line is cut and that line ends in an
                                    ellipsis (U+2026, or "..." when no font of
                                    the chain has it) after as many whole
                                    grapheme clusters as fit the width with it
                                    (fit_width with auto_size, else max_width;
                                    any length without either; the ellipsis
                                    alone when nothing more fits). The n-th
                                    line is cut so also when it alone is
                                    wider than that width. Metrics report
                                    truncated. Negative is refused; any
                                    other int, INT_MAX (2^31 - 1) included,
                                    costs what the text costs, not n */
    int auto_size;             /* 1: the largest size from min_size to
                                    max_size, a multiple of 1/64 (in size_unit),
                                    at which all the text fits fit_width x
                                    fit_height (no cut by max_lines, box within
                                    both), found by measuring, never drawing:
                                    a guess scaled from one layout, sizes
                                    bracketing it, then halving down to 1/64
                                    (one step larger does not fit); size is
                                    then ignored and metrics
                                    report the size chosen. Lines wrap at
                                    fit_width (unless wrap is NONE), not
                                    max_width. When not even min_size fits: an
                                    IMGTEXT_ERROR_ARGUMENT ("... does not fit
                                    ...") if min_size is 0, else the text at
                                    min_size, cut by max_lines when set, else
                                    running past the box's bottom. Bounded:
                                    at most 50 layouts of the text (a caption
                                    takes about a dozen). With rotation or
                                    tile the box is on the text's own axes,
                                    before it turns: fit_width along its
                                    lines, fit_height across them (the turned
                                    bounding box the metrics give may be
                                    larger). Default 0 */
    int fit_width, fit_height; /* the box for auto_size in pixels; 0 leaves
                                    that side free, but not both (an empty box
                                    is refused), and negative is refused */
    float min_size, max_size;  /* auto_size's range; 0 (default): 1 and
                                    QUENDAL_IMGTEXT_MAX_SIZE. 0..MAX_SIZE, min
                                    at most max */
} imgtext_text_style;

QUENDAL_IMGTEXT_API void imgtext_text_style_init(imgtext_text_style *style);

typedef struct imgtext_text_metrics {
    size_t struct_size; /* set by the caller (imgtext_text_metrics_init):
                           sizeof(imgtext_text_metrics); a size below this
                           first version's is an IMGTEXT_ERROR_ARGUMENT */
    int x, y;           /* top-left of the text box as placed (0, 0 when measuring) */
    int width, height;  /* the text box: widest line (at least 1) x line count * line pitch */
    int line_count;
    int line_height;    /* pitch from one baseline to the next */
    int ascent;         /* top of the box to the first baseline */
    int descent;        /* below a baseline to the font's descender */
    int missing_glyphs; /* code points no font had a glyph for */
    float size;         /* the size laid out at: the style's, or auto_size's */
    int truncated;      /* 1 when max_lines cut text off */
} imgtext_text_metrics;

/* Zeroes the metrics and sets struct_size, as a call that fills them needs. */
QUENDAL_IMGTEXT_API void imgtext_text_metrics_init(imgtext_text_metrics *metrics);

/* Lays out text in style (NULL for the defaults) without drawing. metrics
 * (may be NULL) receives the box; line_widths (may be NULL) receives the
 * width of up to max_lines lines. Failures: ARGUMENT, LIMIT, MEMORY. */
QUENDAL_IMGTEXT_API imgtext_status imgtext_measure_text(const char *text, size_t length,
                                                        const imgtext_text_style *style, imgtext_text_metrics *metrics,
                                                        int *line_widths, size_t max_lines);

/* Draws text with the anchor point of its box (e.g. IMGTEXT_BOTTOM_RIGHT)
 * at (x, y). Text outside the image is clipped. metrics may be NULL.
 * Failures: ARGUMENT, LIMIT (also when the glyphs of a CFF font need more
 * than QUENDAL_IMGTEXT_MAX_DRAW_STEPS charstring steps, which only a
 * hostile font does), MEMORY (also when the working area of an outline or
 * shadow cannot be allocated). After a LIMIT or MEMORY failure while
 * drawing, the box, the shadow or part of the text may already be drawn. */
QUENDAL_IMGTEXT_API imgtext_status imgtext_draw_text(imgtext_image *image, const char *text, size_t length, int x,
                                                     int y, imgtext_position anchor, const imgtext_text_style *style,
                                                     imgtext_text_metrics *metrics);

/* Draws text with its box margin pixels inside the edges gravity names;
 * on an axis it leaves free the box is centred ((W - w) / 2, truncated
 * toward zero). IMGTEXT_BOTTOM_RIGHT with margin 16 puts the box's top-left
 * at (W - 16 - w, H - 16 - h). */
QUENDAL_IMGTEXT_API imgtext_status imgtext_draw_text_gravity(imgtext_image *image, const char *text, size_t length,
                                                             imgtext_position gravity, int margin,
                                                             const imgtext_text_style *style,
                                                             imgtext_text_metrics *metrics);

/* ---- Drawing on a file in passing ------------------------------------ */

/* One text for imgtext_draw_file and imgtext_draw_memory, drawn as
 * imgtext_draw_text (gravity 0: its anchor `position` at x, y) or
 * imgtext_draw_text_gravity (gravity 1: `position` as the gravity, margin
 * from the edges) would draw it. Initialise with imgtext_text_job_init. */
typedef struct imgtext_text_job {
    size_t struct_size;              /* sizeof(imgtext_text_job) */
    const char *text;                /* UTF-8 */
    size_t length;                   /* bytes */
    const imgtext_text_style *style; /* NULL: the defaults */
    int gravity;                     /* 0 (default): anchor; 1: gravity */
    imgtext_position position;       /* default IMGTEXT_TOP_LEFT */
    int x, y;                        /* the anchor's position */
    int margin;                      /* gravity's distance from the edges */
    float size_percent;              /* 0 (default): the style's size; more than 0:
                                        this share of the loaded (upright) picture's
                                        height instead, height * size_percent / 100
                                        in single precision, at most
                                        QUENDAL_IMGTEXT_MAX_SIZE, in the style's
                                        size_unit. Negative or not a number:
                                        IMGTEXT_ERROR_ARGUMENT */
} imgtext_text_job;

QUENDAL_IMGTEXT_API void imgtext_text_job_init(imgtext_text_job *job);

/* Loads a picture, draws the jobs' texts on it in order and saves it (or
 * encodes it into a new buffer, *out and *out_size, released with
 * imgtext_free): the result, byte for byte, and the failures and messages
 * of imgtext_image_load (or _load_memory), imgtext_draw_text or
 * imgtext_draw_text_gravity for each job, and imgtext_image_save (or
 * _encode) with the same options, in turn. Nothing is written on failure.
 * load and save may be NULL for the defaults; count may be 0.
 *
 * Where it can, the picture streams: a baseline JPEG written as a JPEG,
 * with no quarter turn to make for its EXIF orientation (orientation 1 or
 * none, or auto_orient off) and no text rotated or tiled, is decoded, drawn
 * on and encoded 16 rows at a time. Only the rows the texts reach are held
 * together, from a band's top above the highest to a band's bottom below
 * the lowest (about one pixel size beyond each text's box, and its outline,
 * shadow and padding), so that a caption on a 12-megapixel photo needs a
 * few megabytes instead of the 48 MB of its RGBA pixels. The compressed
 * input is held whole, and so is the output of imgtext_draw_memory;
 * imgtext_draw_file writes its output as it is made. Any other picture, and a stream that
 * finds it cannot finish as the whole picture would (a drawing that
 * reaches rows beyond its guess, a damaged file), takes the whole-picture
 * path; the result is the same either way. */
QUENDAL_IMGTEXT_API imgtext_status imgtext_draw_file(const char *input_path, const char *output_path,
                                                     const imgtext_text_job *jobs, size_t count,
                                                     const imgtext_load_options *load,
                                                     const imgtext_save_options *save);
QUENDAL_IMGTEXT_API imgtext_status imgtext_draw_memory(const void *data, size_t size, const imgtext_text_job *jobs,
                                                       size_t count, const imgtext_load_options *load,
                                                       const imgtext_save_options *save, void **out, size_t *out_size);

#ifdef __cplusplus
}
#endif

#endif /* QUENDAL_IMGTEXT_H */
