#include "foundation/strings.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "foundation/word_finder.h"

namespace {

// The replacement engine. It feeds the text through a matcher one byte at a
// time; when the bytes taken so far end with `from`, those bytes are dropped
// and `to` is fed before the rest of the input. Since the bytes taken never
// hold an occurrence, the first occurrence of the whole text always ends at
// the byte just taken, which is exactly the restart-from-the-beginning rule
// at linear cost per byte fed.
//
// Every byte fed remembers whether it came from the original text. An
// occurrence with at least one original byte removes that byte for good, so
// there are at most |text| of them. Occurrences made only of inserted bytes
// are what lets a cascade run without end ("ab" -> "bbaa") or grow
// exponentially ("ab" -> "bba"); an exact run replaces a linear number of
// them and then gives up (Outcome::Cascade), and the text is done again with
// such occurrences left as they are.
enum class Outcome { Done, Cascade, Budget };

struct Engine {
  const std::string& from;
  const std::string& to;
  const VLWordFinder finder;
  const std::vector<std::size_t>& failure;  // of `from`, as the finder matches

  Engine(const std::string& f, const std::string& t) : from(f), to(t), finder(f), failure(finder.failure()) {}

  // exact: occurrences of inserted bytes only are replaced, at most
  // `insertedAllowance` of them; otherwise they are left as they are.
  // `expected` is the likely length of the result, reserved up front.
  Outcome run(const std::string& text, bool exact, std::size_t insertedAllowance,
              std::size_t maxReplacements, std::size_t expected, std::string& out) const {
    if (text.size() <= std::numeric_limits<std::uint32_t>::max()) {
      return runCounted<std::uint32_t>(text, exact, insertedAllowance, maxReplacements, expected, out);
    }
    return runCounted<std::uint64_t>(text, exact, insertedAllowance, maxReplacements, expected, out);
  }

  // What the matcher knows after out[0..i): its state and how many of
  // those bytes came from the original text.
  template <typename Count>
  struct Mark {
    std::uint32_t state;
    Count originals;
  };

  template <typename Count>
  Outcome runCounted(const std::string& text, bool exact, std::size_t insertedAllowance,
                     std::size_t maxReplacements, std::size_t expected, std::string& out) const {
    const std::size_t m = from.size();
    out.clear();
    out.reserve(expected);
    std::vector<Mark<Count>> marks;
    marks.reserve(expected + 1);
    marks.push_back({0, 0});
    // Pending input: the rest of the text below any number of partly fed copies of `to`.
    std::size_t textPos = 0;
    std::vector<std::size_t> toFrames;  // read positions in `to`, innermost last
    std::size_t replacements = 0;
    std::size_t insertedReplacements = 0;

    for (;;) {
      char c;
      bool original;
      if (!toFrames.empty()) {
        std::size_t& pos = toFrames.back();
        if (pos == to.size()) {
          toFrames.pop_back();
          continue;
        }
        c = to[pos++];
        original = false;
      } else if (textPos < text.size()) {
        if (marks.back().state == 0) {
          // From the start state, original bytes up to the next first byte
          // of `from` leave the matcher where it is: taken in one step.
          const std::size_t next = std::min(text.find(from[0], textPos), text.size());
          if (next > textPos) {
            const std::size_t taken = next - textPos;
            const Count before = marks.back().originals;
            out.append(text, textPos, taken);
            marks.resize(marks.size() + taken);
            Mark<Count>* mark = marks.data() + marks.size() - taken;
            for (std::size_t i = 1; i <= taken; ++i, ++mark) mark->originals = static_cast<Count>(before + i);
            textPos = next;
            continue;
          }
        }
        c = text[textPos++];
        original = true;
      } else {
        break;
      }

      std::size_t s = marks.back().state;
      while (s > 0 && from[s] != c) s = failure[s - 1];
      if (from[s] == c) ++s;
      out.push_back(c);
      const Count originals = static_cast<Count>(marks.back().originals + (original ? 1 : 0));

      if (s == m) {
        const std::size_t len = out.size();
        if (originals == marks[len - m].originals) {  // only inserted bytes
          if (!exact) {
            // Left as it is; matching goes on as after any occurrence.
            marks.push_back({static_cast<std::uint32_t>(failure[m - 1]), originals});
            continue;
          }
          if (insertedReplacements == insertedAllowance) return Outcome::Cascade;
          ++insertedReplacements;
        }
        if (++replacements > maxReplacements) return Outcome::Budget;
        out.resize(len - m);
        marks.resize(len - m + 1);
        if (!to.empty()) toFrames.push_back(0);
        continue;
      }
      marks.push_back({static_cast<std::uint32_t>(s), originals});
    }
    return Outcome::Done;
  }
};

// The length the text will likely have, to reserve: each occurrence it
// holds now replaced once, within `maxLength` and a few times the text
// (a longer result grows as it goes).
std::size_t expectedLength(const VLWordFinder& from, const std::string& to, const std::string& text,
                           std::size_t maxLength) {
  const std::size_t limit = std::max(text.size(), std::min(maxLength, 4 * text.size() + 65536));
  const std::size_t m = from.word().size();
  if (to.size() <= m) return text.size();
  std::size_t length = text.size();
  for (std::size_t at = from.find(text); at != std::string::npos && length < limit; at = from.find(text, at + m)) {
    length += to.size() - m;
  }
  return std::min(length, limit);
}

// The most bytes that repeats of inserted text may put in beyond the linear
// allowance before the fallback takes over.
constexpr std::size_t kCascadeBytes = 256 * 1024;

// Whether `to` is not empty and holds no byte of `from`: then no occurrence
// can take in a byte put in, nor form across the place of one taken out, so
// one pass from left to right gives the rule's result.
bool standsApart(const std::string& from, const std::string& to) {
  if (to.empty()) return false;
  bool inFrom[256] = {};
  for (unsigned char c : from) inFrom[c] = true;
  for (unsigned char c : to) {
    if (inFrom[c]) return false;
  }
  return true;
}

Outcome replaceInOnePass(const VLWordFinder& from, const std::string& to, const std::string& text,
                         std::size_t maxReplacements, std::size_t expected, std::string& out) {
  out.clear();
  out.reserve(expected);
  std::size_t replacements = 0;
  std::size_t taken = 0;
  for (std::size_t at = from.find(text); at != std::string::npos; at = from.find(text, taken)) {
    if (++replacements > maxReplacements) return Outcome::Budget;
    out.append(text, taken, at - taken);
    out += to;
    taken = at + from.word().size();
  }
  out.append(text, taken, std::string::npos);
  return Outcome::Done;
}

// The whole rule with its fallback; `maxReplacements` limits each attempt.
Outcome replaceInto(const std::string& from, const std::string& to, const std::string& text,
                    std::size_t maxReplacements, std::size_t maxLength, std::string& out) {
  Engine engine(from, to);
  const std::size_t expected = expectedLength(engine.finder, to, text, maxLength);
  if (standsApart(from, to)) return replaceInOnePass(engine.finder, to, text, maxReplacements, expected, out);
  if (to.find(from) == std::string::npos) {
    // Repeats of inserted text within this allowance follow the rule exactly:
    // as many as the text is long, and more while the bytes they put in stay
    // within kCascadeBytes, so a cascade that ends soon gives the rule's result.
    const std::size_t allowance = std::max(text.size() + 64, kCascadeBytes / (to.size() + 1));
    Outcome outcome = engine.run(text, true, allowance, maxReplacements, expected, out);
    if (outcome != Outcome::Cascade) return outcome;
  }
  return engine.run(text, false, 0, maxReplacements, expected, out);
}

bool isLower(unsigned char c) { return c >= 'a' && c <= 'z'; }
bool isUpper(unsigned char c) { return c >= 'A' && c <= 'Z'; }

bool isTrimmed(char c, bool all) {
  return c == ' ' || (all && (c == '\t' || c == '\r' || c == '\n'));
}

}  // namespace

