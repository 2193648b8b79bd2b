// The Base64 and %XX codecs on arbitrary texts and buffer sizes: the first
// byte picks the target size, the rest (up to its first zero) is the text.
// Each buffer is exactly its size, so a write past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "foundation/base64.h"
#include "foundation/url_escape.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t target = data[0];
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);  // zero byte added

  auto decoded = std::make_unique<unsigned char[]>(target);
  int count = base64Decode(text.c_str(), decoded.get(), static_cast<int>(target));
  if (count >= 0 && static_cast<std::size_t>(count) >= target) __builtin_trap();

  auto escaped = std::make_unique<char[]>(target);
  urlEncodeInto(text.c_str(), escaped.get(), target);
  auto unescaped = std::make_unique<char[]>(target);
  urlDecodeInto(text.c_str(), unescaped.get(), target);

  // Decoding the encoded form gives the text back, up to its first zero.
  const std::string plain(text.c_str());
  if (plain.size() < 4096 && urlDecode(urlEncode(plain)) != plain) __builtin_trap();
  return 0;
}
