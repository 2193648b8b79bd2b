#include "varlume/relay_framing.h"

#include <cstring>

#include "foundation/decimal.h"
#include "foundation/strings.h"
#include "varlume/response_head_check.h"

namespace {

// Where the line that starts at `from` ends: just past its LF (`whole` set),
// or at `length` while the LF has not arrived.
std::size_t lineEnd(const char* data, std::size_t from, std::size_t length, bool& whole) {
  const void* lf = std::memchr(data + from, '\n', length - from);
  whole = lf != nullptr;
  return whole ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1 : length;
}

bool startsWithNoCase(const std::string& text, const char* prefix) {
  std::size_t n = std::strlen(prefix);
  return text.size() >= n && toUpper(text.substr(0, n)) == prefix;
}

// The line without its trailing LF and CR.
std::string lineText(const std::string& line) {
  std::size_t n = line.size();
  if (n > 0 && line[n - 1] == '\n') --n;
  if (n > 0 && line[n - 1] == '\r') --n;
  return line.substr(0, n);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A chunk size line: 1 to 16 hex digits, optionally followed by blanks and
// ";" extensions; a size of 2^63 or more, which a signed reader would take
// for another, is refused.
bool parseChunkSize(const std::string& line, std::uint64_t& size) {
  std::string text = line.substr(0, line.find(';'));
  text = trim(text, true);
  if (text.empty() || text.size() > 16) return false;
  size = 0;
  for (char c : text) {
    int v = hexValue(c);
    if (v < 0) return false;
    size = size * 16 + static_cast<std::uint64_t>(v);
  }
  return size < (std::uint64_t{1} << 63);
}

// "bytes first-last/total" of a Content-Range value.
bool parseContentRange(const std::string& value, std::uint64_t& count) {
  std::string upper = toUpper(value);
  std::size_t b = upper.find("BYTES");
  if (b == std::string::npos) return false;
  std::size_t dash = upper.find('-', b + 5);
  if (dash == std::string::npos) return false;
  std::size_t slash = upper.find('/', dash + 1);
  if (slash == std::string::npos) return false;
  std::int64_t first = 0, last = 0;
  if (!parseDigits(trim(value.substr(b + 5, dash - b - 5), true), first)) return false;
  if (!parseDigits(trim(value.substr(dash + 1, slash - dash - 1), true), last)) return false;
  if (last < first) return false;
  count = static_cast<std::uint64_t>(last - first) + 1;
  return true;
}

constexpr char kContinueHead[] = "HTTP/1.1 100 Continue\r\n\r\n";

}  // namespace

void VLRelayFraming::begin() { *this = VLRelayFraming(); }

void VLRelayFraming::restartHead() {
  kind_ = Kind::Head;
  head_.clear();
  scanFrom_ = 0;
  status_ = 0;
  http10_ = false;
  interim_ = false;
}

VLRelayFraming::Result VLRelayFraming::feed(const char* data, std::size_t length,
                                            std::size_t& used, VLRelaySink& sink) {
  used = 0;
  if (kind_ == Kind::Head) {
    std::size_t headUsed = 0;
    Result r = feedHead(data, length, headUsed, sink);
    used = headUsed;
    if (r != Result::NeedMore || kind_ == Kind::Head) return r;
    data += headUsed;
    length -= headUsed;
  }
  if (length == 0) return Result::NeedMore;
  std::size_t bodyUsed = 0;
  Result r = Result::Failed;
  switch (kind_) {
    case Kind::Length: {
      std::uint64_t take = length;
      if (static_cast<std::uint64_t>(remaining_) < take) take = static_cast<std::uint64_t>(remaining_);
      bodyUsed = static_cast<std::size_t>(take);
      remaining_ -= static_cast<std::int64_t>(take);
      r = remaining_ == 0 ? Result::Complete : Result::NeedMore;
      break;
    }
    case Kind::UntilClose:
      bodyUsed = length;
      r = Result::NeedMore;
      break;
    case Kind::Chunked:
      r = feedChunked(data, length, bodyUsed);
      break;
    case Kind::ByteRanges:
      r = feedRanges(data, length, bodyUsed);
      break;
    default:
      return Result::Failed;
  }
  if (r == Result::Failed) return r;
  if (bodyUsed > 0 && !sink.writeBytes(data, bodyUsed)) return Result::Failed;
  used += bodyUsed;
  return r;
}

VLRelayFraming::Result VLRelayFraming::feedHead(const char* data, std::size_t length,
                                                std::size_t& used, VLRelaySink& sink) {
  std::size_t i = 0;
  if (head_.empty()) {
    while (i < length && (data[i] == '\r' || data[i] == '\n')) ++i;
  }
  if (i == length) {
    used = length;
    return Result::NeedMore;
  }
  std::size_t prior = head_.size();
  head_.append(data + i, length - i);
  std::size_t end = std::string::npos;
  for (std::size_t p = scanFrom_; p < head_.size(); ++p) {
    if (head_[p] != '\n') continue;
    if (p + 1 < head_.size() && head_[p + 1] == '\n') {
      end = p + 2;
      break;
    }
    if (p + 2 < head_.size() && head_[p + 1] == '\r' && head_[p + 2] == '\n') {
      end = p + 3;
      break;
    }
  }
  if (end == std::string::npos) {
    if (head_.size() > kMaxHeadBytes) return Result::Failed;
    scanFrom_ = head_.size() >= 2 ? head_.size() - 2 : 0;
    used = length;
    return Result::NeedMore;
  }
  if (end > kMaxHeadBytes) return Result::Failed;
  used = i + (end - prior);
  head_.resize(end);
  if (!parseHead(sink)) return Result::Failed;
  if (interim_) {
    bool continued = status_ == 100;
    bool written = continued ? sink.writeBytes(kContinueHead, sizeof kContinueHead - 1)
                             : sink.writeBytes(head_.data(), head_.size());
    restartHead();
    return written ? Result::Interim : Result::Failed;
  }
  if (!sink.writeBytes(head_.data(), head_.size())) return Result::Failed;
  if (kind_ == Kind::HeaderOnly) return Result::Complete;
  if (kind_ == Kind::Length && remaining_ == 0) return Result::Complete;
  return Result::NeedMore;
}

bool VLRelayFraming::parseHead(VLRelaySink& sink) {
  if (!startsWithNoCase(head_, "HTTP/1.") || head_.size() < 9) return false;
  http10_ = head_[7] == '0';
  std::size_t p = 8;
  while (p < head_.size() && (head_[p] == ' ' || head_[p] == '\t')) ++p;
  if (p + 3 > head_.size() || !isDigit(head_[p]) || !isDigit(head_[p + 1]) ||
      !isDigit(head_[p + 2]) || head_[p] < '1' || head_[p] > '5') {
    return false;
  }
  status_ = (head_[p] - '0') * 100 + (head_[p + 1] - '0') * 10 + (head_[p + 2] - '0');
  if (p + 3 < head_.size() && isDigit(head_[p + 3])) return false;

  // Framing that two readers could take apart is never passed on.
  const VLHeadFraming framing = checkHeadFraming(head_, http10_);
  if (framing.refused) return false;
  bool ranges = false;
  std::size_t lineStart = head_.find('\n') + 1;
  while (lineStart < head_.size()) {
    std::size_t lf = head_.find('\n', lineStart);
    if (lf == std::string::npos) lf = head_.size();
    std::string line = lineText(head_.substr(lineStart, lf + 1 - lineStart));
    lineStart = lf + 1;
    if (line.empty()) break;
    std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = toUpper(line.substr(0, colon));
    // Only the three lines read here need their value.
    if (name != "KEEP-ALIVE" && name != "CONNECTION" && name != "CONTENT-TYPE") continue;
    std::string value = line.substr(colon + 1);
    std::string upper = toUpper(value);
    if (name == "KEEP-ALIVE") {
      std::size_t t = upper.find("TIMEOUT=");
      if (t != std::string::npos) {
        int seconds = 0;
        for (std::size_t k = t + 8; k < upper.size() && isDigit(upper[k]) && seconds < 10000000; ++k) {
          seconds = seconds * 10 + (upper[k] - '0');
        }
        sink.keepAliveSeconds(seconds);
      }
    } else if (name == "CONNECTION") {
      if (upper.find("CLOSE") != std::string::npos) {
        closeHeader_ = true;
        sink.connectionClose();
      }
    } else if (name == "CONTENT-TYPE") {
      if (upper.find("MULTIPART/BYTERANGES") != std::string::npos) {
        ranges = true;
        std::size_t b = upper.find("BOUNDARY=");
        std::string boundary;
        if (b != std::string::npos) {
          std::size_t k = b + 9;
          if (k < value.size() && value[k] == '"') ++k;
          while (k < value.size() && std::strchr("\"; \t\r\n", value[k]) == nullptr) {
            boundary += value[k++];
          }
        }
        boundary_ = "--" + boundary;
      }
    }
  }

  interim_ = status_ >= 100 && status_ <= 199 && status_ != 101;
  if (interim_) return true;
  if (!methodTaken_) {
    method_ = toUpper(trim(sink.takeMethod(), true));
    methodTaken_ = true;
  }
  endsConnection_ = http10_ || closeHeader_;
  if (method_ == "HEAD" || status_ == 101 || status_ == 204 || status_ == 304) {
    kind_ = Kind::HeaderOnly;
  } else if (framing.chunked) {
    kind_ = Kind::Chunked;
    chunk_ = Chunk::SizeLine;
    line_.clear();
  } else if (framing.lengthGiven) {
    kind_ = Kind::Length;
    remaining_ = framing.length;
  } else if (ranges) {
    // Without a length, a reader that does not follow the body parts reads
    // until the close: the connection ends after the closing boundary, so
    // both readings end in the same place.
    endsConnection_ = true;
    kind_ = Kind::ByteRanges;
    range_ = Range::PartHeader;
    line_.clear();
    partHeaderBytes_ = 0;
    partHeaderLine_ = false;
    rangeFound_ = false;
  } else {
    kind_ = Kind::UntilClose;
    endsConnection_ = true;
  }
  return true;
}

VLRelayFraming::Result VLRelayFraming::feedChunked(const char* data, std::size_t length,
                                                   std::size_t& used) {
  std::size_t i = 0;
  while (i < length) {
    switch (chunk_) {
      case Chunk::SizeLine:
      case Chunk::Trailer: {
        bool lf = false;
        const std::size_t end = lineEnd(data, i, length, lf);
        const std::size_t add = end - i;
        if (chunk_ == Chunk::SizeLine && line_.size() + add > kMaxHeadBytes) return Result::Failed;
        if (chunk_ == Chunk::Trailer) {
          trailerBytes_ += add;
          if (trailerBytes_ > kMaxHeadBytes) return Result::Failed;
        }
        line_.append(data + i, add);
        i = end;
        if (!lf) break;
        std::string text = lineText(line_);
        line_.clear();
        if (chunk_ == Chunk::Trailer) {
          if (text.empty()) {
            used = i;
            return Result::Complete;
          }
          break;
        }
        std::uint64_t size = 0;
        if (!parseChunkSize(text, size)) return Result::Failed;
        if (size == 0) {
          chunk_ = Chunk::Trailer;
          trailerBytes_ = 0;
        } else {
          due_ = size;
          chunk_ = Chunk::Data;
        }
        break;
      }
      case Chunk::Data: {
        std::uint64_t take = length - i;
        if (due_ < take) take = due_;
        i += static_cast<std::size_t>(take);
        due_ -= take;
        if (due_ == 0) chunk_ = Chunk::DataEnd;
        break;
      }
      case Chunk::DataEnd:
        if (data[i] == '\r') {
          ++i;
          chunk_ = Chunk::DataEndCr;
        } else {
          if (data[i] == '\n') ++i;
          chunk_ = Chunk::SizeLine;
        }
        break;
      case Chunk::DataEndCr:
        if (data[i] == '\n') ++i;
        chunk_ = Chunk::SizeLine;
        break;
    }
  }
  used = length;
  return Result::NeedMore;
}

VLRelayFraming::Result VLRelayFraming::feedRanges(const char* data, std::size_t length,
                                                  std::size_t& used) {
  std::size_t i = 0;
  while (i < length) {
    switch (range_) {
      case Range::PartHeader: {
        bool lf = false;
        const std::size_t end = lineEnd(data, i, length, lf);
        const std::size_t add = end - i;
        partHeaderBytes_ += add;
        if (partHeaderBytes_ > kMaxHeadBytes) return Result::Failed;
        line_.append(data + i, add);
        i = end;
        if (!lf) break;
        std::string text = lineText(line_);
        line_.clear();
        if (text.empty()) {
          if (!partHeaderLine_) break;  // empty lines before the first boundary
          if (!rangeFound_) return Result::Failed;
          range_ = Range::Data;
          break;
        }
        partHeaderLine_ = true;
        if (startsWithNoCase(text, "CONTENT-RANGE:")) {
          if (!parseContentRange(text.substr(14), due_)) return Result::Failed;
          rangeFound_ = true;
        }
        break;
      }
      case Range::Data: {
        std::uint64_t take = length - i;
        if (due_ < take) take = due_;
        i += static_cast<std::size_t>(take);
        due_ -= take;
        if (due_ == 0) {
          range_ = Range::Boundary;
          expected_ = "\r\n" + boundary_;
          matched_ = 0;
          suffix_.clear();
        }
        break;
      }
      case Range::Boundary:
        if (matched_ < expected_.size()) {
          if (data[i] != expected_[matched_]) return Result::Failed;
          ++matched_;
          ++i;
          break;
        }
        suffix_ += data[i++];
        if (suffix_.size() < 2) break;
        if (suffix_ == "--") {
          used = i;
          return Result::Complete;
        }
        if (suffix_ != "\r\n") return Result::Failed;
        range_ = Range::PartHeader;
        partHeaderBytes_ = 0;
        partHeaderLine_ = true;
        rangeFound_ = false;
        break;
    }
  }
  used = length;
  return Result::NeedMore;
}

VLRelayFraming::Result VLRelayFraming::streamEnded() {
  // A chunked or length-framed body cut off is never passed on as complete:
  // no terminating chunk is made up for it.
  if (kind_ != Kind::UntilClose) return Result::Failed;
  endsConnection_ = true;
  return Result::Complete;
}
