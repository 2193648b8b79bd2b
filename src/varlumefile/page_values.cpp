#include "varlumefile/page_values.h"

#include <algorithm>

#include "foundation/strings.h"
#include "foundation/word_finder.h"
#include "varlumefile/page_regions.h"

namespace {

const char kHex[] = "0123456789ABCDEF";

void appendHex(std::string& out, const char* prefix, unsigned value, int digits) {
  out += prefix;
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

// The code point of the UTF-8 sequence at `at` and its length; length 0
// when the bytes there are no valid sequence.
std::size_t decodeUtf8(const std::string& text, std::size_t at, unsigned& point) {
  const unsigned char first = static_cast<unsigned char>(text[at]);
  std::size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC2 ? 2 : 0;
  if (first >= 0xF5 || length == 0 || at + length > text.size()) return 0;
  point = first & (0x3F >> (length - 1));
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char c = static_cast<unsigned char>(text[at + k]);
    if ((c & 0xC0) != 0x80) return 0;
    point = (point << 6) | (c & 0x3F);
  }
  const unsigned least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
  return length;
}

bool keepsInScript(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
         c == '.' || c == ',' || c == '_' || c == '-';
}

// Every quoted script string that is exactly the key, in either quote.
std::string replaceScriptStrings(const std::string& script, const VLWordFinder& key, const std::string& escaped) {
  std::string out;
  std::size_t from = 0;
  std::size_t at = 0;
  std::size_t closed = 0;  // bytes before this are taken: a closing quote opens no string
  while ((at = key.find(script, at)) != std::string::npos) {
    const std::size_t after = at + key.word().size();
    const bool quoted = at > closed && after < script.size() &&
                        (script[at - 1] == '"' || script[at - 1] == '\'') && script[after] == script[at - 1];
    if (!quoted) {
      ++at;
      continue;
    }
    out.append(script, from, at - from);
    out += escaped;
    from = after;
    at = closed = after + 1;
  }
  out.append(script, from, std::string::npos);
  return out;
}

// Whether a key is looked for in a text of `length` bytes, within the bound
// of text looked through: counted for every key, found or not.
bool mayLook(std::uint64_t& looked, std::size_t length, const VLFillBounds& bounds) {
  looked += length;
  return looked <= bounds.maxLooked;
}

// Whether replacing each occurrence of the key once, as every replacement
// does at least, already makes a text of `length` bytes pass `maxBytes`: such
// a pair is refused before any work.
bool outgrows(const std::string& text, std::size_t length, const VLWordFinder& key, const std::string& value,
              std::size_t maxBytes) {
  const std::size_t m = key.word().size();
  if (value.size() <= m) return false;
  const std::size_t growth = value.size() - m;
  for (std::size_t at = key.find(text); at != std::string::npos; at = key.find(text, at + m)) {
    length += growth;
    if (length > maxBytes) return true;
  }
  return false;
}

// Labels of the encodings that do not keep ASCII bytes as themselves: in
// them a byte a page reads as "<" or a quote may be part of another
// character, or a value's bytes may change how the bytes after it read.
const char* const kNonAsciiLabels[] = {
    "unicodefffe", "utf-16be", "csunicode", "iso-10646-ucs-2", "ucs-2", "unicode", "unicodefeff", "utf-16",
    "utf-16le", "utf-32", "utf-32be", "utf-32le", "utf-7", "csiso2022jp", "iso-2022-jp", "csiso2022kr",
    "hz-gb-2312", "iso-2022-cn", "iso-2022-cn-ext", "iso-2022-kr", "replacement",
};

bool beginsWithUtf16Mark(const std::string& text) {
  return text.size() >= 2 && ((text[0] == '\xFE' && text[1] == '\xFF') || (text[0] == '\xFF' && text[1] == '\xFE'));
}

bool isLabelChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':';
}

// Whether a page names such an encoding in a "charset=" anywhere (a meta
// element's or an http-equiv content's), or holds an ISO-2022 escape that a
// browser may take for one.
bool declaresNonAsciiEncoding(const std::string& page) {
  if (page.find('\x1B') != std::string::npos) return true;
  const std::string lower = toLower(page);
  for (std::size_t at = lower.find("charset"); at != std::string::npos; at = lower.find("charset", at + 1)) {
    std::size_t p = at + 7;
    while (p < lower.size() && (lower[p] == ' ' || lower[p] == '\t' || lower[p] == '\n' || lower[p] == '\r' ||
                                lower[p] == '\f')) {
      ++p;
    }
    if (p >= lower.size() || lower[p] != '=') continue;
    ++p;
    while (p < lower.size() && (lower[p] == ' ' || lower[p] == '\t' || lower[p] == '\n' || lower[p] == '\r' ||
                                lower[p] == '\f' || lower[p] == '"' || lower[p] == '\'')) {
      ++p;
    }
    std::size_t end = p;
    while (end < lower.size() && isLabelChar(lower[end])) ++end;
    const std::string label = lower.substr(p, end - p);
    for (const char* known : kNonAsciiLabels) {
      if (label == known) return true;
    }
  }
  return false;
}

