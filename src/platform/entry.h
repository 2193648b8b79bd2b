// Program entry. The platform's C `main` ignores SIGPIPE, lets no child stay a
// zombie, joins argv[1..] with single blanks into one command line and returns
// what `programEntry` returns; the foundation defines `programEntry`.
#pragma once
#include <string>

int programEntry(const std::string& commandLine);
