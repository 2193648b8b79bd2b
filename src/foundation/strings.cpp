#include "foundation/strings.h"

#include <algorithm>
#include <limits>
#include <vector>

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
  std::vector<std::size_t> failure;  // KMP failure function of `from`

  Engine(const std::string& f, const std::string& t) : from(f), to(t), failure(f.size(), 0) {
    for (std::size_t i = 1, k = 0; i < from.size(); ++i) {
      while (k > 0 && from[i] != from[k]) k = failure[k - 1];
      if (from[i] == from[k]) ++k;
      failure[i] = k;
    }
  }

  // exact: occurrences of inserted bytes only are replaced, at most
  // `insertedAllowance` of them; otherwise they are left as they are.
  Outcome run(const std::string& text, bool exact, std::size_t insertedAllowance,
              std::size_t maxReplacements, std::string& out) const {
    const std::size_t m = from.size();
    out.clear();
    out.reserve(text.size());
    // states[i]: matcher state after out[0..i); originals[i]: original bytes in out[0..i).
    std::vector<std::uint32_t> states{0};
    std::vector<std::size_t> originals{0};
    states.reserve(text.size() + 1);
    originals.reserve(text.size() + 1);
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
        c = text[textPos++];
        original = true;
      } else {
        break;
      }

      std::size_t s = states.back();
      while (s > 0 && from[s] != c) s = failure[s - 1];
      if (from[s] == c) ++s;
      out.push_back(c);
      originals.push_back(originals.back() + (original ? 1 : 0));

      if (s == m) {
        const std::size_t len = out.size();
        if (originals[len] == originals[len - m]) {  // only inserted bytes
          if (!exact) {
            // Left as it is; matching goes on as after any occurrence.
            states.push_back(static_cast<std::uint32_t>(failure[m - 1]));
            continue;
          }
          if (insertedReplacements == insertedAllowance) return Outcome::Cascade;
          ++insertedReplacements;
        }
        if (++replacements > maxReplacements) return Outcome::Budget;
        out.resize(len - m);
        states.resize(len - m + 1);
        originals.resize(len - m + 1);
        if (!to.empty()) toFrames.push_back(0);
        continue;
      }
      states.push_back(static_cast<std::uint32_t>(s));
    }
    return Outcome::Done;
  }
};

// The most bytes that repeats of inserted text may put in beyond the linear
// allowance before the fallback takes over.
constexpr std::size_t kCascadeBytes = 256 * 1024;

// The whole rule with its fallback; `maxReplacements` limits each attempt.
Outcome replaceInto(const std::string& from, const std::string& to, const std::string& text,
                    std::size_t maxReplacements, std::string& out) {
  Engine engine(from, to);
  if (to.find(from) == std::string::npos) {
    // Repeats of inserted text within this allowance follow the rule exactly:
    // as many as the text is long, and more while the bytes they put in stay
    // within kCascadeBytes, so a cascade that ends soon gives the rule's result.
    const std::size_t allowance = std::max(text.size() + 64, kCascadeBytes / (to.size() + 1));
    Outcome outcome = engine.run(text, true, allowance, maxReplacements, out);
    if (outcome != Outcome::Cascade) return outcome;
  }
  return engine.run(text, false, 0, maxReplacements, out);
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
  replaceInto(from, to, text, std::numeric_limits<std::size_t>::max(), out);
  text.swap(out);
  return text;
}

bool replaceAllWithin(const std::string& from, const std::string& to, std::string& text,
                      std::size_t maxReplacements, std::size_t maxLength) {
  if (from.empty() || text.size() < from.size()) return text.size() <= maxLength;
  std::string out;
  if (replaceInto(from, to, text, maxReplacements, out) != Outcome::Done) return false;
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
