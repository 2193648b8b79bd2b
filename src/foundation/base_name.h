// The last part of a Windows-form path: the text after its last "\" at index
// 1 or later, else the whole path. "/" is not a separator here.
#pragma once
#include <string_view>

// A view into `path` (null gives null).
const char* baseName(const char* path);
std::string_view baseName(std::string_view path);
