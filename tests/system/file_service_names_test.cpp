// No name a page sends reaches outside the site's home or the cache folder,
// however it is encoded: sentinel files above the home, in another site's
// home, in the documents folder and in the cache stay byte-identical and
// never appear in a reply; nothing is created outside; names still holding
// "%" after one decoding and refused Host or home values answer 1000.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "support/file_service_fixture.h"

namespace {

namespace fs = std::filesystem;
using filetest::errorXml;
using filetest::FileServiceTest;
using filetest::Upload;

const std::string kSecret = "SENTINEL-bytes-that-must-stay";

class FileNames : public FileServiceTest {
 protected:
  void SetUp() override {
    FileServiceTest::SetUp();
    for (const std::string& path : sentinels()) ASSERT_TRUE(sandbox::writeFile(path, kSecret));
    sandbox::writeFile(home() + "/local.txt", "local");
    fs::create_directories(home() + "/sub");
    before = snapshot();
  }

  std::vector<std::string> sentinels() {
    return {dataRoot() + "/secret.txt", documents() + "/secret.txt", dataRoot() + "/other.example/secret.txt",
            cache() + "/secret.txt", box.user(0).home + "/secret.txt"};
  }

  // Every path under the sandbox outside the site's home (and its temp
  // folder, and the cache when cache commands ran: they may empty it).
  std::map<std::string, std::string> snapshot(bool withCache = true) const {
    std::map<std::string, std::string> seen;
    for (auto it = fs::recursive_directory_iterator(box.root()); it != fs::recursive_directory_iterator(); ++it) {
      const std::string path = it->path().string();
      if (path.rfind(home(), 0) == 0 || path.rfind(tempFolder(), 0) == 0) continue;
      if (!withCache && path.rfind(cache(), 0) == 0) continue;
      if (path.find("-output.txt") != std::string::npos) continue;
      seen[path] = it->is_regular_file() ? sandbox::readFile(path).value_or("?") : "<folder>";
    }
    return seen;
  }

  void expectNothingOutside(const std::string& what, bool withCache = true) {
    std::map<std::string, std::string> expected = before;
    if (!withCache) {
      for (auto it = expected.begin(); it != expected.end();) {
        it = it->first.rfind(cache(), 0) == 0 ? expected.erase(it) : std::next(it);
      }
    }
    EXPECT_EQ(snapshot(withCache), expected) << what;
  }

