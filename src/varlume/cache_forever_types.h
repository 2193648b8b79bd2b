// The built-in forever types of the cache: file extensions (upper-case,
// without the dot) whose responses are kept with no age limit unless
// "CacheTypes.txt" says otherwise.
#pragma once
#include <string>

bool isBuiltInForeverType(const std::string& extension);
