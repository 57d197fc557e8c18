// Reading a whole input file into memory.
#ifndef IMGTEXT_FILE_INPUT_H
#define IMGTEXT_FILE_INPUT_H

#include <cstddef>
#include <cstdint>

#include "files/file_paths.h"
#include "quendal_imgtext.h"

namespace imgtext {

// Reads the whole file into one malloc'd buffer of exactly its size. Empty
// files and files of 2 GiB or more (beyond what the decoders take) are
// unreadable here: IMGTEXT_ERROR_READ, "cannot read file: <path>". A file
// larger than `limit` bytes (0: no limit) is refused unread with
// input_too_large's message.
imgtext_status read_whole_file(const char *path, path_encoding encoding, unsigned char **data, size_t *size,
                               uint64_t limit = 0);

// IMGTEXT_ERROR_LIMIT, "input too large: <path> is more than <limit> bytes"
// (without the path for data in memory).
imgtext_status input_too_large(const char *path, uint64_t limit);

}  // namespace imgtext

#endif
