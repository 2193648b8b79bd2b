// The real varlume whose listening port is taken: the start-up log ends on
// one line that says so, never claims to listen, and the program ends with
// status 1.
#include <gtest/gtest.h>

#include <string>

#include "platform/sockets.h"
#include "support/proxy_process.h"
#include "support/sandbox.h"

namespace {

TEST(ProxyListener, ATakenPortIsLoggedAndEndsWithOne) {
  sandbox::VLSandbox box;
  const platform::Socket taken = platform::tcpSocket();
  ASSERT_TRUE(platform::bindSocket(taken, platform::kLoopbackAddress, 0));
  ASSERT_TRUE(platform::listenSocket(taken, 1));
  const int port = platform::localPort(taken);

  sandbox::VLChildProgram child;
  ASSERT_TRUE(child.start(VARLUME_PROGRAM_DIR "/varlume", {"-p", std::to_string(port)},
                          box.makeFolder("work"), box.environment(0)));
  int status = -1;
  ASSERT_TRUE(child.waitForExit(20000, &status));
  EXPECT_EQ(status, 1);
  const std::string log =
      sandbox::readFile(box.user(0).documents + "/VarlumeStartupLog.txt").value_or("");
  const std::string line = "Could not listen for browser connections on 127.0.0.1 port " +
                           std::to_string(port) + ". Varlume aborting.\n";
  ASSERT_GE(log.size(), line.size());
  EXPECT_EQ(log.substr(log.size() - line.size()), line);
  // The start never reached the listener: nothing says it listens.
  EXPECT_EQ(log.find("initialisation complete"), std::string::npos) << log;
  EXPECT_EQ(log.find("  Temp Path:"), std::string::npos) << log;
  platform::closeSocket(taken);
}

}  // namespace
