// Reading an input file whole.
#include "files/file_input.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "frame/errors.h"

#if defined(_WIN32)
#  include <windows.h>
#endif

namespace imgtext {

#if defined(_WIN32)
wchar_t *wide_path(const char *path, path_encoding encoding) {
    const UINT code_page = encoding == path_encoding::utf8 ? CP_UTF8 : CP_ACP;
    const DWORD flags = encoding == path_encoding::utf8 ? MB_ERR_INVALID_CHARS : 0;
    const int n = MultiByteToWideChar(code_page, flags, path, -1, nullptr, 0);
    if (n <= 0) return nullptr;
    auto *wide = static_cast<wchar_t *>(std::malloc(static_cast<size_t>(n) * sizeof(wchar_t)));
    if (wide && MultiByteToWideChar(code_page, flags, path, -1, wide, n) != n) {
        std::free(wide);
        return nullptr;
    }
    return wide;
}
#endif

namespace {

FILE *open_for_reading(const char *path, path_encoding encoding) {
#if defined(_WIN32)
    wchar_t *wide = wide_path(path, encoding);
    if (!wide) return nullptr;
    FILE *file = _wfopen(wide, L"rb");
    std::free(wide);
    return file;
#else
    (void)encoding;
    return std::fopen(path, "rb");
#endif
}

}  // namespace

imgtext_status input_too_large(const char *path, uint64_t limit) {
    if (!path)
        return set_error(IMGTEXT_ERROR_LIMIT, "input too large: more than %.0f bytes", static_cast<double>(limit));
    return set_error(IMGTEXT_ERROR_LIMIT, "input too large: %s is more than %.0f bytes", path,
                     static_cast<double>(limit));
}

imgtext_status read_whole_file(const char *path, path_encoding encoding, unsigned char **data, size_t *size,
                               uint64_t limit) {
    FILE *file = open_for_reading(path, encoding);
    if (!file) return set_error(IMGTEXT_ERROR_READ, "cannot read file: %s", path);

    long length = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) length = std::ftell(file);
    if (limit && length > 0 && static_cast<uint64_t>(length) > limit) {
        std::fclose(file);
        return input_too_large(path, limit);
    }
    if (length <= 0 || length > INT_MAX) {
        std::fclose(file);
        return set_error(IMGTEXT_ERROR_READ, "cannot read file: %s", path);
    }
    std::rewind(file);

    auto *buffer = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(length)));
    const size_t got = buffer ? std::fread(buffer, 1, static_cast<size_t>(length), file) : 0;
    std::fclose(file);
    if (got != static_cast<size_t>(length)) {
        std::free(buffer);
        return set_error(IMGTEXT_ERROR_READ, "cannot read file: %s", path);
    }
    *data = buffer;
    *size = static_cast<size_t>(length);
    return IMGTEXT_OK;
}

}  // namespace imgtext
