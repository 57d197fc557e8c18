// Reading a whole input file into memory.
#ifndef IMGTEXT_FILE_INPUT_H
#define IMGTEXT_FILE_INPUT_H

#include <cstddef>

#include "files/file_paths.h"
#include "quendal_imgtext.h"

namespace imgtext {

// Reads the whole file into one malloc'd buffer of exactly its size. Empty
// files and files of 2 GiB or more (beyond what the decoders take) are
// unreadable here. Fails with IMGTEXT_ERROR_READ, "cannot read file: <path>".
imgtext_status read_whole_file(const char *path, path_encoding encoding, unsigned char **data, size_t *size);

}  // namespace imgtext

#endif
