// JPEG decoding that gives exactly what stb_image 2.30 gives in this
// library, for the files most pictures are: 8-bit baseline (one interleaved
// scan, or one grey scan) and progressive, grey or YCbCr, components sampled
// once or twice across and down. stb_image remains the reference: every
// decision it makes is made here the same way, damaged files included -
// the marker walk, the Huffman decoding with its lookahead tables and its
// treatment of the bytes after the data runs out, the restart handling, the
// checks and their failure reasons, and the arithmetic of its x86 kernels
// (the integer IDCT with its 16-bit intermediate steps, the upsampling
// filters and the fixed-point YCbCr conversion). Where it would meet
// something else (other samplings, CMYK, RGB ids after the scan, several
// baseline scans, a failure that leaves no reason of its own) it stops and
// says so, and the caller hands the file to stb_image.
//
// What differs is where the time and memory go:
// - the entropy decoder reads through a 64-bit lookahead filled eight bytes
//   at a time, keeping stb's count of loaded bits beside it (that count
//   decides where damaged data ends); far from the end of the data one
//   lookup decodes a code together with its value bits, or two such codes;
// - baseline pictures are decoded an MCU row at a time into a small ring of
//   component rows and upsampled and colour-converted straight into the
//   RGBA result as soon as the rows each output row needs are there, so
//   neither full-size component planes nor a separate conversion pass
//   exist (stb holds every plane at full size);
// - progressive pictures keep stb's coefficient arrays and do the same at
//   the end;
// - a baseline block whose only value is its DC is written as the one
//   value the IDCT would give all its pixels, with no transform;
// - the IDCT runs on two blocks at once, and the upsampling and colour
//   conversion on 16 pixels, with AVX2 where the processor has it, with
//   SSE2 otherwise; the portable code computes the same 16-bit steps one
//   lane at a time;
// - on request, a baseline scan's blocks become pixels on a second thread
//   while the calling one goes on decoding the data.
//
// This unit walks the file and is the entry point. The decoder's class is
// in decoder.h; its markers and headers in markers.cpp; the entropy-coded
// data in scans.cpp, with the bit reader (bit_reader.h) inlined in the
// block decoding; the output in output.cpp; the IDCT queue, the two-thread
// strip pipeline and the kernels in idct_queue.h, strip_pipeline.h,
// kernels.cpp and (AVX2) kernels_avx2.cpp.
#include "codecs/jpeg/jpeg_decoder.h"

#include <new>

#include "codecs/jpeg/decoder.h"
#include "codecs/jpeg/kernels.h"

namespace imgtext::jpeg {

// The reference's walk over the file: the headers up to the frame, then
// each scan and the segments between scans, up to the end marker.
outcome decoder::decode_image() {
    restart_interval_ = 0;
    outcome o = decode_header();
    if (o != outcome::ok) return o;
    o = setup_output();
    if (o != outcome::ok) return o;
    int m = get_marker();
    while (m != 0xD9) {
        if (m == 0xDA) {
            o = process_scan_header();
            if (o != outcome::ok) return o;
            o = parse_entropy_coded_data();
            if (o != outcome::ok) return o;
            end_scan();
            note_bytes_used_past_end(img_y_);  // a progressive scan's: where the data ran out is its own
            if (rd_.marker == k_marker_none) rd_.marker = skip_junk_at_end();
            m = get_marker();
            if (m >= 0xD0 && m <= 0xD7) m = get_marker();
        } else if (m == 0xDC) {
            const int ld = get16();
            const int nl = get16();
            if (ld != 4) return fail("bad DNL len");
            if (nl != img_y_) return fail("bad DNL height");
            m = get_marker();
        } else {
            // A marker the reference cannot take here ends the picture,
            // successfully, with what has been decoded so far.
            if (process_marker(m) != outcome::ok) break;
            m = get_marker();
        }
    }
    note_end_of_walk(m == 0xD9);
    // Only a progressive picture that reached its end marker gets its
    // coefficients transformed; the others keep the zeroed planes.
    if (progressive_ && m == 0xD9)
        finish_progressive();
    else
        finish_baseline();
    return outcome::ok;
}

// A walk that ran out of bytes before the end marker lost data if the
// picture needed more: a progressive one (its later scans, and the end
// marker before which nothing is transformed), or one with no scan at all.
// A baseline picture whose scan is whole lacks only the marker.
void decoder::note_end_of_walk(bool end_marker) {
    note_bytes_used_past_end(scans_ == 0 ? 0 : img_y_);
    if (damage_.truncated || end_marker || !at_eof()) return;
    if (progressive_ || scans_ == 0) {
        damage_.truncated = true;
        damage_.from_row = progressive_ ? -1 : 0;
        damage_.scans = progressive_ ? progressive_scans_ : 0;
    }
}

jpeg_decode_result decoder::run(int *width, int *height, unsigned char **pixels, const char **reason,
                                jpeg_damage *damage) {
    const outcome o = decode_image();
    if (o == outcome::defer) return jpeg_decode_result::not_handled;
    if (o == outcome::fail) {
        *reason = reason_;
        return jpeg_decode_result::failed;
    }
    // Colour handling is decided by markers anywhere in the file; rows
    // already written the other way go back to the reference.
    if (scans_ > 0 && !progressive_ && streamed_rgb_ != is_rgb()) return jpeg_decode_result::not_handled;
    if (damage) *damage = damage_;
    *width = img_x_;
    *height = img_y_;
    *pixels = output_;
    output_ = nullptr;
    return jpeg_decode_result::decoded;
}

}  // namespace imgtext::jpeg

namespace imgtext {

bool jpeg_decoder_available() { return IMGTEXT_JPEG_X86 != 0; }

jpeg_decode_result decode_jpeg_rgba(const unsigned char *data, int size, int *width, int *height,
                                    unsigned char **pixels, const char **failure_reason, jpeg_decode_kernel kernel,
                                    int threads, jpeg_damage *damage) {
    if (!jpeg_decoder_available() || size < 1 || data[0] != 0xFF) return jpeg_decode_result::not_handled;
    jpeg::decoder *d = new (std::nothrow) jpeg::decoder(data, size, kernel, threads);
    if (!d) return jpeg_decode_result::not_handled;
    const jpeg_decode_result result = d->run(width, height, pixels, failure_reason, damage);
    delete d;
    return result;
}

jpeg_decode_result decode_jpeg_rows(const unsigned char *data, int size, jpeg_row_sink &sink, int *width, int *height,
                                    const char **failure_reason, int threads, jpeg_damage *damage) {
    if (!jpeg_decoder_available() || size < 1 || data[0] != 0xFF) return jpeg_decode_result::not_handled;
    jpeg::decoder *d = new (std::nothrow) jpeg::decoder(data, size, jpeg_decode_kernel::automatic, threads);
    if (!d) return jpeg_decode_result::not_handled;
    d->send_rows_to(&sink);
    unsigned char *none = nullptr;
    const jpeg_decode_result result = d->run(width, height, &none, failure_reason, damage);
    delete d;
    return result;
}

}  // namespace imgtext
