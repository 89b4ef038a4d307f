#pragma once

#include <cstddef>
#include <string>

namespace kavo {

// What ReadRegularFile returns besides errno values (ENOENT for a missing file, EACCES, ...).
inline constexpr int NotARegularFile = -1;
inline constexpr int FileTooLarge = -2;

// Reads a whole file of at most maxBytes into out; 0, or why not. Only a regular file is read: a
// FIFO or a device is refused before it could block or never end, a folder gives NotARegularFile.
int ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& out);

// "not a regular file", "larger than 4 MiB", or the system's text of an errno value.
std::string ReadErrorText(int error, std::size_t maxBytes);

} // namespace kavo
