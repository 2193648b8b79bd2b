#include "varlume/response_parts.h"

#include <vector>

#include "varlume/part_files.h"
#include "varlume/settings.h"

namespace {

// A head longer than this is no head the relay would have passed on.
constexpr std::size_t kLongestHead = 1 << 20;

std::size_t headEnd(const std::string& text) {
  const std::size_t crlf = text.find("\n\r\n");
  const std::size_t lf = text.find("\n\n");
  if (crlf != std::string::npos && (lf == std::string::npos || crlf < lf)) return crlf + 3;
  if (lf != std::string::npos) return lf + 2;
  return std::string::npos;
}

}  // namespace

VLResponseParts::VLResponseParts(int id, int parts) : id_(id), parts_(parts) {}

long VLResponseParts::read(char* buffer) {
  for (;;) {
    if (!file_.isOpen()) {
      if (next_ >= parts_) return 0;
      if (!file_.open(partFilePath(tempPath, id_, next_++), platform::File::Read)) return -1;
    }
    const long got = file_.read(buffer, kPiece);
    if (got != 0) return got;
    file_.close();
  }
}

int headStatus(const std::string& head) {
  if (head.size() < 15) return -1;
  int status = 0;
  std::size_t at = 9;
  for (; at < 12 && head[at] >= '0' && head[at] <= '9'; ++at) status = status * 10 + (head[at] - '0');
  return at == 9 ? -1 : status;
}

VLFinalHead readFinalHead(VLResponseParts& parts) {
  VLFinalHead result;
  std::string pending;
  std::vector<char> buffer(VLResponseParts::kPiece);
  for (;;) {
    const std::size_t end = headEnd(pending);
    if (end != std::string::npos) {
      const int status = headStatus(pending.substr(0, end));
      if (status >= 100 && status <= 199) {
        pending.erase(0, end);  // an interim head: the final one follows
        continue;
      }
      result.headEnd = true;
      result.status = status;
      result.head = pending.substr(0, end);
      result.rest = pending.substr(end);
      return result;
    }
    const long got = pending.size() > kLongestHead ? 0 : parts.read(buffer.data());
    if (got <= 0) {
      result.readFailed = got < 0;
      result.status = headStatus(pending);
      result.head = pending;
      return result;
    }
    pending.append(buffer.data(), static_cast<std::size_t>(got));
  }
}
