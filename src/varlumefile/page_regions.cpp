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
      } else if (next == '/' && i + 2 < n && isLetter(page[i + 2])) {
        // An end tag reads its attributes like a start tag: a quoted ">"
        // does not end it.
        add(VLRegionKind::Text, text, i);
        std::size_t p = i + 2;
        while (p < n && !isSpace(page[p]) && page[p] != '/' && page[p] != '>') ++p;
        i = text = attributesEnd(p, i, false);
      } else if (next == '!' || next == '?' || next == '/') {
        add(VLRegionKind::Text, text, i);
        std::size_t end;
        if (page.compare(i, 4, "<!--") == 0) {
          bool inDoubt = false;
          end = commentEnd(i, inDoubt);
          if (inDoubt) {
            add(VLRegionKind::Markup, i, n);
            return regions;
          }
        } else {
          // A declaration, "<?" or "</" without a letter: a bogus comment
          // up to the first ">".
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

  // Where a comment opening at `at` ("<!--") ends, as a browser's tokenizer
  // ends it: at "-->", "--!>", or at once for "<!-->" and "<!--->"; at the
  // end of the page when it never ends. `inDoubt` is set when other readers
  // would place its end elsewhere: an end of those other forms, or a
  // "--" followed by blanks and ">" inside it.
  std::size_t commentEnd(std::size_t at, bool& inDoubt) const {
    std::size_t p = at + 4;
    if (p < n && page[p] == '>') {
      inDoubt = true;
      return p + 1;
    }
    if (p + 1 < n && page[p] == '-' && page[p + 1] == '>') {
      inDoubt = true;
      return p + 2;
    }
    for (; p + 1 < n; ++p) {
      if (page[p] != '-' || page[p + 1] != '-') continue;
      std::size_t q = p + 2;
      while (q < n && page[q] == '-') ++q;
      if (q < n && page[q] == '>') return q + 1;
      if (q + 1 < n && page[q] == '!' && page[q + 1] == '>') {
        inDoubt = true;
        return q + 2;
      }
      std::size_t blanks = q;
      while (blanks < n && isSpace(page[blanks])) ++blanks;
      if (blanks > q && blanks < n && page[blanks] == '>') inDoubt = true;
      p = q - 1;
    }
    return n;
  }

  // The attributes of a tag from `p` (just after its name) up to the end of
  // the tag, as markup from `markup` on; with `dataValues`, the quoted
  // values of attributes that only carry data become value regions.
  // Returns where the tag ends (n when it never ends).
  std::size_t attributesEnd(std::size_t p, std::size_t markup, bool dataValues) {
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
        if (dataValues && carriesOnlyData(attribute)) {
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
    return p;
  }

  // The start tag at `at` and, for the elements that hold no tags, its
  // content; returns where ordinary parsing goes on.
  std::size_t startTag(std::size_t at) {
    std::size_t p = at + 1;
    while (p < n && !isSpace(page[p]) && page[p] != '/' && page[p] != '>') ++p;
    const std::string name = lower.substr(at + 1, p - at - 1);
    p = attributesEnd(p, at, true);
    if (p >= n) return n;
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
