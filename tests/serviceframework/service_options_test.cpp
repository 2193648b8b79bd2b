// The services' option scanner and the formatting of their usage text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/options.h"
#include "serviceframework/service_options.h"

namespace sftest {
namespace {

struct ScanCase {
  std::vector<std::string> arguments;  // after argument 0
  const char* optionString;
  // What each call gives: a letter with its value, "?" or "end"; scanning
  // stops at "?" as the services do.
  std::vector<std::string> results;
};

std::vector<std::string> scan(const ScanCase& c) {
  std::vector<std::string> words = {"\\work\\varlumeimage.exe"};
  words.insert(words.end(), c.arguments.begin(), c.arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  resetOptionScanner();
  std::vector<std::string> results;
  for (int calls = 0; calls < 10; ++calls) {
    int letter = getServiceOption(static_cast<int>(words.size()), argv.data(), c.optionString);
    if (letter == -1) {
      results.push_back("end");
      break;
    }
    if (letter == '?') {
      results.push_back("?");
      break;
    }
    std::string result(1, static_cast<char>(letter));
    if (optionValue[0] != '\0') result += "=" + std::string(optionValue);
    results.push_back(result);
  }
  return results;
}

TEST(ServiceOptions, ScannerComparesValueLettersWithTheFirstCharacter) {
  const std::string longValue(4096, 'v');
  const ScanCase cases[] = {
      {{}, "lh?p:", {"end"}},
      {{"p", "45003"}, "lh?p:", {"p=45003", "end"}},
      {{"-p", "45003"}, "lh?p:", {"?"}},
      {{"-l", "-p", "45003"}, "lh?p:", {"l", "?"}},
      {{"-l", "p", "45003"}, "lh?p:", {"l", "p=45003", "end"}},
      {{"p", "45003", "-l"}, "lh?p:", {"p=45003", "l", "end"}},
      {{"--l"}, "lh?p:", {"l", "end"}},
      {{"-lh"}, "lh?p:", {"l", "h", "end"}},
      {{"l"}, "lh?p:", {"l", "end"}},
      {{"-?"}, "lh?p:", {"?"}},
      {{"-x"}, "lh?p:", {"?"}},
      {{"p"}, "lh?p:", {"?"}},
      {{"", "-l"}, "lh?p:", {"?"}},
      {{"d", "/srv/data", "p", "45010"}, "lh?p:d:", {"d=/srv/data", "p=45010", "end"}},
      {{"d", "/srv/data"}, "lh?p:", {"?"}},
      {{"p", longValue}, "lh?p:", {"?"}},
      {{"p", longValue.substr(1)}, "lh?p:", {"p=" + longValue.substr(1), "end"}},
  };
  for (const ScanCase& c : cases) {
    std::string shown;
    for (const std::string& word : c.arguments) shown += "[" + word.substr(0, 12) + "]";
    EXPECT_EQ(scan(c), c.results) << shown << " with " << c.optionString;
  }
}

TEST(ServiceOptions, FormatTextWritesTheUsageAndCutsWhatDoesNotFit) {
  char buffer[kFormatTextSize];
  int length = formatText(buffer,
                          "\n%s: %s\nusage: %s\n-p port        - the port on which to listen, default %d\n"
                          "-l             - increase the loglevel, default is 0\n"
                          "-h             - display this usage help\n",
                          "varlumeimage.exe", "varlumeevent 1.0.0, 2006-08-24", "varlumeimage.exe", 45003);
  const std::string expected =
      "\nvarlumeimage.exe: varlumeevent 1.0.0, 2006-08-24\nusage: varlumeimage.exe\n"
      "-p port        - the port on which to listen, default 45003\n"
      "-l             - increase the loglevel, default is 0\n"
      "-h             - display this usage help\n";
  EXPECT_EQ(std::string(buffer), expected);
  EXPECT_EQ(length, static_cast<int>(expected.size()));

  // A documents path longer than the buffer: cut, terminated, reported.
  const std::string longPath(5000, 'd');
  EXPECT_EQ(formatText(buffer, "default %s\n", longPath.c_str()), -1);
  EXPECT_EQ(std::string(buffer), "default " + longPath.substr(0, kFormatTextSize - 1 - 8));
}

}  // namespace
}  // namespace sftest
