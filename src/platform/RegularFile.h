#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kavo {

// What ReadRegularFile returns besides errno values (ENOENT for a missing file, EACCES, ...).
inline constexpr int NotARegularFile = -1;
inline constexpr int FileTooLarge = -2;

// Reads a whole file of at most maxBytes into out; 0, or why not. Only a regular file is read: a
// FIFO or a device is refused before it could block or never end, a folder gives NotARegularFile.
int ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& out);

// "not a regular file", "larger than 4 MiB", or the system's text of an errno value.
std::string ReadErrorText(int error, std::size_t maxBytes);

// Replaces the file at path (the file a symbolic link there points to) with data in one step: a
// temporary file beside it, flushed to disk and renamed over it, so that readers see either the old
// or the new content. A read-only file is refused; a new file gets mode 0644, an old one keeps its
// mode and owner. 0, or the errno value of the step refused; the old file is then as it was.
int ReplaceRegularFile(const std::string& path, std::string_view data);
// Removes the temporary files beside path that replacements interrupted for good left behind.
void RemoveStaleReplacements(const std::string& path);

} // namespace kavo
