#include "varlume/rule_file_text.h"

#include "foundation/strings.h"
#include "platform/files.h"

bool readRuleFileText(const std::string& path, std::string& text) {
  std::string p = path;
  replaceAll("/", "\\", p);
  std::string contents;
  if (!platform::readFile(p, contents)) return false;
  const std::size_t zero = contents.find('\0');
  text = zero == std::string::npos ? contents : contents.substr(0, zero);
  return true;
}

std::vector<std::string> ruleFileLines(const std::string& text, bool keepFinal) {
  std::vector<std::string> lines;
  std::string rest = text;
  for (;;) {
    const std::size_t end = rest.find('\n');
    if (end == std::string::npos) {
      if (keepFinal && !rest.empty()) lines.push_back(rest);
      return lines;
    }
    std::size_t lineEnd = end;
    if (lineEnd > 0 && rest[lineEnd - 1] == '\r') --lineEnd;
    lines.push_back(rest.substr(0, lineEnd));
    // Only the front: trimming the end would take the last line's own
    // line end, and the last rule of "CacheDomains.txt" would be lost.
    const std::size_t next = rest.find_first_not_of(" \t\r\n", end + 1);
    rest = next == std::string::npos ? std::string() : rest.substr(next);
  }
}
