// readDecimal: the clamped decimal reader of configuration values, options and
// stored numbers, in place of atoi (which truncates out-of-range values).
#pragma once
#include <cstdint>
#include <string>

// A decimal number as the configuration and the options give it: leading
// white space skipped, an optional sign, digits up to the first other
// character; no digits give 0; values beyond the int range are clamped.
int readDecimal(const std::string& text);

// A strict decimal number of 1 to 18 digits filling the whole text (no
// blank, no sign), as HTTP lengths and ranges give it; false otherwise.
bool parseDigits(const std::string& text, std::int64_t& value);
