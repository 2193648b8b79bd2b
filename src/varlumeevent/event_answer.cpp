#include "varlumeevent/event_answer.h"

#include "foundation/url_escape.h"

int splitEventRow(const std::string& line, VLEventRow& row, std::vector<std::string>& found) {
  found.clear();
  const std::size_t npos = std::string::npos;
  const std::size_t firstEquals = line.find('=');
  const std::size_t firstAmp = line.find('&');
  if (firstEquals == npos || firstAmp == npos || firstAmp < firstEquals) return 1;
  found.push_back(line.substr(firstEquals + 1, firstAmp - firstEquals - 1));

  const std::size_t secondEquals = line.find('=', firstAmp + 1);
  const std::size_t secondAmp = secondEquals == npos ? npos : line.find('&', secondEquals + 1);
  if (secondAmp == npos) return 2;
  found.push_back(line.substr(secondEquals + 1, secondAmp - secondEquals - 1));

  const std::size_t thirdEquals = line.find('=', secondAmp + 1);
  if (thirdEquals == npos) return 3;
  found.push_back(line.substr(thirdEquals + 1));

  row.path = found[0];
  while (!row.path.empty() && row.path.back() == '*') row.path.pop_back();
  row.action = found[1];
  row.params = found[2];
  return 0;
}

VLEventChoice::VLEventChoice(const std::string& requestedPath) {
  std::size_t length = requestedPath.size();
  while (length > 0 && requestedPath[length - 1] == '*') --length;
  longestPossible_ = length;
}

bool VLEventChoice::offer(const VLEventRow& row) {
  if (!found_ || row.path.size() > chosen_.path.size()) {
    chosen_ = row;
    found_ = true;
  }
  return chosen_.path.size() < longestPossible_;
}

std::string eventTarget(const std::string& action, const std::string& requestedPath) {
  if (action.empty() || action.back() != '*') return action;
  std::string target = action;
  while (!target.empty() && target.back() == '*') target.pop_back();
  if (!target.empty() && target.back() == '/') target.pop_back();
  return target + requestedPath;
}

std::string decodeKeepingZeros(const std::string& text) {
  std::vector<char> buffer(text.size() + 10);
  const std::size_t length = urlDecodeInto(text.c_str(), buffer.data(), buffer.size());
  return std::string(buffer.data(), length);
}

std::string eventAnswerBody(const VLEventRow& row, const std::string& requestedPath) {
  return escapeControlBytes(eventTarget(row.action, requestedPath) + "?" + decodeKeepingZeros(row.params));
}
