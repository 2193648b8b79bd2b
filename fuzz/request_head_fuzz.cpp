// The proxy's reading of browser request heads: bytes go into VLRequestHead
// one at a time; each complete head is analysed and rewritten as it would be
// forwarded, and the bytes after it start the next head.
#include <cstddef>
#include <cstdint>
#include <string>

#include "varlume/request_forwarding.h"
#include "varlume/request_intake.h"

namespace {

// What leaves the proxy is one head: every line ends with CR LF, no CR or LF
// stands anywhere else, and the only empty line is the last one.
void expectWellFormed(const std::string& text) {
  if (text.size() < 4 || text.compare(text.size() - 4, 4, "\r\n\r\n") != 0) __builtin_trap();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n')) __builtin_trap();
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) __builtin_trap();
  }
  if (text.find("\r\n\r\n") != text.size() - 4) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  VLRequestHead head;
  for (std::size_t i = 0; i < size; ++i) {
    VLRequestHead::Status status = head.addByte(static_cast<char>(data[i]));
    if (status == VLRequestHead::kNeedMore) continue;
    if (status == VLRequestHead::kComplete) {
      std::string browserUrl;
      VLRequestAnalysis analysis = analyseRequest(head, browserUrl);
      if (analysis.accepted) {
        VLForwardTexts texts =
            rewriteHeaders(head, analysis.service, analysis.target.pageHost, analysis.target.port);
        expectWellFormed(texts.origin);
        expectWellFormed(texts.upstream);
      }
    }
    head.clear();
    if (status == VLRequestHead::kRefused) break;
  }
  return 0;
}
