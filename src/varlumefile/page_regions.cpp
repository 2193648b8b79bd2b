#include "varlumefile/page_regions.h"

#include "foundation/strings.h"

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Attributes whose value a browser never runs, loads or obeys: a value
// placed there stays data for the page's own script to read.
bool carriesOnlyData(const std::string& name) {
  if (name.rfind("data-", 0) == 0 || name.rfind("aria-", 0) == 0) return true;
  return name == "title" || name == "alt" || name == "placeholder" || name == "label" || name == "value";
}

// Elements whose content is not parsed for tags up to their end tag.
bool isRawText(const std::string& name) {
  return name == "style" || name == "xmp" || name == "iframe" || name == "noembed" ||
         name == "noframes" || name == "noscript";
}

class VLRegionCutter {
 public:
  explicit VLRegionCutter(const std::string& page) : page(page), lower(toLower(page)), n(page.size()) {}

  std::vector<VLPageRegion> cut() {
    std::size_t i = 0;
    std::size_t text = 0;
    while (i < n) {
      if (page[i] != '<') {
        ++i;
        continue;
      }
      const char next = i + 1 < n ? page[i + 1] : '\0';
      if (isLetter(next)) {
        add(VLRegionKind::Text, text, i);
        i = text = startTag(i);
      } else if (next == '!' || next == '?' || next == '/') {
        add(VLRegionKind::Text, text, i);
        std::size_t end;
        if (page.compare(i, 4, "<!--") == 0) {
          end = page.find("-->", i + 4);
          end = end == std::string::npos ? n : end + 3;
        } else {
          end = page.find('>', i + 1);
          end = end == std::string::npos ? n : end + 1;
        }
        add(VLRegionKind::Markup, i, end);
        i = text = end;
      } else {
        ++i;  // a "<" that opens nothing is text
      }
    }
    add(VLRegionKind::Text, text, n);
    return regions;
  }

 private:
  void add(VLRegionKind kind, std::size_t begin, std::size_t end) {
    if (begin >= end) return;
    if (!regions.empty() && regions.back().kind == kind && regions.back().end == begin) {
      regions.back().end = end;
    } else {
      regions.push_back({kind, begin, end});
    }
  }

  // Where the end tag of `name` starts at or after `from`; n when none.
  std::size_t closeOf(const std::string& name, std::size_t from) const {
    const std::string close = "</" + name;
    for (std::size_t at = lower.find(close, from); at != std::string::npos; at = lower.find(close, at + 1)) {
      const std::size_t after = at + close.size();
      if (after >= n || isSpace(page[after]) || page[after] == '/' || page[after] == '>') return at;
    }
    return n;
  }

  // The start tag at `at` and, for the elements that hold no tags, its
  // content; returns where ordinary parsing goes on.
  std::size_t startTag(std::size_t at) {
    std::size_t p = at + 1;
    while (p < n && !isSpace(page[p]) && page[p] != '/' && page[p] != '>') ++p;
    const std::string name = lower.substr(at + 1, p - at - 1);
    std::size_t markup = at;
    for (;;) {
      while (p < n && (isSpace(page[p]) || page[p] == '/')) ++p;
      if (p >= n) {
        add(VLRegionKind::Markup, markup, n);
        return n;
      }
      if (page[p] == '>') {
        ++p;
        break;
      }
      const std::size_t nameStart = p++;
      while (p < n && !isSpace(page[p]) && page[p] != '/' && page[p] != '>' && page[p] != '=') ++p;
      const std::string attribute = lower.substr(nameStart, p - nameStart);
      std::size_t q = p;
      while (q < n && isSpace(page[q])) ++q;
      if (q >= n || page[q] != '=') {
        p = q;
        continue;
      }
      p = q + 1;
      while (p < n && isSpace(page[p])) ++p;
      if (p < n && (page[p] == '"' || page[p] == '\'')) {
        const std::size_t close = page.find(page[p], p + 1);
        if (close == std::string::npos) {
          add(VLRegionKind::Markup, markup, n);
          return n;
        }
        if (carriesOnlyData(attribute)) {
          add(VLRegionKind::Markup, markup, p + 1);
          add(VLRegionKind::Value, p + 1, close);
          markup = close;
        }
        p = close + 1;
      } else {
        while (p < n && !isSpace(page[p]) && page[p] != '>') ++p;
      }
    }
    add(VLRegionKind::Markup, markup, p);
    // Inside SVG and MathML a script or style holds tags and the end tags
    // nest differently: nothing from there on counts as text.
    if (name == "plaintext" || name == "svg" || name == "math") {
      add(VLRegionKind::Markup, p, n);
      return n;
    }
    if (name == "script") {
      const std::size_t end = closeOf(name, p);
      // "<!--" inside a script changes where a browser sees it end.
      const std::size_t comment = page.find("<!--", p);
      if (comment != std::string::npos && comment < end) {
        add(VLRegionKind::Markup, p, n);
        return n;
      }
      add(VLRegionKind::Script, p, end);
      return end;
    }
    if (name == "title" || name == "textarea") {
      const std::size_t end = closeOf(name, p);
      add(VLRegionKind::Text, p, end);
      return end;
    }
    if (isRawText(name)) {
      const std::size_t end = closeOf(name, p);
      add(VLRegionKind::Markup, p, end);
      return end;
    }
    return p;
  }

  const std::string& page;
  const std::string lower;
  const std::size_t n;
  std::vector<VLPageRegion> regions;
};

}  // namespace

std::vector<VLPageRegion> pageRegions(const std::string& page) { return VLRegionCutter(page).cut(); }

bool opensMarkup(const std::string& text) {
  for (std::size_t at = text.find('<'); at != std::string::npos; at = text.find('<', at + 1)) {
    const char next = at + 1 < text.size() ? text[at + 1] : '\0';
    if (isLetter(next) || next == '/' || next == '!' || next == '?') return true;
  }
  return false;
}
