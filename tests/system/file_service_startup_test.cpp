// varlumefile's start: without a configuration it ends quietly, a bad option
// shows the usage text, "p N d DIR/" listens on N with homes under DIR/, and
// a port outside 1 to 65535 ends it with one line and status 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/loopback_client.h"
#include "support/proxy_process.h"
#include "support/sandbox.h"
#include "support/service_process.h"

namespace {

constexpr int kExitLimitMs = 10000;

std::string usageText(const std::string& documents) {
  return "\nvarlumeimage.exe: varlumefile 1.0.0, 2006-08-24\nusage: varlumeimage.exe\n"
         "-p port        - the port on which to listen, default 45000\n"
         "-d path        - the full path to local varlume storage, default " +
         documents +
         "\n-l             - increase the loglevel, default is 0\n"
         "-h             - display this usage help\n";
}

TEST(FileServiceStart, WithoutAConfigurationItEndsQuietly) {
  sandbox::VLSandbox box;
  const int port = proxytest::freeServicesBase({0});
  servicetest::VLServiceProcess service;
  ASSERT_TRUE(service.start(box, "varlumefile", port, 0, {}, false));
  int status = -1;
  ASSERT_TRUE(service.waitForExit(kExitLimitMs, &status));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(service.output(), "");
  EXPECT_FALSE(servicetest::isListening(port));
}

TEST(FileServiceStart, ABadOptionShowsTheUsageAndEndsWithOne) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"-p", "1"}, std::vector<std::string>{"-x"}, std::vector<std::string>{"-h"}}) {
    sandbox::VLSandbox box;
    const int port = proxytest::freeServicesBase({0});
    servicetest::VLServiceProcess service;
    ASSERT_TRUE(service.start(box, "varlumefile", port, 0, arguments));
    int status = -1;
    ASSERT_TRUE(service.waitForExit(kExitLimitMs, &status)) << arguments[0];
    EXPECT_EQ(status, 1) << arguments[0];
    EXPECT_EQ(service.output(), usageText(box.user(0).documents)) << arguments[0];
    EXPECT_FALSE(servicetest::isListening(port));
  }
}

TEST(FileServiceStart, PortAndDataRootOptionsWithoutDashes) {
  sandbox::VLSandbox box;
  const std::vector<int> ports = sandbox::freeLoopbackPorts(2);
  const std::string root = box.makeFolder("elsewhere");
  servicetest::VLServiceProcess service;
  ASSERT_TRUE(service.start(box, "varlumefile", ports[0], ports[1],
                            {"-l", "p", std::to_string(ports[1]), "d", root + "/"}))
      << service.output();
  EXPECT_FALSE(servicetest::isListening(ports[0]));
  testsupport::LoopbackClient client(ports[1]);
  ASSERT_TRUE(client.send("GET /MKDIR?Name=made HTTP/1.1\r\nHost: site.example\r\n\r\n"));
  testsupport::HttpResponse response;
  ASSERT_TRUE(client.readResponse(response));
  EXPECT_TRUE(sandbox::isFolder(root + "/site.example/made"));
  EXPECT_FALSE(sandbox::isFolder(box.user(0).documents + "/Varlume/site.example"));
}

}  // namespace

namespace {

TEST(FileServiceStart, APortOutsideOneTo65535IsReportedAndEndsWithOne) {
  const struct {
    const char* what;
    std::string configuration;
    std::vector<std::string> arguments;
    std::string origin;  // where the line says the port came from
  } cases[] = {
      {"no services key", "varlume=8080&proxyport=0&proxyhost=\r\n", {}, "names varlumeservices="},
      {"a base without digits", "varlumeservices=none&range=500", {}, "names varlumeservices=none,"},
      {"a base beyond the last port", "varlumeservices=65536&range=500", {}, "names varlumeservices=65536,"},
      {"the option p 0", "varlumeservices=45000&range=500", {"p", "0"}, "the option p 0,"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sandbox::VLSandbox box;
    const std::string config = box.user(0).localAppData + "/Varlume/varlume.config";
    ASSERT_TRUE(sandbox::writeFile(config, c.configuration));
    servicetest::VLServiceProcess service;
    ASSERT_TRUE(service.start(box, "varlumefile", 0, 0, c.arguments, false));
    int status = -1;
    ASSERT_TRUE(service.waitForExit(kExitLimitMs, &status)) << service.output();
    EXPECT_EQ(status, 1);
    const std::string output = service.output();
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
    EXPECT_NE(output.find(c.origin), std::string::npos) << output;
    EXPECT_NE(output.find("; a port must be 1 to 65535.\n"), std::string::npos) << output;
  }
}

}  // namespace
