// The configuration file: number reading, parsing, the next-user rule, the
// first starts of successive users, the failure lines, and the active
// configuration lines of the log.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "startup_scratch.h"
#include "varlume/cache_bound.h"
#include "varlume/configuration.h"
#include "varlume/port_check.h"
#include "varlume/settings.h"

using namespace std::string_literals;

namespace {

const std::string kFirst =
    "varlume=8080&proxyport=0&proxyhost=&varlumeservices=45000&varlumeinternal=50000&range=500\r\n";
const std::string kSecond =
    "varlume=8081&proxyport=0&proxyhost=&varlumeservices=45020&varlumeinternal=50500&range=500\r\n";
const std::string kThird =
    "varlume=8082&proxyport=0&proxyhost=&varlumeservices=45040&varlumeinternal=51000&range=500\r\n";

TEST(ConfigurationNumbers, ReadLikeTheFileReaders) {
  struct Case {
    const char* text;
    int value;
  } cases[] = {
      {"8080", 8080},      {"  42x", 42},         {"\t12", 12},          {"-1", -1},
      {"+7", 7},           {"", 0},               {"abc", 0},            {"500\r\n", 500},
      {"- 5", 0},          {"99999999999", INT_MAX}, {"-99999999999", INT_MIN},
  };
  for (const Case& c : cases) EXPECT_EQ(readDecimal(c.text), c.value) << '"' << c.text << '"';
}

TEST(ConfigurationText, ParsesEveryKeyAndKeepsTheHostWhole) {
  VLStartupScratch scratch;
  parseConfiguration(
      "varlume=9000&proxyport=3128&varlumeservices=46000&varlumeinternal=52000&range=10&"
      "proxyhost=up.example\r\n");
  EXPECT_EQ(listeningPort, 9000);
  EXPECT_EQ(proxyPort, 3128);
  EXPECT_EQ(servicesPort, 46000);
  EXPECT_EQ(internalPort, 52000);
  EXPECT_EQ(internalRange, 10);
  EXPECT_EQ(proxyHost, "up.example\r\n");

  parseConfiguration("range=7");
  EXPECT_EQ(listeningPort, 0);
  EXPECT_EQ(proxyPort, 0);
  EXPECT_EQ(proxyHost, "");
  EXPECT_EQ(internalRange, 7);
}

TEST(ConfigurationText, NextUserAdvancesOnlyTheKeysPresent) {
  VLStartupScratch scratch;
  parseConfiguration(kSecond);
  EXPECT_EQ(nextUserConfiguration(kSecond), kThird);

  const std::string lacking =
      "varlume=8081&proxyport=0&proxyhost=&varlumeservices=45020&range=500\r\n";
  parseConfiguration(lacking);
  EXPECT_EQ(nextUserConfiguration(lacking),
            "varlume=8082&proxyport=0&proxyhost=&varlumeservices=45040&range=500\r\n");
}

class ConfigurationFiles : public ::testing::Test {
 protected:
  // Loads the configuration of user `user` ("a", "b", ...) with tempPath set
  // the way start-up sets it.
  bool load(const std::string& user, std::string& failure) {
    tempPath = userFolder(user) + "Temp\\";
    return loadConfiguration(userFolder(user), allUsersFolder(), failure);
  }
  std::string userFolder(const std::string& user) {
    return scratch.programPath(user + "/Varlume/");
  }
  std::string allUsersFolder() { return scratch.programPath("common/Varlume/"); }
  std::string userFile(const std::string& user) {
    return scratch.path(user + "/Varlume/varlume.config");
  }
  std::string allUsersFile() { return scratch.path("common/Varlume/varlume.config"); }

