# Locates the pinned third-party files the library is built from and refuses
# anything else: output bytes depend on the exact stb releases and font.
# scripts/setup.sh fetches them into .deps/; a user may point the cache
# variables below at their own copies, which must match the same SHA-256.

set(IMGTEXT_STB_INCLUDE_DIR "${PROJECT_SOURCE_DIR}/.deps/stb" CACHE PATH
    "Folder holding stb_image.h 2.30, stb_image_write.h 1.16 and stb_truetype.h 1.26")
set(IMGTEXT_FONT_FILE "${PROJECT_SOURCE_DIR}/.deps/font/Caladea-Regular.ttf" CACHE FILEPATH
    "Caladea Regular TrueType font, Version 1.002 (58,964 bytes)")

set(_imgtext_pins "${PROJECT_SOURCE_DIR}/scripts/pinned.sha256")
file(STRINGS "${_imgtext_pins}" _imgtext_pin_lines)

# Expected SHA-256 of a pinned file, by its name in scripts/pinned.sha256.
function(imgtext_pinned_sha256 name out_var)
    foreach(line IN LISTS _imgtext_pin_lines)
        if(line MATCHES "^([0-9a-f]+)  .*/${name}$")
            set(${out_var} "${CMAKE_MATCH_1}" PARENT_SCOPE)
            return()
        endif()
    endforeach()
    message(FATAL_ERROR "${name} has no entry in ${_imgtext_pins}")
endfunction()

function(imgtext_require_pinned path name description cache_var)
    imgtext_pinned_sha256("${name}" expected)
    set(remedy "Run scripts/setup.sh to fetch it, or set ${cache_var} to a copy of exactly that release.")
    if(NOT EXISTS "${path}")
        message(FATAL_ERROR "Missing ${description}: no file at ${path}.\n${remedy}")
    endif()
    file(SHA256 "${path}" actual)
    if(NOT actual STREQUAL expected)
        message(FATAL_ERROR "${path} is not ${description}: its SHA-256 is ${actual}, "
                            "expected ${expected}.\n${remedy}")
    endif()
    # Re-check whenever the file changes.
    set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
endfunction()

set(_imgtext_stb_package "Debian libstb-dev 0.0~git20241109.5c20573+ds-1")
imgtext_require_pinned("${IMGTEXT_STB_INCLUDE_DIR}/stb_image.h" stb_image.h
    "stb_image 2.30 (${_imgtext_stb_package})" IMGTEXT_STB_INCLUDE_DIR)
imgtext_require_pinned("${IMGTEXT_STB_INCLUDE_DIR}/stb_image_write.h" stb_image_write.h
    "stb_image_write 1.16 (${_imgtext_stb_package})" IMGTEXT_STB_INCLUDE_DIR)
imgtext_require_pinned("${IMGTEXT_STB_INCLUDE_DIR}/stb_truetype.h" stb_truetype.h
    "stb_truetype 1.26 (${_imgtext_stb_package})" IMGTEXT_STB_INCLUDE_DIR)
imgtext_require_pinned("${IMGTEXT_FONT_FILE}" Caladea-Regular.ttf
    "Caladea Regular Version 1.002 (Debian fonts-crosextra-caladea 20130214-2.1)" IMGTEXT_FONT_FILE)
set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_imgtext_pins}")

# Fixes to stb_image 2.30, applied to a copy in the build tree. Each is an
# exact replacement of code that must occur once in the pinned header, so a
# different header stops the configure instead of building unfixed. Every
# value a valid file decoded to before is unchanged.
set(_stb_fixed_dir "${CMAKE_BINARY_DIR}/stb-fixed")
file(READ "${IMGTEXT_STB_INCLUDE_DIR}/stb_image.h" _stb_image)

# Replaces `unfixed` with `fixed` in the copy being built (_stb_image).
function(imgtext_fix_stb_image unfixed fixed)
    string(FIND "${_stb_image}" "${unfixed}" first)
    string(FIND "${_stb_image}" "${unfixed}" last REVERSE)
    if(first EQUAL -1 OR NOT first EQUAL last)
        message(FATAL_ERROR "stb_image.h does not contain exactly once the code this build fixes:\n${unfixed}")
    endif()
    string(REPLACE "${unfixed}" "${fixed}" fixed_image "${_stb_image}")
    set(_stb_image "${fixed_image}" PARENT_SCOPE)
