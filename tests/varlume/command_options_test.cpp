// The command line: the usage text byte for byte, and which option words
// change which setting or end start-up with the usage text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/options.h"
#include "startup_scratch.h"
#include "varlume/command_options.h"
#include "varlume/settings.h"

namespace {

TEST(CommandOptions, UsageText) {
  EXPECT_EQ(usageText("varlumeimage.exe", "1.0.0, 2006-08-24"),
            "\n"
            "varlumeimage.exe: 1.0.0, 2006-08-24\n"
            "usage: varlumeimage.exe\n"
            "-p port        - the port on which to listen, default 8080\n"
            "-x proxy       - the URI or IP address of the proxy to use\n"
            "-y port        - the port on the proxy to connect to\n"
            "-l             - increase the loglevel, default is 0\n"
            "-h             - display this usage help\n");
  // A name too long for the text's 4,096 bytes is cut, never written beyond.
  EXPECT_EQ(usageText(std::string(5000, 'n'), "v").size(), 4095u);
}

TEST(CommandOptions, OptionsOverrideInOrderOrEndWithUsage) {
  struct Case {
    std::vector<std::string> words;
    bool accepted;
    int listening;
    std::string host;
    int port;
  } cases[] = {
      {{}, true, 8080, "", 0},
      {{"-p", "9000", "-p", "9001"}, true, 9001, "", 0},
      {{"-l"}, true, 8080, "", 0},
      {{"-l", "-p", "9000"}, true, 9000, "", 0},
      {{"-x", "up.example", "-y", "3128"}, true, 8080, "up.example", 3128},
      {{"-y", "-1"}, true, 8080, "", -1},
      {{"-h"}, false, 8080, "", 0},
      {{"-?"}, false, 8080, "", 0},
      {{"-z"}, false, 8080, "", 0},
      {{"-p"}, false, 8080, "", 0},
      {{"-p8080"}, false, 8080, "", 0},
      {{"-p", "9000", "-h", "-p", "9001"}, false, 9000, "", 0},
  };
  const std::string usage = "\nusage\n";
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& word : c.words) joined += word + " ";
    SCOPED_TRACE(joined);
    VLStartupScratch scratch;
    listeningPort = 8080;
    proxyPort = 0;
    resetOptionScanner();
    std::vector<std::string> texts = {"varlumeimage.exe"};
    texts.insert(texts.end(), c.words.begin(), c.words.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);

    scratch.openLog();
    EXPECT_EQ(applyOptions(static_cast<int>(texts.size()), argv.data(), usage), c.accepted);
    EXPECT_EQ(scratch.logText(), c.accepted ? "" : usage + "\n");
    EXPECT_EQ(listeningPort, c.listening);
    EXPECT_EQ(proxyHost, c.host);
    EXPECT_EQ(proxyPort, c.port);
  }
}

}  // namespace