  VLStartupScratch scratch;
};

TEST_F(ConfigurationFiles, SuccessiveUsersTakeSuccessivePortSets) {
  std::filesystem::create_directories(scratch.path("common/Varlume"));
  std::string failure;

  ASSERT_TRUE(load("a", failure)) << failure;
  EXPECT_EQ(scratch.read(userFile("a")), kFirst);
  EXPECT_EQ(scratch.read(allUsersFile()), kSecond);
  EXPECT_TRUE(scratch.exists(scratch.path("a/Varlume/Temp")));
  EXPECT_EQ(listeningPort, 8080);
  EXPECT_EQ(servicesPort, 45000);
  EXPECT_EQ(internalPort, 50000);
  EXPECT_EQ(internalRange, 500);
  EXPECT_EQ(proxyPort, 0);
  EXPECT_EQ(proxyHost, "");

  ASSERT_TRUE(load("b", failure)) << failure;
  EXPECT_EQ(scratch.read(userFile("b")), kSecond);
  EXPECT_EQ(scratch.read(allUsersFile()), kThird);
  EXPECT_EQ(listeningPort, 8081);
  EXPECT_EQ(internalPort, 50500);

  // A user with a file only reads it.
  ASSERT_TRUE(load("a", failure)) << failure;
  EXPECT_EQ(listeningPort, 8080);
  EXPECT_EQ(scratch.read(allUsersFile()), kThird);
}

// The cache bound is one more key of the same text: read from the user's
// file, its default when the key is missing, and carried with every other
// key (known or not) into the next user's set.
TEST_F(ConfigurationFiles, TheCacheBoundIsOneMoreKeyWithADefault) {
  const std::int64_t saved = cacheBoundBytes;
  const std::string withBound =
      "varlume=8081&proxyport=0&proxyhost=&varlumeservices=45020&varlumeinternal=50500&range=500"
      "&cachemegabytes=256&later=1\r\n";
  VLStartupScratch::write(allUsersFile(), withBound);
  std::string failure;
  ASSERT_TRUE(load("a", failure)) << failure;
  EXPECT_EQ(cacheBoundBytes, 256 * 1024 * 1024);
  EXPECT_EQ(VLStartupScratch::read(userFile("a")), withBound);
  EXPECT_EQ(VLStartupScratch::read(allUsersFile()),
            "varlume=8082&proxyport=0&proxyhost=&varlumeservices=45040&varlumeinternal=51000&range=500"
            "&cachemegabytes=256&later=1\r\n");

  VLStartupScratch::write(userFile("b"), kFirst);
  ASSERT_TRUE(load("b", failure)) << failure;
  EXPECT_EQ(cacheBoundBytes, kDefaultCacheMegabytes * 1024 * 1024);
  EXPECT_EQ(VLStartupScratch::read(userFile("b")), kFirst);
  cacheBoundBytes = saved;
}

// An all-users file that another user may write gives a first start its
// port set only: never that user's upstream proxy, nor any other key.
TEST_F(ConfigurationFiles, AWritableAllUsersFileGivesOnlyItsPortSet) {
  const std::string seeded =
      "varlume=8085&proxyport=3128&proxyhost=127.0.0.77&varlumeservices=45100&range=20&extra=1\r\n";
  scratch.write(allUsersFile(), seeded);
  std::filesystem::permissions(allUsersFile(), std::filesystem::perms::group_write,
                               std::filesystem::perm_options::add);
  std::string failure;
  ASSERT_TRUE(load("a", failure)) << failure;
  EXPECT_EQ(scratch.read(userFile("a")),
            "varlume=8085&proxyport=0&proxyhost=&varlumeservices=45100&varlumeinternal=0&range=20\r\n");
  EXPECT_EQ(proxyHost, "");
  EXPECT_EQ(proxyPort, 0);
  EXPECT_EQ(listeningPort, 8085);
  // The next user's set is advanced as ever.
  EXPECT_EQ(scratch.read(allUsersFile()),
            "varlume=8086&proxyport=3128&proxyhost=127.0.0.77&varlumeservices=45120&range=20&extra=1\r\n");
}

TEST(ConfigurationText, AFirstStartCopiesTheWholeTextOnlyFromAFileNoOtherUserMayChange) {
  const std::string text = "varlume=8081&proxyport=3128&proxyhost=up.example&varlumeservices=45020&"
                           "varlumeinternal=50500&range=500\r\n";
  EXPECT_EQ(firstStartText(text, false), text);
  EXPECT_EQ(firstStartText(text, true), kSecond);
}

TEST_F(ConfigurationFiles, ReadingAUserFileMakesAMissingTempFolder) {
  scratch.write(userFile("a"), "varlume=9001&range=3\0varlume=1"s);
  std::string failure;
  ASSERT_TRUE(load("a", failure)) << failure;
  EXPECT_EQ(listeningPort, 9001);  // the text ends at its zero byte
  EXPECT_EQ(internalRange, 3);
  EXPECT_TRUE(std::filesystem::is_directory(scratch.path("a/Varlume/Temp")));
  EXPECT_FALSE(scratch.exists(allUsersFile()));
}

TEST_F(ConfigurationFiles, OnlyTheFirst4096BytesAreRead) {
  scratch.write(userFile("a"), "range=3&" + std::string(5000, 'x') + "&varlume=9001");
  std::string failure;
  ASSERT_TRUE(load("a", failure)) << failure;
  EXPECT_EQ(internalRange, 3);
  EXPECT_EQ(listeningPort, 0);
}

TEST_F(ConfigurationFiles, APercentInAFolderNameIsNeverDecoded) {
  // "%41" would name another folder ("A") if the path were decoded; the user
  // would then get a new port set at every start.
  std::filesystem::create_directories(scratch.path("common/Varlume"));
  std::string failure;
  ASSERT_TRUE(load("a%41b", failure)) << failure;
  ASSERT_TRUE(load("a%41b", failure)) << failure;
  EXPECT_EQ(scratch.read(scratch.path("a%41b/Varlume/varlume.config")), kFirst);
  EXPECT_EQ(scratch.read(allUsersFile()), kSecond);
  EXPECT_FALSE(scratch.exists(scratch.path("aAb")));
}

TEST_F(ConfigurationFiles, FailuresNameTheirPath) {
  std::string failure;
  // No all-users folder: its file cannot be made.
  EXPECT_FALSE(load("a", failure));
  EXPECT_EQ(failure, "Failed to open or create file [" + allUsersFolder() +
                         "varlume.config]. Varlume aborting.");

  // A file stands where the user folder's parent should be.
  scratch.write(scratch.path("blocked"), "x");
  EXPECT_FALSE(load("blocked", failure));
  EXPECT_EQ(failure, "Failed to create directory [" + userFolder("blocked") + "]. Varlume aborting.");

  // A file stands where the temporary folder should be.
  scratch.write(scratch.path("c/Varlume/Temp"), "x");
  EXPECT_FALSE(load("c", failure));
  EXPECT_EQ(failure, "Failed to create directory [" + userFolder("c") + "Temp\\]. Varlume aborting.");
}

TEST(ConfigurationLog, ActiveConfigurationLines) {
  VLStartupScratch scratch;
  listeningPort = 9001;
  internalPort = 50000;
  internalRange = 500;
  servicesPort = 45000;
  proxyHost = "up\r\n";
  proxyPort = -1;
  basePath = "\\d\\Varlume\\";
  tempPath = "\\l\\Varlume\\Temp\\";
  std::vector<std::string> expected = {
      "  Listening Port:     9001", "  Internal Port:      50000", "  Internal Range:     500",
      "  Base Services Port: 45000", "  Proxy Host:         up\r\n", "  Proxy Port:         -1",
      "  Base Path:          \\d\\Varlume\\", "  Temp Path:          \\l\\Varlume\\Temp\\"};
  EXPECT_EQ(activeConfigurationLines(), expected);
}

}  // namespace

