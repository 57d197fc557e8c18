// Crash- and full-disk-safe file output: temporary file, checked writes,
// atomic replace. POSIX and Windows differ only in the calls at the bottom.
#include "files/file_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#  include <io.h>
#  include <process.h>
#  include <windows.h>
#else
#  include <unistd.h>
#endif

namespace imgtext {

namespace {

#if defined(_WIN32)
using stat_buf = stat_buf_t;
// Every path goes to the wide (UTF-16) functions, converted from the code
// page its caller used.
struct wide {
    wchar_t *p;
    wide(const char *path, path_encoding encoding) : p(wide_path(path, encoding)) {
        if (!p) errno = EINVAL;
    }
    ~wide() { std::free(p); }
    wide(const wide &) = delete;
    wide &operator=(const wide &) = delete;
};
int stat_path(const char *path, path_encoding e, stat_buf *st) {
    const wide w(path, e);
    return w.p ? _wstat64(w.p, st) : -1;
}
bool is_regular(const stat_buf &st) { return (st.st_mode & _S_IFMT) == _S_IFREG; }
int open_flags(const char *path, path_encoding e, int flags) {
    const wide w(path, e);
    return w.p ? _wopen(w.p, flags | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE) : -1;
}
int open_excl(const char *path, path_encoding e) { return open_flags(path, e, _O_WRONLY | _O_CREAT | _O_EXCL); }
int open_trunc(const char *path, path_encoding e) { return open_flags(path, e, _O_WRONLY | _O_CREAT | _O_TRUNC); }
int open_existing(const char *path, path_encoding e, bool for_writing) {
    return open_flags(path, e, for_writing ? _O_WRONLY : _O_RDONLY);
}
long write_some(int fd, const unsigned char *p, size_t n) {
    return _write(fd, p, static_cast<unsigned>(n > 0x40000000u ? 0x40000000u : n));
}
int close_fd(int fd) { return _close(fd); }
int remove_file(const char *path, path_encoding e) {
    const wide w(path, e);
    return w.p ? _wunlink(w.p) : -1;
}
int process_id() { return _getpid(); }
bool is_separator(char c) { return c == '/' || c == '\\'; }
void keep_owner_and_mode(int, const stat_buf &) {}  // ReplaceFile keeps the old file's attributes
// Symbolic links are not followed specially on Windows.
char *resolve_link(const char *, path_encoding, stat_buf *) { return nullptr; }
bool is_link(const char *, path_encoding) { return false; }
bool move_into_place(const char *temp, const char *final_path, path_encoding e, bool replaces_existing) {
    const wide from(temp, e), to(final_path, e);
    if (!from.p || !to.p) return false;
    if (replaces_existing && ReplaceFileW(to.p, from.p, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        return true;
    }
    return MoveFileExW(from.p, to.p, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
bool rename_was_refused() { return GetLastError() == ERROR_ACCESS_DENIED; }
int64_t size_of(int fd) { return _filelengthi64(fd); }
bool set_size(int fd, int64_t size) { return _chsize_s(fd, size) == 0; }
// Extending the file claims the space; the old bytes stay where they are.
bool reserve_space(int fd, int64_t size) { return size <= size_of(fd) || set_size(fd, size); }
bool rewind_fd(int fd) { return _lseeki64(fd, 0, SEEK_SET) == 0; }
long read_some(int fd, unsigned char *p, size_t n) {
    return _read(fd, p, static_cast<unsigned>(n > 0x40000000u ? 0x40000000u : n));
}
#else
using stat_buf = stat_buf_t;
int stat_path(const char *path, path_encoding, stat_buf *st) { return stat(path, st); }
bool is_regular(const stat_buf &st) { return S_ISREG(st.st_mode); }
// 0666 before the umask: the same permissions fopen gives a new file.
int open_excl(const char *path, path_encoding) { return ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); }
int open_trunc(const char *path, path_encoding) { return ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); }
long write_some(int fd, const unsigned char *p, size_t n) { return static_cast<long>(::write(fd, p, n)); }
int close_fd(int fd) { return ::close(fd); }
int remove_file(const char *path, path_encoding) { return ::unlink(path); }
int process_id() { return static_cast<int>(::getpid()); }
bool is_separator(char c) { return c == '/'; }
void keep_owner_and_mode(int fd, const stat_buf &st) {
    // Best effort: only root may give a file to another owner. Owner first,
    // since a change of owner clears set-id bits that the mode then restores.
    if (fchown(fd, st.st_uid, st.st_gid) != 0) { /* keep our own ownership */
    }
    fchmod(fd, st.st_mode & 07777);
}
bool is_link(const char *path, path_encoding) {
    struct stat st;
    return lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
}
// The file a symbolic link finally names, or null if it names nothing.
char *resolve_link(const char *path, path_encoding, stat_buf *st) {
    char *resolved = realpath(path, nullptr);
    if (resolved && stat(resolved, st) != 0) {
        std::free(resolved);
        return nullptr;
    }
    return resolved;
}
bool move_into_place(const char *temp, const char *final_path, path_encoding, bool) {
    return std::rename(temp, final_path) == 0;
}
bool rename_was_refused() { return errno == EACCES || errno == EPERM; }
int open_existing(const char *path, path_encoding, bool for_writing) {
    return ::open(path, (for_writing ? O_WRONLY : O_RDONLY) | O_CLOEXEC);
}
int64_t size_of(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}
bool set_size(int fd, int64_t size) { return ftruncate(fd, static_cast<off_t>(size)) == 0; }
// Allocates every block the new content needs without changing a byte of
// the old, so a full disk or a file-size limit shows before anything is
// overwritten.
bool reserve_space(int fd, int64_t size) { return size == 0 || posix_fallocate(fd, 0, static_cast<off_t>(size)) == 0; }
bool rewind_fd(int fd) { return lseek(fd, 0, SEEK_SET) == 0; }
long read_some(int fd, unsigned char *p, size_t n) { return static_cast<long>(::read(fd, p, n)); }
#endif

char *copy_string(const char *s) {
    const size_t n = std::strlen(s) + 1;
    auto *copy = static_cast<char *>(std::malloc(n));
    if (copy) std::memcpy(copy, s, n);
    return copy;
}

// The longest file name (one path component) the file systems in use take.
constexpr size_t k_name_max = 255;

// "<folder>/.<name>.<pid>.<attempt>.tmp" beside the destination, hidden on
// POSIX, so a crash leaves only an obviously temporary file. The name part
// is shortened so the whole stays a legal file name whatever the
// destination's length.
char *temporary_name(const char *destination, int attempt) {
    const size_t len = std::strlen(destination);
    size_t base = len;
    while (base > 0 && !is_separator(destination[base - 1])) --base;
    char suffix[40];
    const int suffix_len = std::snprintf(suffix, sizeof suffix, ".%d.%d.tmp", process_id(), attempt);
    const size_t room = k_name_max - 1 - static_cast<size_t>(suffix_len);
    size_t name_len = len - base < room ? len - base : room;
    // Never cut a multi-byte character in two.
    while (name_len > 0 && name_len < len - base && (destination[base + name_len] & 0xC0) == 0x80) --name_len;
    const size_t size = base + 1 + name_len + static_cast<size_t>(suffix_len) + 1;
    auto *name = static_cast<char *>(std::malloc(size));
    if (!name) return nullptr;
    std::snprintf(name, size, "%.*s.%.*s%s", static_cast<int>(base), destination, static_cast<int>(name_len),
                  destination + base, suffix);
    return name;
}

bool write_all(int fd, const unsigned char *p, size_t size) {
    while (size > 0) {
        const long n = write_some(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Overwrites an existing file with the whole new content. The space is
// reserved first; if that fails the file is given back its old size and
// nothing of it has changed.
bool write_in_place(const char *path, path_encoding encoding, const unsigned char *data, size_t size) {
    const int fd = open_existing(path, encoding, true);
    if (fd < 0) return false;
    const int64_t old_size = size_of(fd);
    if (old_size < 0 || !reserve_space(fd, static_cast<int64_t>(size))) {
        if (old_size >= 0 && size_of(fd) != old_size) set_size(fd, old_size);
        close_fd(fd);
        return false;
    }
    bool ok = rewind_fd(fd) && write_all(fd, data, size) && set_size(fd, static_cast<int64_t>(size));
    if (close_fd(fd) != 0) ok = false;
    return ok;
}

}  // namespace

bool file_output::open() {
    opened_ = true;
    buffer_ = static_cast<unsigned char *>(std::malloc(k_output_buffer_size));
    if (!buffer_) return false;
    stat_buf st{};
    if (is_link(path_, encoding_)) {
        char *target = resolve_link(path_, encoding_, &st);
        if (!target) return open_direct();  // dangling: create what it names, as fopen would
        const bool ok = is_regular(st) ? open_temporary(target, &st) : open_direct();
        std::free(target);
        return ok;
    }
    if (stat_path(path_, encoding_, &st) != 0) return open_temporary(path_, nullptr);
    if (!is_regular(st)) return open_direct();
    return open_temporary(path_, &st);
}

bool file_output::can_take_back() const {
    stat_buf st{};
    if (is_link(path_, encoding_)) {
        char *target = resolve_link(path_, encoding_, &st);
        if (!target) return false;
        std::free(target);
        return is_regular(st);
    }
    return stat_path(path_, encoding_, &st) != 0 || is_regular(st);
}

bool file_output::open_direct() {
    fd_ = open_trunc(path_, encoding_);
    return fd_ >= 0;
}

bool file_output::open_temporary(const char *destination, const stat_buf_t *existing) {
    final_path_ = copy_string(destination);
    if (!final_path_) return false;
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_path_ = temporary_name(destination, attempt);
        if (!temp_path_) return false;
        fd_ = open_excl(temp_path_, encoding_);
        if (fd_ >= 0) break;
        const int error = errno;
        std::free(temp_path_);
        temp_path_ = nullptr;
        // A writable file in a folder that allows no new files can still be
        // overwritten, as it always could: safely, in place.
        if (existing && (error == EACCES || error == EPERM || error == EROFS)) {
            in_place_ = true;
            return true;
        }
        if (error != EEXIST) return false;
    }
    if (fd_ < 0) return false;
    replaces_existing_ = existing != nullptr;
    if (existing) keep_owner_and_mode(fd_, *existing);
    return true;
}

void file_output::write(const void *data, size_t size) {
    if (failed_) return;
    if (!opened_ && !open()) {
        fail(true);
        return;
    }
    const auto *p = static_cast<const unsigned char *>(data);
    if (in_place_) {
        fail(!keep_in_memory(p, size));
        return;
    }
    if (buffered_ + size <= k_output_buffer_size) {
        std::memcpy(buffer_ + buffered_, p, size);
        buffered_ += size;
        return;
    }
    fail(!flush() || !write_through(p, size));
}

bool file_output::keep_in_memory(const unsigned char *p, size_t size) {
    if (size > whole_capacity_ - whole_size_) {
        size_t capacity = whole_capacity_ ? whole_capacity_ : k_output_buffer_size;
        while (capacity - whole_size_ < size) {
            if (capacity > SIZE_MAX / 2) return false;
            capacity *= 2;
        }
        auto *grown = static_cast<unsigned char *>(std::realloc(whole_, capacity));
        if (!grown) return false;
        whole_ = grown;
        whole_capacity_ = capacity;
    }
    std::memcpy(whole_ + whole_size_, p, size);
    whole_size_ += size;
    return true;
}

// The temporary file is complete but may not replace the destination: read
// it back and overwrite the destination in place instead.
bool file_output::replace_in_place_from_temporary() {
    const int fd = open_existing(temp_path_, encoding_, false);
    if (fd < 0) return false;
    const int64_t size = size_of(fd);
    bool ok = size >= 0 && static_cast<uint64_t>(size) <= SIZE_MAX;
    if (ok) {
        whole_ = static_cast<unsigned char *>(std::malloc(size > 0 ? static_cast<size_t>(size) : 1));
        ok = whole_ != nullptr;
    }
    for (whole_size_ = 0; ok && whole_size_ < static_cast<size_t>(size);) {
        const long n = read_some(fd, whole_ + whole_size_, static_cast<size_t>(size) - whole_size_);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            whole_size_ += static_cast<size_t>(n);
    }
    close_fd(fd);
    return ok && write_in_place(final_path_, encoding_, whole_, whole_size_);
}

bool file_output::flush() {
    const bool ok = write_through(buffer_, buffered_);
    buffered_ = 0;
    return ok;
}

bool file_output::write_through(const unsigned char *p, size_t size) { return write_all(fd_, p, size); }

bool file_output::commit() {
    if (!opened_ && !failed_) fail(!open());
    if (in_place_) {
        if (!failed_) fail(!write_in_place(final_path_, encoding_, whole_, whole_size_));
        const bool ok = !failed_;
        discard();
        return ok;
    }
    if (fd_ >= 0 && !failed_) fail(!flush());
    if (fd_ >= 0) {
        // close reports write-back errors some file systems hold until then
        fail(close_fd(fd_) != 0);
        fd_ = -1;
    }
    if (!failed_ && temp_path_) {
        if (move_into_place(temp_path_, final_path_, encoding_, replaces_existing_)) {
            std::free(temp_path_);
            temp_path_ = nullptr;
        } else {
            fail(!(replaces_existing_ && rename_was_refused() && replace_in_place_from_temporary()));
        }
    }
    const bool ok = !failed_;
    discard();
    return ok;
}

const char *system_reason(int error) {
    switch (error) {
        case ENOENT: return "no such folder";
        case ENOTDIR: return "a part of the path is not a folder";
        case EACCES:
        case EPERM: return "permission denied";
        case ENOSPC: return "disk full";
#if defined(EDQUOT)
        case EDQUOT: return "disk quota exceeded";
#endif
        case EROFS: return "read-only file system";
        case EISDIR: return "it is a folder";
        case ENAMETOOLONG: return "name too long";
        case EMFILE:
        case ENFILE: return "too many open files";
        case EFBIG: return "file too large";
        case EIO: return "input/output error";
        case ENOMEM: return "out of memory";
        default: return nullptr;
    }
}

void file_output::discard() {
    if (fd_ >= 0) close_fd(fd_);
    fd_ = -1;
    if (temp_path_) remove_file(temp_path_, encoding_);
    std::free(temp_path_);
    std::free(final_path_);
    std::free(buffer_);
    std::free(whole_);
    temp_path_ = final_path_ = nullptr;
    buffer_ = whole_ = nullptr;
    buffered_ = whole_size_ = whole_capacity_ = 0;
}

}  // namespace imgtext
