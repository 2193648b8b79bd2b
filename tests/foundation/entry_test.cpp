#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>
#include <ostream>

#include "foundation/base_name.h"
#include "foundation/command_line.h"
#include "platform/entry.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "support/case_name.h"

extern std::vector<std::string> recordedArguments;
extern bool recordedNullTerminator;
extern int recordedMainCalls;
extern int mainResultForTests;

namespace {

using Words = std::vector<std::string>;

struct SplitCase {
  const char* commandLine;
  Words expected;
};

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, CutsAtEveryBlank) {
  EXPECT_EQ(splitCommandLine(GetParam().commandLine), GetParam().expected);
}

// A failure names the case, not its bytes.
void PrintTo(const SplitCase& c, std::ostream* os) {
  *os << "\"" << c.commandLine << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SplitCommandLineTest,
    ::testing::Values(SplitCase{"", {}},
                      SplitCase{"-p 8080", {"-p", "8080"}},
                      SplitCase{"a  b", {"a", "", "b"}},
                      SplitCase{" a", {"", "a"}},
                      SplitCase{"a ", {"a"}},
                      SplitCase{"a  ", {"a", ""}},
                      SplitCase{" ", {""}},
                      SplitCase{"a\tb", {"a\tb"}},
                      SplitCase{"\"x y\" z", {"\"x", "y\"", "z"}},
                      SplitCase{"C:\\dir\\f -l", {"C:\\dir\\f", "-l"}}),
    [](const ::testing::TestParamInfo<SplitCase>& info) {
      return caseName(info.index, info.param.commandLine);
    });

std::string imagePathIn(const std::string& folder) {
  return folder == "\\" ? "\\varlumeimage.exe" : folder + "\\varlumeimage.exe";
}

TEST(ProgramEntryTest, BuildsTheArgumentVectorAndReturnsMainsResult) {
  struct Case {
    const char* commandLine;
    Words after;
    int result;
  };
  const Case cases[] = {{"", {}, 0}, {"-p 8080", {"-p", "8080"}, 1}, {"-l  -h", {"-l", "", "-h"}, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.commandLine);
    mainResultForTests = c.result;
    int calls = recordedMainCalls;
    EXPECT_EQ(programEntry(c.commandLine), c.result);
    EXPECT_EQ(recordedMainCalls, calls + 1);
    ASSERT_EQ(recordedArguments.size(), c.after.size() + 1);
    EXPECT_TRUE(recordedNullTerminator);
    EXPECT_EQ(recordedArguments[0], imagePathIn(platform::workingFolder()));
    EXPECT_STREQ(baseName(recordedArguments[0].c_str()), "varlumeimage.exe");
    EXPECT_EQ(Words(recordedArguments.begin() + 1, recordedArguments.end()), c.after);
  }
  mainResultForTests = 0;
}

// Argument 0 must fit a 4,096-byte buffer with its zero byte; one character
// more leaves it empty.
TEST(ProgramEntryTest, ImagePathLongerThanTheBufferIsEmpty) {
  const std::string start = platform::workingFolder();
  ASSERT_FALSE(start.empty());
  namespace fs = std::filesystem;
  const fs::path base = fs::temp_directory_path() / ("vl_entry_" + std::to_string(std::random_device()()));
  fs::create_directories(base);
  // Whatever happens, the test ends in its old working folder, its folders gone.
  struct Restore {
    std::string folder;
    fs::path made;
    ~Restore() {
      platform::setWorkingFolder(folder);
      std::error_code ignored;
      fs::remove_all(made, ignored);
    }
  } restore{start, base};
  ASSERT_TRUE(platform::setWorkingFolder(platform::fromSystemPath(base.string())));

  // Descends into new folders until the working folder has exactly `length`
  // characters; each level adds a "\" and its name.
  auto descendTo = [&](std::size_t length) {
    std::string folder = platform::workingFolder();
    while (!folder.empty() && folder.size() < length) {
      std::size_t room = length - folder.size();
      if (room < 2) return false;
      std::size_t size = room - 1 <= 100 ? room - 1 : (room - 101 == 1 ? 99 : 100);
      std::string name(size, 'd');
      if (!platform::makeDirectory(name) || !platform::setWorkingFolder(name)) return false;
      folder = platform::workingFolder();
    }
    return folder.size() == length;
  };

  const std::size_t imageSuffix = std::string("\\varlumeimage.exe").size();
  // 4,095 characters fit with the zero byte.
  ASSERT_TRUE(descendTo(4095 - imageSuffix));
  EXPECT_EQ(imageArgument().size(), 4095u);
  ASSERT_TRUE(descendTo(4095 - imageSuffix + 2));  // one more level: "\d"
  EXPECT_EQ(imageArgument(), "");
}

}  // namespace
