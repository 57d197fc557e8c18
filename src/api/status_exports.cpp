// The drawing API's status exports: this thread's message, the names of the
// status codes, and the version of the library that is loaded.
#include "api/export_guard.h"
#include "frame/errors.h"
#include "quendal_imgtext.h"

using namespace imgtext;

extern "C" const char *imgtext_error_message(void) {
    return api_value("", [] { return error_text(); });
}

extern "C" const char *imgtext_status_name(int status) {
    return api_value("unknown", [&] {
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
    });
}

extern "C" const char *imgtext_version(void) {
    return api_value("", [] { return QUENDAL_IMGTEXT_VERSION_STRING; });
}
