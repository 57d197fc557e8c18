// Library frame: the process-wide error text and the one way to set it.
#ifndef IMGTEXT_LIBRARY_FRAME_H
#define IMGTEXT_LIBRARY_FRAME_H

namespace imgtext {

constexpr int k_error_capacity = 512;

// The text of the most recent failure; first byte 0 means "no error".
extern char s_err[k_error_capacity];

// Formats a message into s_err (cut to 511 bytes) and returns s_err. A failing
// function calls this at the point of failure, then returns 0; callers pass
// the 0 up without touching the message again.
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
const char *set_err(const char *format, ...);

inline void clear_err() { s_err[0] = '\0'; }

}  // namespace imgtext

#endif