endfunction()

# Removing the white matte from a partly transparent PSD pixel converts a
# negative float to unsigned char, which is undefined (the byte then depends
# on compiler and optimisation level). Clamp at 0.
foreach(channel 0 1 2)
    set(_value "pixel[${channel}]*ra + inv_a")
    imgtext_fix_stb_image("pixel[${channel}] = (unsigned char) (${_value});"
                    "pixel[${channel}] = (unsigned char) ((${_value}) > 0.0f ? (${_value}) : 0.0f);")
endforeach()

# A BMP's pixels may use palette indices past the end of the palette the file
# gives (a 1-entry palette with indices up to 255): those entries were never
# written, so stack memory went into the picture. They read as zero.
imgtext_fix_stb_image([=[unsigned int mr=0,mg=0,mb=0,ma=0, all_a;
   stbi_uc pal[256][4];]=] [=[unsigned int mr=0,mg=0,mb=0,ma=0, all_a;
   stbi_uc pal[256][4] = {{0}};]=])

# The same in PNG: a palette image's indices may pass the end of its PLTE
# chunk, and the rest of the palette was stack memory. It reads as zero
# (transparent black, as in GIF).
imgtext_fix_stb_image([=[stbi_uc palette[1024], pal_img_n=0;]=] [=[stbi_uc palette[1024] = {0}, pal_img_n=0;]=])

# A flat (not run-length) Radiance HDR file cut short: each missing pixel's
# four bytes were left as they were, uninitialised for the first. Read them a
# byte at a time instead, so bytes past the end read as zero, as everywhere
# else in the decoder.
imgtext_fix_stb_image([=[            stbi__getn(s, rgbe, 4);]=]
                [=[            rgbe[0] = stbi__get8(s); rgbe[1] = stbi__get8(s); rgbe[2] = stbi__get8(s); rgbe[3] = stbi__get8(s);]=])

# When the 8-bit copy of a 16-bit picture cannot be allocated, the 16-bit
# pixels were leaked on the way out. Free them.
imgtext_fix_stb_image([=[   reduced = (stbi_uc *) stbi__malloc(img_len);
   if (reduced == NULL) return stbi__errpuc("outofmem", "Out of memory");]=]
                      [=[   reduced = (stbi_uc *) stbi__malloc(img_len);
   if (reduced == NULL) { STBI_FREE(orig); return stbi__errpuc("outofmem", "Out of memory"); }]=])

