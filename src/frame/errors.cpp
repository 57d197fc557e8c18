// Error state: the per-thread message and status, and the seven calls'
// process-wide text.
#include "frame/errors.h"

#include <cstdarg>
#include <cstdio>

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

}  // namespace imgtext
