// cleanCommandPath: the Path value of the event commands with every ".." and
// then every "//" removed (both characters each time), repeated until neither
// is left, so no removal can leave a new ".." behind ("/.//./x" gives "x").
#pragma once
#include <string>

std::string cleanCommandPath(const std::string& path);