# A PNG whose first IDAT chunk is empty asks for its 0 bytes to be copied to
# the not yet allocated data buffer: memcpy from or to a null pointer is
# undefined even for no bytes. Copy nothing then.
imgtext_fix_stb_image([=[   if (s->img_buffer+n <= s->img_buffer_end) {
      memcpy(buffer, s->img_buffer, n);]=]
                      [=[   if (s->img_buffer+n <= s->img_buffer_end) {
      if (n > 0) memcpy(buffer, s->img_buffer, n);]=])

# Every decoder checks each side of the picture against STBI_MAX_DIMENSIONS
# as soon as its header is read, before it allocates anything; the library's
# own limits (a picture's pixel count, what the output can hold) must apply
# there too, not only where stbi_info reads the same header another way: a
# PIC header that stbi_info rejects could otherwise allocate gigabytes before
# the decoder gives up. After each such pair of checks, the decoder now asks
# IMGTEXT_STBI_DIMENSIONS_ALLOWED(height, width) and fails as for a side that
# is too large when it says no. The library's decoding (image_load.cpp)
# defines it to apply the caller's limits; other includers (tests) get a
# default that allows every size stb_image takes. The GIF decoder
# checks width first; its two checks, which fail alike, swap places so that
# every pair reads height, width.
imgtext_fix_stb_image([=[#ifndef STBI_MAX_DIMENSIONS
#define STBI_MAX_DIMENSIONS (1 << 24)
#endif]=] [=[#ifndef STBI_MAX_DIMENSIONS
#define STBI_MAX_DIMENSIONS (1 << 24)
#endif
#ifndef IMGTEXT_STBI_DIMENSIONS_ALLOWED
#define IMGTEXT_STBI_DIMENSIONS_ALLOWED(height, width) 1
#endif]=])
imgtext_fix_stb_image([=[   if (g->w > STBI_MAX_DIMENSIONS) return stbi__err("too large","Very large image (corrupt?)");
   if (g->h > STBI_MAX_DIMENSIONS) return stbi__err("too large","Very large image (corrupt?)");]=]
                      [=[   if (g->h > STBI_MAX_DIMENSIONS) return stbi__err("too large","Very large image (corrupt?)");
   if (g->w > STBI_MAX_DIMENSIONS) return stbi__err("too large","Very large image (corrupt?)");]=])
set(_check "return (stbi__err[a-z]*)\\(\"too large\",\"Very large image \\(corrupt\\?\\)\"\\);")
set(_pair "if \\(([^()]+) > STBI_MAX_DIMENSIONS\\) ${_check}(\n *)if \\(([^()]+) > STBI_MAX_DIMENSIONS\\) return stbi__err[a-z]*\\(\"too large\",\"Very large image \\(corrupt\\?\\)\"\\);")
string(REGEX REPLACE "${_pair}"
       "\\0\\3if (!IMGTEXT_STBI_DIMENSIONS_ALLOWED(\\1, \\4)) return \\2(\"too large\",\"Very large image (corrupt?)\");"
       _stb_image "${_stb_image}")
string(REGEX MATCHALL "if \\(!IMGTEXT_STBI_DIMENSIONS_ALLOWED\\(" _asked "${_stb_image}")
list(LENGTH _asked _asked_count)
if(NOT _asked_count EQUAL 9)
    message(FATAL_ERROR "stb_image.h: expected the 9 decoders' dimension checks, found ${_asked_count}")
endif()

# A file cut short is read as if zeros followed it, and most decoders then
# return a whole picture: a photo cut in half came back with a flat lower
# half and no word of it. Every read past the end of the data now calls
# IMGTEXT_STBI_PAST_END(), and each decoder's run starts with
# IMGTEXT_STBI_LOAD_BEGIN() (the format tests before it probe headers and
# may read past the end of files too short for their format). The library
# (image_load.cpp) reports a picture whose decoder read past the end as
# damaged; other includers get defaults that do nothing.
imgtext_fix_stb_image([=[#ifndef IMGTEXT_STBI_DIMENSIONS_ALLOWED]=] [=[#ifndef IMGTEXT_STBI_LOAD_BEGIN
#define IMGTEXT_STBI_LOAD_BEGIN() ((void)0)
#endif
#ifndef IMGTEXT_STBI_PAST_END
#define IMGTEXT_STBI_PAST_END() ((void)0)
#endif
#ifndef IMGTEXT_STBI_DIMENSIONS_ALLOWED]=])
imgtext_fix_stb_image([=[      return *s->img_buffer++;
   }
   return 0;
}]=] [=[      return *s->img_buffer++;
   }
   IMGTEXT_STBI_PAST_END();
   return 0;
}]=])
imgtext_fix_stb_image([=[   } else
      return 0;
}]=] [=[   } else {
      IMGTEXT_STBI_PAST_END();
      return 0;
   }
}]=])
imgtext_fix_stb_image([=[   s->img_buffer += n;
}]=] [=[   if (n > s->img_buffer_end - s->img_buffer) IMGTEXT_STBI_PAST_END();
   s->img_buffer += n;
}]=])
imgtext_fix_stb_image([=[      float *hdr = stbi__hdr_load(s, x,y,comp,req_comp, ri);]=]
                      [=[      IMGTEXT_STBI_LOAD_BEGIN();
      float *hdr = stbi__hdr_load(s, x,y,comp,req_comp, ri);]=])
string(REGEX REPLACE "return stbi__([a-z]+)_load\\(s," "return IMGTEXT_STBI_LOAD_BEGIN(), stbi__\\1_load(s,"
       _stb_image "${_stb_image}")
