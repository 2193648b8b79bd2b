// The program entry's pieces: the argument vector built from the command line
// (argument 0 is the full path name of "varlumeimage.exe" in the working
// folder; the rest is the command line cut at every blank, no quoting), and
// the signal installation, which routes no signal to the application.
// programEntry itself is declared in platform/entry.h.
#pragma once
#include <string>
#include <vector>

// The file name every program uses for argument 0.
inline constexpr char kImageFileName[] = "varlumeimage.exe";

// Argument 0: the full path name of kImageFileName resolved against the
// working folder in a zero-filled buffer of 4,096 bytes; empty when it does
// not fit, the bare kImageFileName when the working folder cannot be read.
std::string imageArgument();

// The arguments after argument 0: a blank (32) ends the current argument,
// which is kept even when empty; the last one is kept only when characters
// follow the last blank. "" gives none; "a  b" gives a, "", b; " a" gives
// "", a; "a " gives a; "a  " gives a, "". Tabs and quotes are ordinary.
std::vector<std::string> splitCommandLine(const std::string& text);

using VLSignalHandler = void (*)(int);
// Calls onSignal of vlApp.
void signalHandler(int signal);
// Registers nothing and returns `handler`: signals keep their default course.
VLSignalHandler installSignalHandler(int signal, VLSignalHandler handler);
