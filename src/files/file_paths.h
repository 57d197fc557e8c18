// How a path argument is to be read. On POSIX systems a path is bytes either
// way. On Windows the seven calls' paths are in the ANSI code page, as the C
// runtime takes them, and the drawing API's are UTF-8; both become UTF-16 for
// the wide file functions, so the drawing API reaches any file name.
#ifndef IMGTEXT_FILE_PATHS_H
#define IMGTEXT_FILE_PATHS_H

namespace imgtext {

enum class path_encoding { native, utf8 };

#if defined(_WIN32)
// A malloc'd UTF-16 copy of path, or null (out of memory, invalid bytes).
wchar_t *wide_path(const char *path, path_encoding encoding);
#endif

}  // namespace imgtext

#endif
