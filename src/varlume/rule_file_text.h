// The text of the proxy's rule files ("CacheTypes.txt", "CacheDomains.txt"):
// read whole and cut at the first NUL, then taken apart into lines. A line
// ends at CR LF or at a lone LF; after each line the blanks, tabs, CR and LF
// that follow are skipped, so blank lines vanish.
#pragma once
#include <string>
#include <vector>

// False when the file cannot be read ("/" or "\" form).
bool readRuleFileText(const std::string& path, std::string& text);
// The lines of `text`. A final piece without a line end is a line only when
// `keepFinal` is set.
std::vector<std::string> ruleFileLines(const std::string& text, bool keepFinal);
