// Byte-string helpers: replacing, case mapping (ASCII letters only, bytes
// 128-255 never change), trimming and number texts. No locale is consulted.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Changes `text` in place and returns it. Nothing happens when `from` is
// empty. Otherwise the first occurrence of `from` (searching from the start
// of the text each time) is replaced by `to` for as long as one exists; the
// search resumes where an earlier occurrence can no longer exist, so the
// result is the same as a restart from the beginning. Always ends, in time
// and memory linear in the text (times the length of `to`, plus a fixed
// quarter megabyte): an occurrence made entirely of text put in by earlier
// replacements is replaced only while such repeats stay within that
// allowance; past it, and always when `to`
// contains `from`, the text is done again with such occurrences left as they
// are (so "a" -> "aa" doubles every "a" once).
std::string& replaceAll(const std::string& from, const std::string& to, std::string& text);

// replaceAll with a budget, for pairs supplied by a request: false when the
// work needs more than `maxReplacements` replacements (counted as they are
// made, so memory stays within the text plus that many copies of `to`) or
// the result is longer than `maxLength` bytes; `text` is then left
// unchanged. True otherwise, with `text` as replaceAll leaves it.
bool replaceAllWithin(const std::string& from, const std::string& to, std::string& text,
                      std::size_t maxReplacements, std::size_t maxLength);

// Appends "/" unless `text` is empty or already ends with "/" or "\".
std::string& ensureTrailingSlash(std::string& text);

std::string toUpper(const std::string& text);  // a-z -> A-Z, a copy
std::string toLower(const std::string& text);  // A-Z -> a-z, a copy
bool equalsIgnoreCase(const std::string& a, const std::string& b);
std::string copyString(const std::string& text);
// The text of a C text; a null pointer gives the empty text.
std::string toString(const char* text);

// A copy without leading and trailing blanks (`all` false) or blanks, tabs,
// CR and LF (`all` true).
std::string trim(const std::string& text, bool all);

// The number the digits of `text` stand for, last character weighted 1, each
// earlier one `base` times more. a-z count as A-Z; a byte whose signed value
// is at most '9' counts as its signed value - 48, any other as value - 55.
// Nothing is rejected; 32-bit unsigned arithmetic wraps. Empty text: 0.
std::uint32_t stringToInt(const std::string& text, int base);

// Decimal text: 0 -> "0"; a negative value gives the empty text.
std::string intToString(std::int32_t value);
std::string unsignedToString(std::uint32_t value);
