#include "platform/process.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/clock.h"
#include "platform/sockets.h"
#include "temp_folder.h"

namespace fs = std::filesystem;

namespace {

// Waits (bounded) until `path` holds a complete line.
std::string waitForMarker(const TempFolder& temp, const std::string& name) {
  for (int i = 0; i < 1000; ++i) {
    std::string text = temp.read(name);
    if (!text.empty() && text.back() == '\n' && text.find("done") != std::string::npos) return text;
    platform::pause(0, 10000);
  }
  return std::string();
}

void writeScript(const TempFolder& temp, const std::string& name, const std::string& body) {
  temp.write(name, "#!/bin/sh\n" + body);
  fs::permissions(temp.path(name), fs::perms::owner_all);
}

TEST(StartProgramTest, ExeNameRunsTheProgramWithoutSuffix) {
  TempFolder temp;
  // The child lists its open descriptors: none of ours may be among them.
  platform::Socket listener = platform::tcpSocket();
  ASSERT_TRUE(platform::bindSocket(listener, platform::kLoopbackAddress, 0));
  ASSERT_TRUE(platform::listenSocket(listener, 1));
  writeScript(temp, "x",
              "ls -l /proc/$$/fd > '" + temp.path("fds") + "'\n"
              "echo done $# > '" + temp.path("marker") + "'\n");

  ASSERT_TRUE(platform::startProgram(temp.programPath("x.exe")));
  EXPECT_EQ(waitForMarker(temp, "marker"), "done 0\n") << "no arguments are passed";
  EXPECT_EQ(temp.read("fds").find("socket:"), std::string::npos) << temp.read("fds");
  platform::closeSocket(listener);
}

TEST(StartProgramTest, ExistingExeFileIsRunItself) {
  TempFolder temp;
  writeScript(temp, "y.exe", "echo done exe > '" + temp.path("marker") + "'\n");
  writeScript(temp, "y", "echo done plain > '" + temp.path("marker") + "'\n");
  ASSERT_TRUE(platform::startProgram(temp.programPath("y.exe")));
  EXPECT_EQ(waitForMarker(temp, "marker"), "done exe\n");
}

TEST(StartProgramTest, MissingOrNotExecutableFails) {
  TempFolder temp;
  EXPECT_FALSE(platform::startProgram(temp.programPath("absent.exe")));
  temp.write("plain", "#!/bin/sh\n");
  fs::permissions(temp.path("plain"), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_FALSE(platform::startProgram(temp.programPath("plain")));
  EXPECT_FALSE(platform::startProgram(""));
}

}  // namespace
