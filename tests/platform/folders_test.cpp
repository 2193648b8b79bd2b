#include "platform/folders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

namespace {

using platform::ShellFolder;

const char* const kVariables[] = {"VARLUME_DOCUMENTS_DIR", "VARLUME_APPDATA_DIR", "VARLUME_LOCAL_APPDATA_DIR",
                                  "VARLUME_COMMON_APPDATA_DIR", "VARLUME_PROGRAM_FILES_DIR", "XDG_DOCUMENTS_DIR",
                                  "XDG_DATA_HOME", "XDG_CONFIG_HOME", "HOME"};

// Saves the variables the folders read and puts them back afterwards.
class FoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kVariables) {
      if (const char* value = std::getenv(name)) saved_[name] = value;
    }
    clear();
  }
  static void clear() {
    for (const char* name : kVariables) unsetenv(name);
  }
  void TearDown() override {
    for (const char* name : kVariables) {
      auto found = saved_.find(name);
      if (found == saved_.end()) {
        unsetenv(name);
      } else {
        setenv(name, found->second.c_str(), 1);
      }
    }
  }
  static void set(const std::map<std::string, std::string>& values) {
    for (const auto& [name, value] : values) setenv(name.c_str(), value.c_str(), 1);
  }

 private:
  std::map<std::string, std::string> saved_;
};

struct FolderCase {
  ShellFolder which;
  std::map<std::string, std::string> variables;
  std::string expected;
};

TEST_F(FoldersTest, VariablesThenDefaults) {
  const FolderCase cases[] = {
      {ShellFolder::Documents, {{"VARLUME_DOCUMENTS_DIR", "/v/docs/"}, {"XDG_DOCUMENTS_DIR", "/x"}, {"HOME", "/h"}},
       "/v/docs"},
      {ShellFolder::Documents, {{"XDG_DOCUMENTS_DIR", "/x/docs"}, {"HOME", "/h"}}, "/x/docs"},
      {ShellFolder::Documents, {{"HOME", "/h/"}}, "/h/Documents"},
      {ShellFolder::Documents, {{"VARLUME_DOCUMENTS_DIR", ""}, {"HOME", "/h"}}, "/h/Documents"},
      {ShellFolder::Documents, {}, ""},
      {ShellFolder::RoamingAppData, {{"VARLUME_APPDATA_DIR", "/v/roam"}, {"HOME", "/h"}}, "/v/roam"},
      {ShellFolder::RoamingAppData, {{"HOME", "/h"}}, "/h"},
      {ShellFolder::LocalAppData, {{"VARLUME_LOCAL_APPDATA_DIR", "/v/local"}, {"XDG_DATA_HOME", "/x"}}, "/v/local"},
      {ShellFolder::LocalAppData, {{"XDG_DATA_HOME", "/x/data"}, {"HOME", "/h"}}, "/x/data"},
      {ShellFolder::LocalAppData, {{"HOME", "/h"}}, "/h/.local/share"},
      {ShellFolder::CommonAppData, {{"VARLUME_COMMON_APPDATA_DIR", "/v/all"}, {"HOME", "/h"}}, "/v/all"},
      {ShellFolder::CommonAppData, {{"XDG_CONFIG_HOME", "/x/config"}, {"HOME", "/h"}}, "/x/config"},
      {ShellFolder::CommonAppData, {{"HOME", "/h"}}, "/h/.config"},
      {ShellFolder::ProgramFiles, {{"VARLUME_PROGRAM_FILES_DIR", "/v/programs//"}}, "/v/programs"},
  };
  for (const FolderCase& c : cases) {
    clear();
    set(c.variables);
    EXPECT_EQ(platform::shellFolder(c.which), c.expected)
        << "folder " << static_cast<int>(c.which) << " with " << c.variables.size() << " variables";
  }
}

TEST_F(FoldersTest, ProgramFilesDefaultsToTheFolderAboveTheProgramsFolder) {
  std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe");
  EXPECT_EQ(platform::shellFolder(ShellFolder::ProgramFiles), program.parent_path().parent_path().string());
}

}  // namespace
