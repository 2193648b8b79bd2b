// The services' command-line option scanner and the formatting of their usage
// text. The scanner shares its position and value with the main program's
// scanner (optionIndex, optionPosition, optionValue of foundation/options.h)
// and differs from it in one rule: a letter that takes a value is compared
// with the first character of the argument, so "p 45003" sets the port and
// "-p 45003" is refused. Flags may carry any number of dashes ("-l", "--l",
// "l") and may share one argument ("-lh").
#pragma once
#include <cstddef>

inline constexpr std::size_t kFormatTextSize = 4096;
inline constexpr long long kLowestServicePort = 1;
inline constexpr long long kHighestServicePort = 65535;

// True for a port a service may listen on and the proxy can address: 1 to
// 65535. Port 0 (a port the kernel picks) is not one of them.
inline bool isUsableServicePort(long long port) {
  return port >= kLowestServicePort && port <= kHighestServicePort;
}

// The option letter found, '?' for an unknown letter, a missing value or a
// value of 4,096 bytes or more, -1 when no arguments remain. optionValue is
// emptied at every call and holds the value of a letter that takes one.
int getServiceOption(int argc, char** argv, const char* optionString);

// printf-style formatting into `buffer` of kFormatTextSize bytes. Returns the
// length written, or -1 when the text had to be cut (it is then cut to the
// buffer and still zero-terminated) or could not be formatted.
int formatText(char* buffer, const char* format, ...) __attribute__((format(printf, 2, 3)));