namespace {

// The port check after the options: which settings pass, by the Part's
// reading of numbers (digits followed by other text count as the digits).
TEST(ConfigurationPorts, OnlyPortsOfOneTo65535Pass) {
  struct Case {
    const char* what;
    const char* text;
    const char* option;  // the -p value, or null
    bool passes;
  } cases[] = {
      {"the first set", "varlume=8080&varlumeservices=45000&varlumeinternal=50000&range=500", nullptr, true},
      {"digits then text", "varlume=80x80&varlumeservices=45000&varlumeinternal=50000&range=500", nullptr, true},
      {"the highest ports", "varlume=65535&varlumeservices=65530&varlumeinternal=65036&range=500", nullptr, true},
      {"the lowest ports", "varlume=1&varlumeservices=1&varlumeinternal=1&range=1", nullptr, true},
      {"listening 0", "varlume=0&varlumeservices=45000&varlumeinternal=50000&range=500", nullptr, false},
      {"listening negative", "varlume=-8080&varlumeservices=45000&varlumeinternal=50000&range=500", nullptr, false},
      {"services + 5 beyond", "varlume=8080&varlumeservices=65531&varlumeinternal=50000&range=500", nullptr, false},
      {"notification range beyond", "varlume=8080&varlumeservices=45000&varlumeinternal=65037&range=500", nullptr,
       false},
      {"no range", "varlume=8080&varlumeservices=45000&varlumeinternal=50000", nullptr, false},
      {"a good -p over a bad key", "varlume=x&varlumeservices=45000&varlumeinternal=50000&range=500", "9000", true},
      {"a bad -p over a good key", "varlume=8080&varlumeservices=45000&varlumeinternal=50000&range=500", "0", false},
      {"values beyond int", "varlume=8080&varlumeservices=45000&varlumeinternal=2147483647&range=2147483647",
       nullptr, false},
  };
  for (const Case& c : cases) {
    VLStartupScratch scratch;
    parseConfiguration(c.text);
    VLPortSources sources;
    sources.configurationFile = "C:\\u\\varlume.config";
    sources.configurationText = c.text;
    if (c.option != nullptr) {
      listeningPort = readDecimal(c.option);
      sources.listeningOption = std::string(c.option);
    }
    const std::string problem = portSettingsProblem(sources);
    EXPECT_EQ(problem.empty(), c.passes) << c.what << ": " << problem;
    if (!c.passes) {
      EXPECT_EQ(problem.find("Varlume aborting."), problem.size() - 17) << c.what;
      EXPECT_NE(problem.find(c.option != nullptr ? "-p " : "[C:\\u\\varlume.config]"), std::string::npos)
          << c.what << ": " << problem;
    }
  }
}

}  // namespace
