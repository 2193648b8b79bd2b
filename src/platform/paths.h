// Path forms. The programs build paths with "\" separators; the platform turns
// every "\" into "/" right before each system call and shows system paths in
// the programs' form ("/home/u" appears as "\home\u"). No drive letters exist.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// "\" -> "/": the form handed to the system.
std::string toSystemPath(std::string_view path);
// "/" -> "\": the form the programs build, log and return.
std::string fromSystemPath(std::string_view path);

// The process's working folder in "\" form; empty when it cannot be read or
// does not fit 4,096 bytes.
std::string workingFolder();
// Makes `path` the working folder; true on success.
bool setWorkingFolder(const std::string& path);

// Resolves `name` against the working folder into `buffer` of `size` bytes,
// "\" form, without a doubled "\" at the root. Returns the length written;
// when the result (with its zero byte) does not fit, returns the size needed
// and leaves `buffer` untouched; 0 when the working folder cannot be read
// (or `name` is null). A name starting with "\" or "/" is taken as it is;
// "." and empty components are dropped and ".." removes the one before it.
// The working folder is read at any length (not only 4,096 bytes).
std::size_t fullPathName(const char* name, char* buffer, std::size_t size);

}  // namespace platform
