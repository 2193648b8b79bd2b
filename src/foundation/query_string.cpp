#include "foundation/query_string.h"

#include "foundation/strings.h"

int countPairs(const std::string& text) {
  int count = 0;
  for (char c : text) {
    if (c == '=') ++count;
  }
  return count;
}

std::string queryValue(const std::string& key, const std::string& text) {
  const std::string wanted = trim(key, false) + "=";
  const std::size_t found = text.find(wanted);
  if (found == std::string::npos) return std::string();
  const std::size_t begin = found + wanted.size();
  if (begin >= text.size()) return std::string();
  const std::size_t end = text.find('&', begin);
  return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

std::string queryPair(std::string& keyOut, std::string& valueOut, const std::string& text, int n) {
  keyOut.clear();
  valueOut.clear();
  if (n < 0 || trim(text, true).empty()) return std::string();

  std::size_t begin = 0;
  if (n > 0) {
    std::size_t amp = 0;  // an "&" at index 0 is not counted
    for (int i = 0; i < n; ++i) {
      amp = text.find('&', amp + 1);
      if (amp == std::string::npos) return std::string();
    }
    if (amp + 1 >= text.size()) return std::string();
    begin = amp + 1;
  }

  const std::size_t equals = text.find('=', begin);
  if (equals == std::string::npos) return std::string();
  const std::size_t end = text.find('&', equals + 1);
  keyOut = trim(text.substr(begin, equals - begin), false);
  valueOut = text.substr(equals + 1, end == std::string::npos ? std::string::npos : end - equals - 1);
  return valueOut;
}

std::string setQueryValue(const std::string& key, const std::string& value, const std::string& text) {
  const int pairs = countPairs(text);
  std::string result;
  std::string pairKey;
  std::string pairValue;
  for (int i = 0; i < pairs; ++i) {
    queryPair(pairKey, pairValue, text, i);
    if (pairKey == key) pairValue = value;
    if (!result.empty()) result += "&";
    result += pairKey;
    result += "=";
    result += pairValue;
  }
  return result;
}
