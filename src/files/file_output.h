// Writing an output file without ever reporting a failed write as success,
// and without destroying the file that was there when a write fails.
#ifndef IMGTEXT_FILE_OUTPUT_H
#define IMGTEXT_FILE_OUTPUT_H

#include <sys/stat.h>
#include <sys/types.h>
#include <cerrno>
#include <cstddef>

#include "files/file_paths.h"

namespace imgtext {

constexpr size_t k_output_buffer_size = 64 * 1024;

#if defined(_WIN32)
using stat_buf_t = struct _stat64;
#else
using stat_buf_t = struct stat;
#endif

// One output file being written. Bytes go to a temporary file beside the
// destination, which replaces the destination atomically on commit; a file
// that was replaced keeps its permissions, and a symbolic link keeps pointing
// at the file it named. Paths that are not regular files (devices, FIFOs) and
// dangling links are written directly, as a plain fopen would, with every
// write checked. An existing file that cannot be replaced (its folder allows
// no new files, or refuses the rename, as a sticky /tmp does for another
// user's file) is overwritten in place, but only once the whole new content
// is in memory and the disk space for it is reserved, so a failure still
// leaves the old bytes intact. Uses malloc only, so nothing here can throw.
class file_output {
public:
    explicit file_output(const char *path, path_encoding encoding = path_encoding::native)
        : path_(path), encoding_(encoding) {}
    ~file_output() { discard(); }
    file_output(const file_output &) = delete;
    file_output &operator=(const file_output &) = delete;

    // Appends bytes, opening the file on the first call. Small writes are
    // gathered (the encoders hand over as little as one byte at a time).
    // After the first failure later calls do nothing and commit() fails.
    void write(const void *data, size_t size);
    // Closes the file and puts it in place. Returns false if anything failed,
    // after removing any temporary file: the destination is then untouched,
    // unless it had to be written directly.
    bool commit();
    // Whether the bytes written can still be taken back without a trace:
    // the destination is a regular file or does not exist yet (a device or
    // a FIFO is written directly). Looks only; opens nothing.
    bool can_take_back() const;
    // Drops everything written so far; later writes do nothing, and
    // commit() fails.
    void abandon() {
        discard();
        failed_ = true;
    }
    // write() for encoders: `context` is the file_output.
    static void write_to(void *context, const void *data, size_t size) {
        static_cast<file_output *>(context)->write(data, size);
    }
    // After a failure, the system's error number for the first thing that
    // failed (0 if it gave none).
    int error() const { return error_; }

private:
    bool open();
    bool flush();
    bool write_through(const unsigned char *p, size_t size);
    bool open_direct();
    bool keep_in_memory(const unsigned char *p, size_t size);
    bool replace_in_place_from_temporary();
    // existing: the status of the file being replaced, or null for a new file.
    bool open_temporary(const char *destination, const stat_buf_t *existing);
    void discard();
    void fail(bool failed) {
        if (failed && !failed_) error_ = errno;
        failed_ = failed_ || failed;
    }

    const char *path_;
    path_encoding encoding_;
    char *temp_path_ = nullptr;   // null when writing the destination directly
    char *final_path_ = nullptr;  // where the temporary file goes on commit
    unsigned char *buffer_ = nullptr;
    size_t buffered_ = 0;
    int fd_ = -1;
    bool opened_ = false;
    bool replaces_existing_ = false;
    bool in_place_ = false;           // gathering everything for an in-place overwrite
    unsigned char *whole_ = nullptr;  // the whole content, when in place
    size_t whole_size_ = 0, whole_capacity_ = 0;
    bool failed_ = false;
    int error_ = 0;
};

// A short English reason for a system error number, for messages ("disk
// full", "permission denied", "no such folder"...), or null for a number
// without one. Static storage.
const char *system_reason(int error);

}  // namespace imgtext

#endif
