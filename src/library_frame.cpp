// Library frame: error reporting and the three exports that manage state.
#include "library_frame.h"

#include <cstdarg>
#include <cstdio>

#include "font.h"
#include "quendal_imgtext.h"

namespace imgtext {

char s_err[k_error_capacity];

const char *set_err(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(s_err, sizeof s_err, format, args);
    va_end(args);
    return s_err;
}

}  // namespace imgtext

using namespace imgtext;

extern "C" int imgtext_init(void) {
    clear_err();
    if (s_font_ready) return 1;
    return ensure_font_ready();
}

extern "C" void imgtext_cleanup(void) {
    clear_err();
    // The font record only points into read-only data, so there is nothing
    // to free; dropping the flag makes the next call parse it afresh.
    s_font_ready = 0;
}

extern "C" const char *imgtext_last_error(void) { return s_err; }
