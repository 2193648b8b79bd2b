// The event service's start: quietly nothing without a configuration; with
// one, the data root on standard output, the privileged database with its
// five objects, and one listener on 127.0.0.1 at the services base + 3; the
// options p, -p and -l.
#include <gtest/gtest.h>

#include <string>

#include "support/event_service.h"
#include "support/proxy_process.h"

namespace {

using eventtest::HttpResponse;

constexpr char kUsage[] =
    "\nvarlumeimage.exe: varlumeevent 1.0.0, 2006-08-24\nusage: varlumeimage.exe\n-p port        - the port on "
    "which to listen, default 45003\n-l             - increase the loglevel, default is 0\n-h             - "
    "display this usage help\n";

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

TEST(EventStart, WithoutConfigurationEndsQuietly) {
  sandbox::VLSandbox box;
  servicetest::VLServiceProcess service;
  const int base = proxytest::freeServicesBase({3});
  ASSERT_TRUE(service.start(box, "varlumeevent", base, 0, {}, false));
  int status = -1;
  ASSERT_TRUE(service.waitForExit(10000, &status));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(service.output(), "");
  EXPECT_FALSE(servicetest::isListening(base + 3));
  EXPECT_FALSE(sandbox::isFolder(box.user(0).documents + "/Varlume"));
}

class EventStartup : public eventtest::VLEventService {};

TEST_F(EventStartup, ShowsTheDataRootAndMakesThePrivilegedDatabase) {
  EXPECT_EQ(firstLine(service.output()), dataRootAsShown());
  EXPECT_EQ(eventtest::schemaOf(privilegedDatabase()), eventtest::privilegedSchema());
  EXPECT_FALSE(servicetest::isListening(base));
  HttpResponse response = get("/GETVERSION");
  EXPECT_EQ(response.body,
            "<Varlume><ErrorCode> 0 </ErrorCode><ErrorReason>Success</ErrorReason><VarlumeEvent>varlumeevent 1.0.0, "
            "2006-08-24</VarlumeEvent></Varlume>");
}

TEST(EventStart, Options) {
  const struct {
    std::vector<std::string> arguments;
    bool ownPort;  // the option names the port
    bool usage;
  } cases[] = {
      {{"p", "<port>"}, true, false},
      {{"-l"}, false, false},
      {{"-p", "<port>"}, false, true},
      {{"-h"}, false, true},
      {{"x"}, false, true},
  };
  for (const auto& c : cases) {
    sandbox::VLSandbox box;
    servicetest::VLServiceProcess service;
    const std::vector<int> ports = sandbox::freeLoopbackPorts(1);
    const int base = proxytest::freeServicesBase({3});
    std::vector<std::string> arguments = c.arguments;
    for (std::string& argument : arguments) {
      if (argument == "<port>") argument = std::to_string(ports[0]);
    }
    const int expectedPort = c.ownPort ? ports[0] : base + 3;
    ASSERT_TRUE(service.start(box, "varlumeevent", base, c.usage ? 0 : expectedPort, arguments));
    if (c.usage) {
      int status = -1;
      ASSERT_TRUE(service.waitForExit(10000, &status));
      EXPECT_EQ(status, 1);
      const std::string usage = std::string(kUsage) + "\n";
      EXPECT_EQ(std::string(kUsage).size(), 228u);
      const std::string output = service.output();
      ASSERT_GE(output.size(), usage.size());
      EXPECT_EQ(output.substr(output.size() - usage.size()), usage);
      EXPECT_EQ(firstLine(output), sandbox::programsForm(box.user(0).documents) + "\\Varlume\\");
    } else {
      EXPECT_TRUE(servicetest::isListening(expectedPort));
      if (c.ownPort) {
        EXPECT_FALSE(servicetest::isListening(base + 3));
      }
    }
  }
}

TEST(EventStart, APortNoCallerCouldReachEndsWithStatusOne) {
  const struct {
    const char* services;
    std::vector<std::string> arguments;
  } cases[] = {
      {"2147483647", {}}, {"99999999999", {}}, {"65533", {}}, {"-3", {}}, {"-10", {}},
      // No base (a value without digits reads as 0): not port 3.
      {"0", {}}, {"none", {}},
      {"45000", {"p", "0"}}, {"45000", {"p", "abc"}}, {"45000", {"p", "65536"}}, {"45000", {"p", "4294967299"}},
  };
  for (const auto& c : cases) {
    const std::string value = c.services;
    sandbox::VLSandbox box;
    servicetest::VLServiceProcess service;
    ASSERT_TRUE(sandbox::writeFile(box.user(0).localAppData + "/Varlume/varlume.config",
                                   "varlume=8080&varlumeservices=" + value + "&range=500"));
    ASSERT_TRUE(service.start(box, "varlumeevent", 0, 0, c.arguments, false));
    int status = -1;
    ASSERT_TRUE(service.waitForExit(10000, &status)) << value;
    EXPECT_EQ(status, 1) << value;
  }
}

}  // namespace
