// Starting programs. A program is started by path with no arguments, without
// waiting, inheriting the environment and working folder but no descriptor of
// the caller (everything the programs open is close-on-exec). Children are
// reaped, so none stays a zombie.
#pragma once
#include <string>

namespace platform {

// `path` in "\" form. A path ending in ".exe" whose file does not exist runs
// the same path without ".exe". False when the program could not be started.
// The child begins with default SIGPIPE and SIGCHLD handling and only the
// standard input, output and error open.
bool startProgram(const std::string& path);
// The same; `id` receives the started program's process id (0 when none).
bool startProgram(const std::string& path, long* id);
// Ends a program started here, by its process id: asks it to end, and kills
// it when it still runs after `graceMs`. Returns once it is gone or killed.
void stopProgram(long id, int graceMs);

}  // namespace platform