string(REGEX MATCHALL "return IMGTEXT_STBI_LOAD_BEGIN\\(\\), stbi__" _begun "${_stb_image}")
list(LENGTH _begun _begun_count)
if(NOT _begun_count EQUAL 8)
    message(FATAL_ERROR "stb_image.h: expected 8 decoders called from stbi__load_main, found ${_begun_count}")
endif()

file(WRITE "${_stb_fixed_dir}/stb_image.h.in" "${_stb_image}")
# Rewrites the header only when it changed, so builds stay incremental.
configure_file("${_stb_fixed_dir}/stb_image.h.in" "${_stb_fixed_dir}/stb_image.h" COPYONLY)

# Replaces every occurrence of `unfixed` with `fixed` in the stb_truetype
# copy being built (_stb_truetype), failing the configure if there is none.
function(imgtext_fix_stb_truetype unfixed fixed)
    string(FIND "${_stb_truetype}" "${unfixed}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "stb_truetype.h does not contain the code this build changes:\n${unfixed}")
    endif()
    string(REPLACE "${unfixed}" "${fixed}" fixed_font "${_stb_truetype}")
    set(_stb_truetype "${fixed_font}" PARENT_SCOPE)
endfunction()

# Two changes to stb_truetype 1.26's rasteriser, applied to a copy in the
# build tree like the fix above:
# - A window. Text is clipped to the picture, yet the rasteriser fills every
#   row and column of a glyph's bitmap: 'M' at 60,000 px is 1.4 GB of
#   coverage, of which an 8 x 8 picture shows 64 bytes. The bitmap record
#   gains the window to keep (x0, y0 inclusive, x1, y1 exclusive; x1 = y1 = 0
#   keeps it all). Edges are still stepped through every row from the glyph's
#   top, and each kept row is still filled and summed from the glyph's left
#   edge, so every kept byte is the one the whole bitmap would hold: rows
#   above the window only skip their fill, and rows below it are not visited.
# - The scanline buffer's allocation is checked. Unchecked, a glyph wider
#   than 64 px crashes when memory runs out, where every other allocation in
#   the rasteriser already fails by leaving the glyph out.
file(READ "${IMGTEXT_STB_INCLUDE_DIR}/stb_truetype.h" _stb_truetype)
imgtext_fix_stb_truetype(
    "   int w,h,stride;\n   unsigned char *pixels;\n} stbtt__bitmap;"
    "   int w,h,stride;\n   unsigned char *pixels;\n   int x0,y0,x1,y1;\n} stbtt__bitmap;")
imgtext_fix_stb_truetype(
    "   stbtt__bitmap gbm;\n"
    "   stbtt__bitmap gbm = {0};\n")
imgtext_fix_stb_truetype(
    "      scanline = scanline_data;\n\n   scanline2 = scanline + result->w;"
    "      scanline = scanline_data;\n   if (scanline == NULL) return;\n   int windowed = result->x1 > 0 || result->y1 > 0;\n   int row_end = windowed ? result->y1 : result->h;\n   int col_end = windowed ? result->x1 : result->w;\n\n   scanline2 = scanline + result->w;")
imgtext_fix_stb_truetype(
    "   while (j < result->h) {\n      // find center of pixel for this scanline\n      float scan_y_top    = y + 0.0f;\n      float scan_y_bottom = y + 1.0f;\n      stbtt__active_edge **step = &active;\n\n      STBTT_memset(scanline , 0, result->w*sizeof(scanline[0]));\n      STBTT_memset(scanline2, 0, (result->w+1)*sizeof(scanline[0]));"
    "   while (j < row_end) {\n      // find center of pixel for this scanline\n      float scan_y_top    = y + 0.0f;\n      float scan_y_bottom = y + 1.0f;\n      stbtt__active_edge **step = &active;\n      int kept = !windowed || j >= result->y0;\n\n      if (kept) STBTT_memset(scanline , 0, result->w*sizeof(scanline[0]));\n      if (kept) STBTT_memset(scanline2, 0, (result->w+1)*sizeof(scanline[0]));")
imgtext_fix_stb_truetype(
    "      if (active)\n         stbtt__fill_active_edges_new(scanline, scanline2+1, result->w, active, scan_y_top);\n\n      {\n         float sum = 0;\n         for (i=0; i < result->w; ++i) {"
    "      if (active && kept)\n         stbtt__fill_active_edges_new(scanline, scanline2+1, result->w, active, scan_y_top);\n\n      if (kept) {\n         float sum = 0;\n         for (i=0; i < col_end; ++i) {")
imgtext_fix_stb_truetype(
    "            result->pixels[j*result->stride + i] = (unsigned char) m;"
    "            if (!windowed) result->pixels[j*result->stride + i] = (unsigned char) m;\n            else if (i >= result->x0) result->pixels[(j-result->y0)*result->stride + (i-result->x0)] = (unsigned char) m;")
# Fixes for hostile font files. stb_truetype trusts every offset, count and
# program in a font; the library validates at load time everything it can
# (src/font_validation.cpp), and these changes close the paths that
# validation cannot reach or that stb_truetype gets wrong by itself. None of
# them changes what a well-formed font draws.
#
# - CFF data is read through a bounded buffer, but stb_truetype gives it a
#   length of 512 MB wherever the table ends: give it the table's own length
#   (found beside the offset in the table directory; validation has checked
#   the table lies inside the file).
imgtext_fix_stb_truetype(
    "static int stbtt_GetFontOffsetForIndex_internal(unsigned char *font_collection, int index)\n{"
    [=[// The length the table directory gives the first table with the tag.
static stbtt_uint32 stbtt__find_table_length(stbtt_uint8 *data, stbtt_uint32 fontstart, const char *tag)
{
   stbtt_int32 num_tables = ttUSHORT(data+fontstart+4);
   stbtt_uint32 tabledir = fontstart + 12;
   stbtt_int32 i;
   for (i=0; i < num_tables; ++i) {
      stbtt_uint32 loc = tabledir + 16*i;
      if (stbtt_tag(data+loc+0, tag))
         return ttULONG(data+loc+12);
   }
   return 0;
}

static int stbtt_GetFontOffsetForIndex_internal(unsigned char *font_collection, int index)
{]=])
imgtext_fix_stb_truetype(
    "      // @TODO this should use size from table (not 512MB)\n      info->cff = stbtt__new_buf(data+cff, 512*1024*1024);"
    "      info->cff = stbtt__new_buf(data+cff, stbtt__find_table_length(data, fontstart, \"CFF \"));")
# - Skipping forward or back by a count read from the file could overflow
#   the cursor's int; a skip that leaves the buffer now lands at its end,
#   where every read gives 0, as a seek outside it already did.
imgtext_fix_stb_truetype(
    "   stbtt__buf_seek(b, b->cursor + o);"
    "   stbtt__buf_seek(b, (o > b->size - b->cursor || o < -b->cursor) ? -1 : b->cursor + o);")
# - An INDEX element is looked up only if it exists and its offsets make
#   sense (asserts alone guarded this; with them off, a bad element number or
#   offset overflowed the arithmetic below); otherwise it is empty.
imgtext_fix_stb_truetype(
    [=[   STBTT_assert(offsize >= 1 && offsize <= 4);
   stbtt__buf_skip(&b, i*offsize);
   start = stbtt__buf_get(&b, offsize);
   end = stbtt__buf_get(&b, offsize);
   return]=]
    [=[   STBTT_assert(offsize >= 1 && offsize <= 4);
   if (i < 0 || i >= count || offsize < 1 || offsize > 4) return stbtt__new_buf(NULL, 0);
   stbtt__buf_skip(&b, i*offsize);
   start = stbtt__buf_get(&b, offsize);
   end = stbtt__buf_get(&b, offsize);
   if (start < 0 || end < start || 2+(count+1)*offsize > b.size - start) return stbtt__new_buf(NULL, 0);
   return]=])
# - A glyph that no FDSelect range covers was meant to get no local
#   subroutines; the missing return looked up font DICT -1 instead.
imgtext_fix_stb_truetype(
    "   if (fdselector == -1) stbtt__new_buf(NULL, 0);"
    "   if (fdselector == -1) return stbtt__new_buf(NULL, 0);")
# - Charstrings are programs. Subroutine calls nest at most 10 deep, but a
#   subroutine that calls another many times, ten levels down, runs for
#   ever in effect: stop a glyph after IMGTEXT_STB_MAX_CHARSTRING_STEPS
#   steps (2^18, from src/font/font.cpp; real glyphs take a few thousand)
#   and draw nothing for it. The steps a run took stay in its context, for
#   the library to charge them to the drawing call (see src/font/font.cpp).
imgtext_fix_stb_truetype(
    "   stbtt_vertex *pvertices;\n   int num_vertices;\n} stbtt__csctx;\n\n#define STBTT__CSCTX_INIT(bounds) {bounds,0, 0,0, 0,0, 0,0,0,0, NULL, 0}"
    "   stbtt_vertex *pvertices;\n   int num_vertices;\n   int steps;\n} stbtt__csctx;\n\n#define STBTT__CSCTX_INIT(bounds) {bounds,0, 0,0, 0,0, 0,0,0,0, NULL, 0, 0}")
imgtext_fix_stb_truetype(
    "   b = stbtt__cff_index_get(info->charstrings, glyph_index);\n   while (b.cursor < b.size) {\n"
    "   b = stbtt__cff_index_get(info->charstrings, glyph_index);\n   while (b.cursor < b.size) {\n      if (++c->steps > IMGTEXT_STB_MAX_CHARSTRING_STEPS) return STBTT__CSERR(\"too many steps\");\n")
# - Outline coordinates were converted from float to int (CFF) or short
#   (transformed TrueType components) with plain casts, undefined when a
#   hostile font sums or scales them out of range. Clamp to the 16-bit range
#   every outline point is stored in; values within it convert as before.
imgtext_fix_stb_truetype(
    "static void stbtt_setvertex(stbtt_vertex *v,"
    [=[static stbtt_int32 stbtt__clamp_coord(float v)
{
   if (!(v > -32768.0f)) return -32768;
   if (!(v < 32767.0f)) return 32767;
   return (stbtt_int32) v;
}

static void stbtt_setvertex(stbtt_vertex *v,]=])
imgtext_fix_stb_truetype(
    "(ctx, STBTT_vline, (int)ctx->first_x, (int)ctx->first_y, 0, 0, 0, 0);"
    "(ctx, STBTT_vline, stbtt__clamp_coord(ctx->first_x), stbtt__clamp_coord(ctx->first_y), 0, 0, 0, 0);")
imgtext_fix_stb_truetype(
    "(int)ctx->x, (int)ctx->y, 0, 0, 0, 0);"
    "stbtt__clamp_coord(ctx->x), stbtt__clamp_coord(ctx->y), 0, 0, 0, 0);")
imgtext_fix_stb_truetype(
    "(int)ctx->x, (int)ctx->y, (int)cx1, (int)cy1, (int)cx2, (int)cy2)"
    "stbtt__clamp_coord(ctx->x), stbtt__clamp_coord(ctx->y), stbtt__clamp_coord(cx1), stbtt__clamp_coord(cy1), stbtt__clamp_coord(cx2), stbtt__clamp_coord(cy2))")
foreach(_axis "x = (stbtt_vertex_type)(m * (mtx[0]*x + mtx[2]*y + mtx[4]))"
              "y = (stbtt_vertex_type)(n * (mtx[1]*x + mtx[3]*y + mtx[5]))"
              "cx = (stbtt_vertex_type)(m * (mtx[0]*x + mtx[2]*y + mtx[4]))"
              "cy = (stbtt_vertex_type)(n * (mtx[1]*x + mtx[3]*y + mtx[5]))")
    string(REPLACE "(stbtt_vertex_type)(" "(stbtt_vertex_type)stbtt__clamp_coord(" _clamped "${_axis}")
    imgtext_fix_stb_truetype("v->${_axis};" "v->${_clamped};")
endforeach()
# - A CFF glyph's points are counted, then stored in an array whose
#   allocation was not checked.
imgtext_fix_stb_truetype(
    "      output_ctx.pvertices = *pvertices;\n"
    "      if (*pvertices == NULL) return 0;\n      output_ctx.pvertices = *pvertices;\n")
# - Composite glyphs load their components recursively, without limit: a
#   cycle recursed until the stack overflowed. Carry the depth and stop at
#   the depth validation allows (IMGTEXT_STB_MAX_COMPONENT_DEPTH, from
#   src/font.cpp); deeper components are left out.
imgtext_fix_stb_truetype(
    "static int stbtt__GetGlyphShapeTT(const stbtt_fontinfo *info, int glyph_index, stbtt_vertex **pvertices)\n{"
    "static int stbtt__GetGlyphShapeTT_at(const stbtt_fontinfo *info, int glyph_index, stbtt_vertex **pvertices, int depth)\n{")
imgtext_fix_stb_truetype(
    "         comp_num_verts = stbtt_GetGlyphShape(info, gidx, &comp_verts);"
    "         comp_num_verts = depth < IMGTEXT_STB_MAX_COMPONENT_DEPTH ? stbtt__GetGlyphShapeTT_at(info, gidx, &comp_verts, depth + 1) : 0;")
imgtext_fix_stb_truetype(
    "typedef struct\n{\n   int bounds;"
    [=[static int stbtt__GetGlyphShapeTT(const stbtt_fontinfo *info, int glyph_index, stbtt_vertex **pvertices)
{
   return stbtt__GetGlyphShapeTT_at(info, glyph_index, pvertices, 0);
}

typedef struct
{
   int bounds;]=])
# - A component placed by matching points (not supported) kept its two
#   point numbers unread, so the rest of the record was read from the wrong
#   place: skip them, and place the component unmoved as before.
imgtext_fix_stb_truetype(
    "            // @TODO handle matching point\n            STBTT_assert(0);\n"
    "            // @TODO handle matching point\n            comp += (flags & 1) ? 4 : 2;\n")
# - A glyph whose last contour is a single off-curve point read the point
#   after it, past the array: that contour now starts at the point itself.
imgtext_fix_stb_truetype(
    "               if (!(vertices[off+i+1].type & 1)) {"
    "               if (i+1 >= n) {\n                  sx = x;\n                  sy = y;\n               } else if (!(vertices[off+i+1].type & 1)) {")
# - GPOS pair sets: the pair set's offset and count were read before the
#   coverage index was compared with the number of pair sets.
imgtext_fix_stb_truetype(
    [=[                  stbtt_uint16 pairPosOffset = ttUSHORT(table + 10 + 2 * coverageIndex);
                  stbtt_uint8 *pairValueTable = table + pairPosOffset;
                  stbtt_uint16 pairValueCount = ttUSHORT(pairValueTable);]=]
    [=[                  stbtt_uint16 pairPosOffset = coverageIndex < pairSetCount ? ttUSHORT(table + 10 + 2 * coverageIndex) : 0;
                  stbtt_uint8 *pairValueTable = table + pairPosOffset;
                  stbtt_uint16 pairValueCount = coverageIndex < pairSetCount ? ttUSHORT(pairValueTable) : 0;]=])
# - Curves are split until flat, up to 65,536 pieces each, and the count of
#   points is an int: many wild curves at a large size overflowed it. Past
#   2^22 points a glyph's remaining curves are drawn as straight lines.
imgtext_fix_stb_truetype(
    "   if (dx*dx+dy*dy > objspace_flatness_squared) {"
    "   if (dx*dx+dy*dy > objspace_flatness_squared && *num_points < (1 << 22)) {")
imgtext_fix_stb_truetype(
    "   if (flatness_squared > objspace_flatness_squared) {"
    "   if (flatness_squared > objspace_flatness_squared && *num_points < (1 << 22)) {")

file(WRITE "${_stb_fixed_dir}/stb_truetype.h.in" "${_stb_truetype}")
configure_file("${_stb_fixed_dir}/stb_truetype.h.in" "${_stb_fixed_dir}/stb_truetype.h" COPYONLY)

# Include path for stb: the fixed copies first, then the pinned folder.
set(IMGTEXT_STB_INCLUDE_DIRS "${_stb_fixed_dir}" "${IMGTEXT_STB_INCLUDE_DIR}")
