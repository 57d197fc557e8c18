// Files as the tool sees them.
#include "files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "quendal_imgtext.h"

#if defined(_WIN32)
#  include <fcntl.h>
#  include <io.h>
#  include <windows.h>
#endif

namespace {

std::filesystem::path fs_path(const std::string &path) {
#if defined(_WIN32)
    return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t *>(path.data()), path.size()));
#else
    return std::filesystem::path(path);
#endif
}

std::string utf8_of(const std::filesystem::path &path) {
    const auto text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

// The extensions of what the library decodes.
bool is_picture_name(const std::string &name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return false;
    std::string ext = name.substr(dot + 1);
    for (char &c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    static const char *const known[] = {"png", "jpg", "jpeg", "jpe", "bmp", "gif", "tga",
                                        "psd", "pic", "pnm",  "ppm", "pgm", "hdr"};
    return std::any_of(std::begin(known), std::end(known), [&](const char *k) { return ext == k; });
}

}  // namespace

std::FILE *open_file(const std::string &path, const char *mode) {
#if defined(_WIN32)
    return _wfopen(fs_path(path).c_str(), fs_path(mode).c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

bool is_directory(const std::string &path) {
    std::error_code error;
    return std::filesystem::is_directory(fs_path(path), error);
}

bool path_exists(const std::string &path) {
    std::error_code error;
    return std::filesystem::exists(fs_path(path), error);
}

bool make_folders(const std::string &path, std::string &why) {
    std::error_code error;
    std::filesystem::create_directories(fs_path(path), error);
    if (!error && is_directory(path)) return true;
    why = error ? error.message() : "not a folder";
    return false;
}

bool starts_as_jpeg(const std::string &path) {
    std::FILE *f = open_file(path, "rb");
    if (!f) return false;
    unsigned char head[3] = {};
    const bool jpeg = std::fread(head, 1, 3, f) == 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
    std::fclose(f);
    return jpeg;
}

std::string why_unreadable(const std::string &path) {
    if (is_directory(path)) return "is a folder";
    errno = 0;
    std::FILE *file = open_file(path, "rb");
    if (!file) return errno ? std::strerror(errno) : "cannot open";
    std::fclose(file);
    return "";
}

// Read through stdio, whose errors come back as values: libstdc++'s file
// streams throw from inside istreambuf_iterator when a read fails, as reading
// a folder does.
std::optional<std::string> read_text_file(const std::string &path, std::string &why) {
    if (path != "-" && is_directory(path)) {
        why = "is a folder";
        return std::nullopt;
    }
    errno = 0;
    std::FILE *in = path == "-" ? stdin : open_file(path, "rb");
    if (!in) {
        why = errno ? std::strerror(errno) : "cannot open";
        return std::nullopt;
    }
    // The library draws at most QUENDAL_IMGTEXT_MAX_TEXT_BYTES; reading
    // stops just past that (and its line end), so that an endless standard
    // input costs a few megabytes, not all the memory there is.
    constexpr size_t k_most = QUENDAL_IMGTEXT_MAX_TEXT_BYTES + 2;
    std::string text;
    char chunk[16384];
    for (size_t n; text.size() <= k_most && (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) text.append(chunk, n);
    if (text.size() > k_most) {
        if (in != stdin) std::fclose(in);
        why = "more than " + std::to_string(QUENDAL_IMGTEXT_MAX_TEXT_BYTES) + " bytes of text";
        return std::nullopt;
    }
    const bool failed = std::ferror(in) != 0;
    const int error = errno;
    if (in != stdin) std::fclose(in);
    if (failed) {
        why = error == EISDIR ? "is a folder" : error ? std::strerror(error) : "read error";
        return std::nullopt;
    }
    // Text files end with a newline that nobody means as an empty last line.
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
    return text;
}

// The buffer grows by doubling, but never past limit + 1 bytes, and goes
// straight there when the next doubling would not hold them: left to grow
// by itself, a string holding 512 MiB would double to 1 GiB for the one
// byte past the limit, copying all it holds, twice the memory the limit
// promises.
std::optional<std::string> read_standard_input(size_t limit) {
#if defined(_WIN32)
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    const size_t most = limit < SIZE_MAX ? limit + 1 : limit;
    std::string data;
    char chunk[65536];
    errno = 0;
    while (data.size() < most) {
        const size_t n = std::fread(chunk, 1, std::min(sizeof chunk, most - data.size()), stdin);
        if (n == 0) break;
        if (n > data.capacity() - data.size()) {
            const size_t doubled = std::max(data.size() + n, std::max(sizeof chunk, data.capacity() * 2));
            data.reserve(doubled > most / 2 ? most : doubled);
        }
        data.append(chunk, n);
    }
    if (std::ferror(stdin)) return std::nullopt;
    return data;
}

std::optional<std::pair<uint64_t, uint64_t>> file_identity(const std::string &path) {
#if defined(_WIN32)
    const HANDLE file = CreateFileW(fs_path(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    if (!known) return std::nullopt;
    return std::make_pair(static_cast<uint64_t>(info.dwVolumeSerialNumber),
                          (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return std::make_pair(static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino));
#endif
}

std::optional<std::vector<std::string>> list_pictures(const std::string &folder, bool recursive,
                                                      std::optional<std::pair<uint64_t, uint64_t>> skip,
                                                      std::string &why) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path top = fs_path(folder);
    const size_t top_length = utf8_of(top).size();
    // Symbolic links to folders are not followed, so a link to a parent
    // cannot make the walk endless.
    fs::recursive_directory_iterator it(top, fs::directory_options::none, error), end;
    std::vector<std::string> names;
    for (; !error && it != end; it.increment(error)) {
        const std::string name = utf8_of(it->path().filename());
        const bool hidden = !name.empty() && name[0] == '.';
        std::error_code kind_error;
        if (it->is_directory(kind_error)) {
            if (!recursive || hidden || (skip && file_identity(utf8_of(it->path())) == skip))
                it.disable_recursion_pending();
            continue;
        }
        if (!hidden && is_picture_name(name) && it->is_regular_file(kind_error)) {
            // The walk's paths are the folder's own spelling with names added.
            std::string relative = utf8_of(it->path()).substr(top_length);
            while (!relative.empty() && relative[0] == '/') relative.erase(0, 1);
            names.push_back(relative);
        }
    }
    if (error) {
        why = error.message();
        return std::nullopt;
    }
    std::sort(names.begin(), names.end());
    return names;
}

void binary_standard_output() {
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);
#endif
}
