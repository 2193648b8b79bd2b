// The pure pieces of the /GETEVENT answer: a ServerEvent row line split by
// position, the choice among matching rows, the follow-up target, and the
// body with no control byte (the proxy puts it into a request line).
#pragma once
#include <cstddef>
#include <string>
#include <vector>

struct VLEventRow {
  std::string path;    // trailing "*" removed
  std::string action;
  std::string params;  // as stored, still escaped
};

// Splits "Path=p&Action=a&ActionParams=q" by position. Returns 0, or 1, 2 or
// 3 for the piece whose separators are missing; `found` gets the raw pieces
// found before that one.
int splitEventRow(const std::string& line, VLEventRow& row, std::vector<std::string>& found);

// The choice among the rows of one look-up, made while they are read: the
// row with the longest path, the first on a tie. Every row a look-up for P
// matches has the path P, "*" or P followed by "*", so none is longer than
// P without its trailing "*": the first row of that length ends the choice,
// and no row after it needs reading.
class VLEventChoice {
 public:
  explicit VLEventChoice(const std::string& requestedPath);
  // Takes the next row in the order read; false once no later row can
  // change the choice.
  bool offer(const VLEventRow& row);
  bool found() const { return found_; }
  const VLEventRow& chosen() const { return chosen_; }

 private:
  std::size_t longestPossible_;
  bool found_ = false;
  VLEventRow chosen_;
};

// The action, or, when it ends in "*", the action without its trailing "*"
// and then one trailing "/", followed by the requested path.
std::string eventTarget(const std::string& action, const std::string& requestedPath);

// %XX-decoding that keeps an escaped zero byte and what follows it.
std::string decodeKeepingZeros(const std::string& text);

// target "?" params (decoded), with no control byte.
std::string eventAnswerBody(const VLEventRow& row, const std::string& requestedPath);
