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

// The index of the row with the longest path (the first on a tie); -1 for none.
int chooseEventRow(const std::vector<VLEventRow>& rows);

// The action, or, when it ends in "*", the action without its trailing "*"
// and then one trailing "/", followed by the requested path.
std::string eventTarget(const std::string& action, const std::string& requestedPath);

// %XX-decoding that keeps an escaped zero byte and what follows it.
std::string decodeKeepingZeros(const std::string& text);

// target "?" params (decoded), with no control byte.
std::string eventAnswerBody(const VLEventRow& row, const std::string& requestedPath);
