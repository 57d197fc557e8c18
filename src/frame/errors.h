// Library frame: how failures are reported. The engine records a status and
// a message per thread; the seven file-to-file calls copy that message into
// their one process-wide text, which is what imgtext_last_error() shows.
#ifndef IMGTEXT_LIBRARY_FRAME_H
#define IMGTEXT_LIBRARY_FRAME_H

#include "quendal_imgtext.h"

namespace imgtext {

constexpr int k_error_capacity = 512;

// The seven calls' error text; first byte 0 means "no error".
extern char s_err[k_error_capacity];

// Records a failure for the calling thread: formats the message (cut to 511
// bytes) and returns the status, so a failing function can end with
// `return set_error(...)`. Callers pass the failure up without touching the
// message again.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
imgtext_status set_error(imgtext_status status, const char *format, ...);

// This thread's message and status for its last failure.
const char *error_text();
imgtext_status error_status();
void clear_error();

// The seven calls: clear their text on entry; on failure, report with
// fail_legacy(), which copies this thread's message and returns 0.
inline void clear_err() { s_err[0] = '\0'; }
int fail_legacy();

}  // namespace imgtext

#endif
