// Error state: how a failure travels. The engine records a status and a
// message for the calling thread and returns the status; the exports hand
// the status to the caller, and the seven calls, which report through one
// process-wide text, copy the message into it (src/api/export_guard.h).
// Nothing here is exported, and nothing here depends on the rest.
#ifndef IMGTEXT_FRAME_ERRORS_H
#define IMGTEXT_FRAME_ERRORS_H

#include "quendal_imgtext.h"

namespace imgtext {

constexpr int k_error_capacity = 512;

// The seven calls' error text; first byte 0 means "no error".
extern char s_err[k_error_capacity];

// Records a failure for the calling thread: formats the message (cut to 511
// bytes) and returns the status, so a failing function can end with
// `return set_error(...)`. Callers pass the status up without touching the
// message again.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
imgtext_status
set_error(imgtext_status status, const char *format, ...);

// This thread's message and status for its last failure.
const char *error_text();
imgtext_status error_status();
void clear_error();

}  // namespace imgtext

#endif
