// Strict Base64 decoding (alphabet A-Z a-z 0-9 + /, "=" padding, white space
// skipped anywhere). A zero byte is written behind the decoded bytes, so the
// target must hold them plus one.
#pragma once

// The number of bytes decoded into target (the zero behind them not counted),
// or -1 for: a character outside the alphabet or white space (bytes of 128 and
// above included), a misplaced "=", anything but white space after the
// padding, non-zero left-over bits, a text ending inside a group of four, a
// null text, or bytes plus the zero that do not fit `size`.
int base64Decode(const char* text, unsigned char* target, int size);

// The 6-bit value of a Base64 alphabet character, -1 for any other byte.
int base64Value(unsigned char c);