  std::map<std::string, std::string> before;
};

// One and two levels up, in every spelling of "..", and the separators.
std::vector<std::string> upwardPrefixes() {
  const std::vector<std::string> once = {"../",     "..\\",     "%2E%2E/", "%2e%2e%5c", "%252E%252E/",
                                         "%3.%3./", "%:.%:./", "..%2F",   "..%5C",     ".%2E/",
                                         "%2E./",   "./../",   "...//"};
  std::vector<std::string> prefixes;
  for (const std::string& p : once) {
    prefixes.push_back(p);
    prefixes.push_back(p + p);
    prefixes.push_back("sub/" + p + p);
  }
  return prefixes;
}

std::vector<std::string> hostileNames(const std::string& documents, const std::string& dataRoot) {
  std::vector<std::string> names;
  for (const std::string& prefix : upwardPrefixes()) {
    names.push_back(prefix + "secret.txt");
    names.push_back(prefix + "other.example/secret.txt");
    names.push_back(prefix + "Cache/secret.txt");
  }
  for (const std::string& absolute : {documents + "/secret.txt", dataRoot + "/secret.txt"}) {
    names.push_back(absolute);
    names.push_back(sandbox::programsForm(absolute));
    std::string encoded;
    for (char c : absolute) encoded += c == '/' ? std::string("%2F") : std::string(1, c);
    names.push_back(encoded);
  }
  return names;
}

TEST_F(FileNames, NoNameReachesOutsideItsRoot) {
  const std::vector<std::string> names = hostileNames(documents(), dataRoot());
  for (const std::string& name : names) {
    const std::vector<std::string> targets = {
        "/ISFILE?Name=" + name,
        "/ISDIR?Name=" + name,
        "/GET?Path=" + name,
        "/GET?Path=" + name + "&Encoding=BASE64",
        "/" + name,
        "/REMOVEFILE?Name=" + name,
        "/RENAME?Name=" + name + "&NewName=stolen.txt",
        "/RENAME?Name=local.txt&NewName=" + name,
        "/STRINGFILE?Path=&Name=" + name + "&Data=planted",
        "/MKDIR?Name=" + name + ".d",
    };
    for (const std::string& target : targets) {
      const testsupport::HttpResponse response = get(target);
      EXPECT_EQ(response.body.find(kSecret), std::string::npos) << target;
      EXPECT_EQ(response.head.find(kSecret), std::string::npos) << target;
    }
    const testsupport::HttpResponse uploaded = upload("/SAVEFILE?Path=", {{name, "planted"}});
    EXPECT_EQ(uploaded.body.find(kSecret), std::string::npos) << name;
    expectNothingOutside(name);
    // Whatever landed in the home is put back for the next name.
    sandbox::writeFile(home() + "/local.txt", "local");
  }
}

TEST_F(FileNames, CacheNamesNeverReachAboveTheCache) {
  for (const std::string& name : hostileNames(documents(), dataRoot())) {
    EXPECT_EQ(xml("/REMOVECACHEFILE?Name=" + name).find(kSecret), std::string::npos) << name;
    expectNothingOutside(name, false);
  }
}

TEST_F(FileNames, FolderNamesAboveTheRootNeverRemoveOrListIt) {
  for (const std::string& prefix : upwardPrefixes()) {
    for (const std::string& target :
         {"/REMOVEDIRECTORY?Name=" + prefix, "/REMOVECACHEDIRECTORY?Name=" + prefix,
          "/SCANDIR?Name=" + prefix, "/SAVEFILE?Path=" + prefix + "planted",
          "/STRINGFILE?Path=" + prefix + "&Name=planted.txt&Data=x", "/MKDIR?Name=" + prefix + "planted"}) {
      const std::string body = xml(target);
      EXPECT_EQ(body.find("secret.txt"), std::string::npos) << target;
      EXPECT_EQ(body.find("other.example"), std::string::npos) << target;
    }
    const std::string cacheListing = privilegedXml("/SCANCACHEDIR?Name=" + prefix);
    EXPECT_EQ(cacheListing.find("site.example"), std::string::npos) << prefix;
    expectNothingOutside(prefix, false);
    fs::create_directories(home() + "/sub");
    sandbox::writeFile(home() + "/local.txt", "local");
  }
}

TEST_F(FileNames, ANameStillEscapedAfterOneDecodingIsRefused) {
  for (const std::string name : {"%252E%252E/secret.txt", "a%25b", "100%", "x%00y", "%2500"}) {
    for (const std::string command : {"/ISFILE?Name=", "/GET?Path=", "/REMOVEDIRECTORY?Name=", "/MKDIR?Name="}) {
      EXPECT_EQ(xml(command + name), errorXml("1000", name + " is not an allowed name.")) << command << name;
    }
    EXPECT_EQ(xml("/RENAME?Name=local.txt&NewName=" + name),
              errorXml("1000", name + " is not an allowed name."));
    EXPECT_EQ(xml("/STRINGFILE?Path=&Name=" + name + "&Data=x"), errorXml("1000", name + " is not an allowed name."));
    EXPECT_EQ(upload("/SAVEFILE?Path=", {{name, "x"}, {"kept.txt", "kept"}}).body,
              errorXml("1080", "1 files not saved. " + name + " is not an allowed name."));
    EXPECT_EQ(sandbox::readFile(home() + "/kept.txt").value_or(""), "kept");
    fs::remove(home() + "/kept.txt");
  }
  const std::string overlong(3 * 4096 + 1, 'n');
  EXPECT_EQ(xml("/ISFILE?Name=" + overlong), errorXml("1000", overlong + " is not an allowed name."));
  EXPECT_EQ(xml("/RENAME?Name=local.txt&NewName=" + overlong), errorXml("1000", overlong + " is not an allowed name."));
  EXPECT_EQ(sandbox::readFile(home() + "/local.txt").value_or(""), "local");
  expectNothingOutside("escaped names");
}

TEST_F(FileNames, RefusedHostsAndHomesAnswer1000AndTouchNothing) {
  struct HostCase {
    std::string host;
    std::string extraHead;
  };
  const HostCase cases[] = {
      {"", ""},
      {".", ""},
      {"..", ""},
      {"a/../other.example", ""},
      {"x%2F..%2Fother.example", ""},
      {"\\", ""},
      {"site\x01.example", ""},
      {"site.example", "VarlumeSubDomainHome: ../other.example\r\n"},
      {"site.example", "VARLUMESUBDOMAINHOME: %2E%2E\r\n"},
  };
  for (const HostCase& c : cases) {
    for (const std::string target : {"/MKDIR?Name=made", "/REMOVEDIRECTORY?Name=", "/GET?Path=secret.txt",
                                      "/secret.txt", "/SCANDIR?Name=", "/STRINGFILE?Path=&Name=made.txt&Data=x"}) {
      const testsupport::HttpResponse response = request("GET", target, c.host, c.extraHead);
      EXPECT_EQ(response.body.rfind("<Varlume><ErrorCode>1000</ErrorCode><ErrorReason>", 0), 0u)
          << c.host << c.extraHead << target << ": " << response.body;
      EXPECT_NE(response.body.find(" is not an allowed name.</ErrorReason>"), std::string::npos) << response.body;
    }
  }
  EXPECT_EQ(sandbox::readFile(home() + "/local.txt").value_or(""), "local");
  EXPECT_FALSE(fs::exists(home() + "/made"));
  expectNothingOutside("refused hosts");
  // Commands that need no home still answer.
  EXPECT_NE(request("GET", "/GETVERSION", "").body.find("varlumefile 1.0.0"), std::string::npos);
}

}  // namespace
