// Filling a served text with a request's values. In an HTML page a key is
// replaced only where it stands inside text, inside the value of an
// attribute that only carries data, or (when asked for) as the whole of a
// quoted string in a script; the value is escaped for that place, so no
// value and no key adds markup, an attribute, a handler or script, or
// changes script code. A plain text gets the values as they are.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct VLReplacement {
  std::string key;
  std::string value;
};

struct VLFillBounds {
  std::size_t maxBytes;        // of the text at every step
  std::uint64_t maxSearched;   // text bytes worked through, over all keys that occur
  std::uint64_t maxLooked;     // text bytes looked through for keys, over all keys
};

enum class VLFillForm { PlainText, Page, PageWithScriptStrings };

// Replaces each key in order, every occurrence, until it no longer occurs
// (a value holding its own key ends: each occurrence once). A text whose
// encoding does not keep ASCII bytes as themselves (a UTF-16 byte-order
// mark; in a page, such an encoding declared, or an ISO-2022 escape) stays
// as it is. False when a bound was passed or the values would begin the
// text with such a mark; `text` is then unspecified.
bool fillText(std::string& text, const std::vector<VLReplacement>& pairs, VLFillForm form,
              const VLFillBounds& bounds);

// A value escaped for text or a quoted attribute value of a page.
std::string escapeForMarkup(const std::string& value);
// A value escaped for the inside of a quoted script string: only letters,
// digits and a few inert signs stay, everything else becomes \x or \u.
std::string escapeForScriptString(const std::string& value);
