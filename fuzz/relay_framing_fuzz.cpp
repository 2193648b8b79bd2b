// The relay's framing of web server responses: the first byte picks the
// request method and how the rest is cut into receives; responses follow one
// another on the connection until one fails or the stream ends.
#include <cstddef>
#include <cstdint>
#include <string>

#include "varlume/relay_framing.h"

namespace {

class DiscardSink : public VLRelaySink {
 public:
  explicit DiscardSink(std::string method) : method_(std::move(method)) {}
  bool writeBytes(const char*, std::size_t length) override {
    written += length;
    return true;
  }
  std::string takeMethod() override { return method_; }
  void keepAliveSeconds(int) override {}
  void connectionClose() override {}
  std::size_t written = 0;

 private:
  std::string method_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const char* const kMethods[] = {"GET", "HEAD", "POST", "PROPFIND"};
  DiscardSink sink(kMethods[data[0] & 3]);
  std::size_t piece = 1 + (data[0] >> 2);  // 1..64 bytes per receive
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  std::size_t left = size - 1;
  VLRelayFraming framing;
  framing.begin();
  while (left > 0) {
    std::size_t length = left < piece ? left : piece;
    std::size_t used = 0;
    VLRelayFraming::Result result = framing.feed(bytes, length, used, sink);
    if (used > length) __builtin_trap();  // never more than it was given
    if (result == VLRelayFraming::Result::Failed) return 0;
    if (result == VLRelayFraming::Result::Complete) framing.begin();
    if (result == VLRelayFraming::Result::NeedMore && used != length) __builtin_trap();
    bytes += used;
    left -= used;
  }
  framing.streamEnded();
  return 0;
}
