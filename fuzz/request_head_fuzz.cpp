// The proxy's reading of browser request heads: bytes go into VLRequestHead
// one at a time; each complete head is analysed and rewritten as it would be
// forwarded, and the bytes after it start the next head.
#include <cstddef>
#include <cstdint>
#include <string>

#include "varlume/request_forwarding.h"
#include "varlume/request_intake.h"

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
        (void)texts;
      }
    }
    head.clear();
    if (status == VLRequestHead::kRefused) break;
  }
  return 0;
}
