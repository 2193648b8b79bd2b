// %XX escaping of C texts into bounded buffers, and text forms of both.
// Neither routine writes outside its buffer or reads past its input's zero.
#pragma once
#include <cstddef>
#include <string>

// Zero-fills `out` (`size` bytes) and writes the escaped form of `text`:
// bytes 1-31, 127 and  " # % & + / ; < = > ?  become "%" + two upper-case hex
// digits; everything else (the blank and bytes 128-255 too) is copied. A
// character is taken only while at most size - 3 bytes are used, and an
// escape only where its zero byte still fits; encoding then stops without
// notice. Does nothing when `text` or `out` is null.
void urlEncodeInto(const char* text, char* out, std::size_t size);

// Zero-fills `out` and writes the decoded form of `text`: "%" and the next
// two characters become one byte (read as hex by stringToInt, not
// validated); "+" stays "+". At most size - 2 bytes are written before the
// zero byte. A "%" with fewer than two characters behind it decodes what is
// there and ends the input. Returns the bytes written (a decoded %00 counts);
// 0 and nothing written when `text` or `out` is null.
std::size_t urlDecodeInto(const char* text, char* out, std::size_t size);

// urlEncodeInto into 65,536 bytes, up to the first zero byte.
std::string urlEncode(const std::string& text);
// urlDecodeInto into length + 10 bytes, up to the first zero byte.
std::string urlDecode(const std::string& text);

// `text` with every control byte (0-31 and 127) and every byte of
// `alsoEscaped` written as "%" + two upper-case hex digits; every other byte
// unchanged. Keeps answer bodies and header values free of line breaks.
std::string escapeControlBytes(const std::string& text, const char* alsoEscaped = "");
