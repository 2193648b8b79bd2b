#include "varlume/response_head_check.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "foundation/decimal.h"
#include "foundation/strings.h"

namespace {

bool isTokenChar(char c) {
  if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
  return c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool isToken(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!isTokenChar(c)) return false;
  }
  return true;
}

std::string_view trimBlanks(std::string_view text) {
  std::size_t from = 0, to = text.size();
  while (from < to && (text[from] == ' ' || text[from] == '\t')) ++from;
  while (to > from && (text[to - 1] == ' ' || text[to - 1] == '\t')) --to;
  return text.substr(from, to - from);
}

// `name` is `upper` (upper-case letters, digits and "-") in any case.
bool namedNoCase(std::string_view name, std::string_view upper) {
  if (name.size() != upper.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != upper[i]) return false;
  }
  return true;
}

// The transfer codings whose framing is understood: chunked, and the
// content codings a client decodes after the chunks.
bool isKnownCoding(const std::string& coding) {
  static const char* const kKnown[] = {"chunked", "gzip", "x-gzip", "deflate", "compress", "x-compress"};
  for (const char* known : kKnown) {
    if (coding == known) return true;
  }
  return false;
}

VLHeadFraming refuse(const char* reason) {
  VLHeadFraming framing;
  framing.refused = true;
  framing.reason = reason;
  return framing;
}

}  // namespace

VLHeadFraming checkHeadFraming(const std::string& head, bool http10) {
  // The head is looked at in place: no copy of it or of a line.
  const std::string_view text(head);
  // A CR that ends no line, or a NUL, is read as a line end by some readers.
  if (text.find('\0') != std::string_view::npos) return refuse("NUL in the head");
  for (std::size_t cr = text.find('\r'); cr != std::string_view::npos; cr = text.find('\r', cr + 1)) {
    if (cr + 1 >= text.size() || text[cr + 1] != '\n') return refuse("bare CR in the head");
  }
  std::vector<std::string> codings;
  bool transferEncoding = false;
  int lengths = 0;
  VLHeadFraming framing;
  std::size_t lineStart = text.find('\n');
  lineStart = lineStart == std::string_view::npos ? text.size() : lineStart + 1;
  while (lineStart < text.size()) {
    std::size_t lf = text.find('\n', lineStart);
    if (lf == std::string_view::npos) lf = text.size();
    std::string_view line = text.substr(lineStart, lf - lineStart);
    lineStart = lf + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    if (line[0] == ' ' || line[0] == '\t') return refuse("folded line");
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return refuse("line without a colon");
    const std::string_view name = line.substr(0, colon);
    if (!isToken(name)) return refuse("field name that is no token");
    if (namedNoCase(name, "TRANSFER-ENCODING")) {
      const std::string_view value = trimBlanks(line.substr(colon + 1));
      transferEncoding = true;
      std::size_t from = 0;
      while (from <= value.size()) {
        std::size_t comma = value.find(',', from);
        if (comma == std::string_view::npos) comma = value.size();
        const std::string element = toLower(std::string(trimBlanks(value.substr(from, comma - from))));
        from = comma + 1;
        if (!element.empty()) codings.push_back(element);
      }
    } else if (namedNoCase(name, "CONTENT-LENGTH")) {
      const std::string_view value = trimBlanks(line.substr(colon + 1));
      std::int64_t n = 0;
      if (!parseDigits(std::string(value), n)) return refuse("Content-Length that is no number");
      if (lengths > 0 && n != framing.length) return refuse("differing Content-Length lines");
      framing.length = n;
      framing.lengthGiven = true;
      ++lengths;
    }
  }
  if (transferEncoding) {
    if (http10) return refuse("Transfer-Encoding in an HTTP/1.0 answer");
    if (framing.lengthGiven) return refuse("Transfer-Encoding with Content-Length");
    if (codings.empty() || codings.back() != "chunked") return refuse("chunked is not the final coding");
    for (std::size_t i = 0; i + 1 < codings.size(); ++i) {
      if (codings[i] == "chunked") return refuse("chunked applied twice");
    }
    for (const std::string& coding : codings) {
      if (!isKnownCoding(coding)) return refuse("unknown transfer coding");
    }
    framing.chunked = true;
  }
  return framing;
}
