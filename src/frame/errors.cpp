// Library frame: error reporting, the seven calls' state exports and the
// drawing API's error exports.
#include "frame/errors.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "font/font.h"

namespace imgtext {

char s_err[k_error_capacity];

namespace {
// Per thread, so a thread never reads another thread's message.
thread_local char t_message[k_error_capacity];
thread_local imgtext_status t_status = IMGTEXT_OK;
}  // namespace

imgtext_status set_error(imgtext_status status, const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(t_message, sizeof t_message, format, args);
    va_end(args);
    t_status = status;
    return status;
}

const char *error_text() { return t_message; }
imgtext_status error_status() { return t_status; }

void clear_error() {
    t_message[0] = '\0';
    t_status = IMGTEXT_OK;
}

int fail_legacy() {
    std::memcpy(s_err, t_message, sizeof s_err);
    return 0;
}

}  // namespace imgtext

using namespace imgtext;

extern "C" int imgtext_init(void) {
    clear_err();
    if (s_font_ready) return 1;
    return ensure_font_ready() ? 1 : fail_legacy();
}

extern "C" void imgtext_cleanup(void) {
    clear_err();
    // The parsed built-in font is shared, read-only and lives as long as the
    // library, so there is nothing to free: dropping the flag only makes the
    // next call check it again, as it always did.
    s_font_ready = 0;
}

extern "C" const char *imgtext_last_error(void) { return s_err; }

extern "C" const char *imgtext_error_message(void) { return t_message; }

extern "C" const char *imgtext_status_name(int status) {
    switch (status) {
        case IMGTEXT_OK: return "ok";
        case IMGTEXT_ERROR_ARGUMENT: return "argument";
        case IMGTEXT_ERROR_READ: return "read";
        case IMGTEXT_ERROR_DECODE: return "decode";
        case IMGTEXT_ERROR_LIMIT: return "limit";
        case IMGTEXT_ERROR_WRITE: return "write";
        case IMGTEXT_ERROR_MEMORY: return "memory";
        default: return "unknown";
    }
}
