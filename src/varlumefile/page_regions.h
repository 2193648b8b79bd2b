// The regions of an HTML text, as a browser's tokenizer meets them: text
// between tags, the quoted values of attributes that only carry data, the
// contents of script elements, and markup (everything else: tags,
// comments, raw-text elements, other attribute values). The regions follow
// each other without gaps and cover the text whole. Where the cut is in any
// doubt the bytes count as markup: after a comment whose end other readers
// would place elsewhere, the rest of the text is markup.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

enum class VLRegionKind { Markup, Text, Value, Script };

struct VLPageRegion {
  VLRegionKind kind;
  std::size_t begin;
  std::size_t end;
};

std::vector<VLPageRegion> pageRegions(const std::string& page);

// Whether a text region's bytes would open a tag, an end tag, a comment or a
// declaration ("<" followed by a letter, "/", "!" or "?").
bool opensMarkup(const std::string& text);
