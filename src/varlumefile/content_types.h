// The content type of a served file, chosen by the upper-cased text after the
// last "." of its whole path (unless that "." ends it); "text/plain" for no
// extension or one not in the table.
#pragma once
#include <string>

std::string contentTypeFor(const std::string& path);
