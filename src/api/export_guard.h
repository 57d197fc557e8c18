// The one way into the library: every exported function runs its body
// through one of these guards, so that no exception ever crosses the C
// boundary. The engine reports failures by status and message
// (frame/errors.h); the only exceptions it can raise are the standard
// library's allocation failures, which become IMGTEXT_ERROR_MEMORY here.
#ifndef IMGTEXT_API_EXPORT_GUARD_H
#define IMGTEXT_API_EXPORT_GUARD_H

#include <cstring>
#include <new>
#include <stdexcept>

#include "frame/errors.h"

namespace imgtext {

// Runs body, which returns an imgtext_status, and turns any exception it
// lets out into a status and this thread's message.
template <typename Body>
imgtext_status run_guarded(Body &&body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return set_error(IMGTEXT_ERROR_MEMORY, "out of memory");
    } catch (const std::length_error &) {
        return set_error(IMGTEXT_ERROR_MEMORY, "out of memory");
    } catch (...) {
        return set_error(IMGTEXT_ERROR_MEMORY, "internal error: an unexpected exception");
    }
}

// A drawing-API export that can fail: this thread's message is cleared on
// entry, and the body's status (or its exception's) is returned.
template <typename Body>
imgtext_status api_call(Body &&body) noexcept {
    clear_error();
    return run_guarded(body);
}

// An export that cannot fail (accessors, _init, _free): body's value, or
// `fallback` should it ever throw.
template <typename Value, typename Body>
Value api_value(Value fallback, Body &&body) noexcept {
    try {
        return body();
    } catch (...) {
        return fallback;
    }
}

template <typename Body>
void api_void(Body &&body) noexcept {
    try {
        body();
    } catch (...) {
    }
}

// One of the seven calls: their text and this thread's message are cleared
// on entry; they return 1 on success, or 0 with the message copied into
// their process-wide text.
template <typename Body>
int seven_call(Body &&body) noexcept {
    s_err[0] = '\0';
    clear_error();
    if (run_guarded(body) == IMGTEXT_OK) return 1;
    std::memcpy(s_err, error_text(), sizeof s_err);
    return 0;
}

}  // namespace imgtext

#endif