std::string& replaceAll(const std::string& from, const std::string& to, std::string& text) {
  if (from.empty() || text.size() < from.size()) return text;
  std::string out;
  replaceInto(from, to, text, std::numeric_limits<std::size_t>::max(), std::numeric_limits<std::size_t>::max(), out);
  text.swap(out);
  return text;
}

bool replaceAllWithin(const std::string& from, const std::string& to, std::string& text,
                      std::size_t maxReplacements, std::size_t maxLength) {
  if (from.empty() || text.size() < from.size()) return text.size() <= maxLength;
  std::string out;
  if (replaceInto(from, to, text, maxReplacements, maxLength, out) != Outcome::Done) return false;
  if (out.size() > maxLength) return false;
  text.swap(out);
  return true;
}

std::string& ensureTrailingSlash(std::string& text) {
  if (!text.empty() && text.back() != '/' && text.back() != '\\') text.push_back('/');
  return text;
}

std::string toUpper(const std::string& text) {
  std::string result(text);
  for (char& c : result) {
    if (isLower(static_cast<unsigned char>(c))) c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

std::string toLower(const std::string& text) {
  std::string result(text);
  for (char& c : result) {
    if (isUpper(static_cast<unsigned char>(c))) c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

bool equalsIgnoreCase(const std::string& a, const std::string& b) {
  return toUpper(a) == toUpper(b);
}

std::string copyString(const std::string& text) { return text; }

std::string toString(const char* text) { return text ? std::string(text) : std::string(); }

std::string trim(const std::string& text, bool all) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && isTrimmed(text[begin], all)) ++begin;
  while (end > begin && isTrimmed(text[end - 1], all)) --end;
  return text.substr(begin, end - begin);
}

std::uint32_t stringToInt(const std::string& text, int base) {
  std::uint32_t sum = 0;
  std::uint32_t weight = 1;
  for (std::size_t i = text.size(); i-- > 0;) {
    unsigned char byte = static_cast<unsigned char>(text[i]);
    if (isLower(byte)) byte = static_cast<unsigned char>(byte - 'a' + 'A');
    const int code = static_cast<signed char>(byte);
    const int digit = code <= '9' ? code - 48 : code - 55;
    sum += static_cast<std::uint32_t>(digit) * weight;
    weight *= static_cast<std::uint32_t>(base);
  }
  return sum;
}

std::string intToString(std::int32_t value) {
  if (value < 0) return std::string();
  return unsignedToString(static_cast<std::uint32_t>(value));
}

std::string unsignedToString(std::uint32_t value) {
  char digits[16];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  std::string result;
  while (n > 0) result.push_back(digits[--n]);
  return result;
}