struct Segment {
  VLRegionKind kind;
  std::string text;
};

bool fillPage(std::string& page, const std::vector<VLReplacement>& pairs, bool scriptStrings,
              const VLFillBounds& bounds) {
  std::vector<Segment> segments;
  for (const VLPageRegion& region : pageRegions(page)) {
    segments.push_back({region.kind, page.substr(region.begin, region.end - region.begin)});
  }
  std::size_t total = page.size();
  std::uint64_t searched = 0;
  std::uint64_t looked = 0;
  for (const VLReplacement& pair : pairs) {
    if (pair.key.empty()) continue;
    if (!mayLook(looked, total, bounds)) return false;
    const VLWordFinder key(pair.key);
    if (key.find(page) == std::string::npos) continue;
    searched += total;
    if (searched > bounds.maxSearched) return false;
    const std::string markup = escapeForMarkup(pair.value);
    const std::string script = scriptStrings ? escapeForScriptString(pair.value) : std::string();
    const std::size_t maxReplacements = bounds.maxBytes / std::max<std::size_t>(markup.size(), 1);
    bool changed = false;
    for (Segment& segment : segments) {
      if (key.find(segment.text) == std::string::npos) continue;
      std::string filled = segment.text;
      if (segment.kind == VLRegionKind::Text || segment.kind == VLRegionKind::Value) {
        if (outgrows(segment.text, total, key, markup, bounds.maxBytes)) return false;
        if (!replaceAllWithin(pair.key, markup, filled, maxReplacements, bounds.maxBytes)) return false;
        // A "<" of the text that the value would join to a tag keeps the old text.
        if (segment.kind == VLRegionKind::Text && opensMarkup(filled)) continue;
      } else if (segment.kind == VLRegionKind::Script && scriptStrings) {
        filled = replaceScriptStrings(filled, key, script);
      } else {
        continue;
      }
      total = total - segment.text.size() + filled.size();
      if (total > bounds.maxBytes) return false;
      segment.text.swap(filled);
      changed = true;
    }
    if (!changed) continue;
    page.clear();
    for (const Segment& segment : segments) page += segment.text;
  }
  return true;
}

}  // namespace

std::string escapeForMarkup(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      case '\x1B': out += "&#27;"; break;  // an escape would switch a browser to ISO-2022
      default: out += c;
    }
  }
  return out;
}

std::string escapeForScriptString(const std::string& value) {
  std::string out;
  for (std::size_t at = 0; at < value.size();) {
    const char c = value[at];
    if (keepsInScript(c)) {
      out += c;
      ++at;
      continue;
    }
    unsigned point = 0;
    const std::size_t length = static_cast<unsigned char>(c) >= 0x80 ? decodeUtf8(value, at, point) : 0;
    if (length == 0) {
      appendHex(out, "\\x", static_cast<unsigned char>(c), 2);
      ++at;
      continue;
    }
    if (point >= 0x10000) {
      point -= 0x10000;
      appendHex(out, "\\u", 0xD800 + (point >> 10), 4);
      appendHex(out, "\\u", 0xDC00 + (point & 0x3FF), 4);
    } else {
      appendHex(out, "\\u", point, 4);
    }
    at += length;
  }
  return out;
}

bool fillText(std::string& text, const std::vector<VLReplacement>& pairs, VLFillForm form,
              const VLFillBounds& bounds) {
  if (beginsWithUtf16Mark(text)) return true;
  if (form != VLFillForm::PlainText) {
    if (declaresNonAsciiEncoding(text)) return true;
    // A value at the very start must not turn the page into another encoding.
    return fillPage(text, pairs, form == VLFillForm::PageWithScriptStrings, bounds) && !beginsWithUtf16Mark(text);
  }
  std::uint64_t searched = 0;
  std::uint64_t looked = 0;
  for (const VLReplacement& pair : pairs) {
    if (pair.key.empty()) continue;
    if (!mayLook(looked, text.size(), bounds)) return false;
    const VLWordFinder key(pair.key);
    if (key.find(text) == std::string::npos) continue;
    searched += text.size();
    if (searched > bounds.maxSearched) return false;
    if (outgrows(text, text.size(), key, pair.value, bounds.maxBytes)) return false;
    const std::size_t maxReplacements = bounds.maxBytes / std::max<std::size_t>(pair.value.size(), 1);
    if (!replaceAllWithin(pair.key, pair.value, text, maxReplacements, bounds.maxBytes)) return false;
  }
  return !beginsWithUtf16Mark(text);
}
