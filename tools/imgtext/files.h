// Files as the tool sees them: paths are UTF-8 on every platform (on Windows
// the command line is read as UTF-16 and converted), matching the library's
// drawing API.
#ifndef IMGTEXT_TOOL_FILES_H
#define IMGTEXT_TOOL_FILES_H

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

std::FILE *open_file(const std::string &path, const char *mode);
bool is_directory(const std::string &path);
bool path_exists(const std::string &path);

// Creates the folder and any missing parents; on failure, why not.
bool make_folders(const std::string &path, std::string &why);

// Whether the file begins as a JPEG does (FF D8 FF).
bool starts_as_jpeg(const std::string &path);

// Why a file cannot be opened for reading ("No such file or directory", "is
// a folder"), or "" if it can.
std::string why_unreadable(const std::string &path);

// The whole of a file, or of standard input for "-", as text: a final line
// break is dropped. On failure, why not.
std::optional<std::string> read_text_file(const std::string &path, std::string &why);

// Standard input as bytes, in binary mode, but never more than limit + 1
// of them: that much already shows the picture is too large, and reading on
// would only cost memory. nullopt on a read error, errno set.
std::optional<std::string> read_standard_input(size_t limit);

// Which file a path opens, following symbolic links: device and inode (the
// volume and file index on Windows). nullopt if it names no file.
std::optional<std::pair<uint64_t, uint64_t>> file_identity(const std::string &path);

// The pictures in a folder, known by their extensions (hidden files left
// out), as paths relative to it with / between folders, in byte order; with
// recursive, those in its subfolders too, except in the folder whose
// identity is skip (the output folder, when it lies inside). nullopt, with
// why, if the folder cannot be read.
std::optional<std::vector<std::string>> list_pictures(const std::string &folder, bool recursive,
                                                      std::optional<std::pair<uint64_t, uint64_t>> skip,
                                                      std::string &why);

// Standard output in binary mode, for encoded pictures.
void binary_standard_output();

#endif
