// Program entry. The platform's C `main` makes new files private to the user
// (platform/file_modes.h), raises the soft descriptor limit to the hard one
// (platform/descriptor_limit.h), ignores SIGPIPE, lets no child stay a
// zombie, joins argv[1..] with single blanks into one command line and returns
// what `programEntry` returns; the foundation defines `programEntry`.
// SIGCHLD is ignored in the programs (the kernel reaps every child), so a
// wait for a child there (std::system, pclose) cannot see its exit status:
// start programs with platform::startProgram.
#pragma once
#include <string>

int programEntry(const std::string& commandLine);
