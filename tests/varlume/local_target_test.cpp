#include "varlume/local_target.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "platform/sockets.h"
#include "varlume/settings.h"

namespace {

struct LocalCase {
  const char* name;
  bool onThisMachine;
  int port;
  bool mayReach;
  VLLocalRefusal expected;
};

void PrintTo(const LocalCase& c, std::ostream* os) { *os << c.name; }

class LocalTarget : public ::testing::TestWithParam<LocalCase> {
 protected:
  void SetUp() override {
    listeningPort = 8080;
    servicesPort = 45000;
    internalPort = 50000;
    internalRange = 10;
  }
};

TEST_P(LocalTarget, OwnPortsNeverAndOtherPortsOnlyWhenDeclaredHere) {
  const LocalCase& c = GetParam();
  EXPECT_EQ(localTargetRefusal(c.onThisMachine, c.port, c.mayReach), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LocalTarget,
    ::testing::Values(
        LocalCase{"ElsewhereAnyPort", false, 45000, false, VLLocalRefusal::None},
        LocalCase{"TheListener", true, 8080, true, VLLocalRefusal::OwnPort},
        LocalCase{"TheFileService", true, 45000, true, VLLocalRefusal::OwnPort},
        LocalCase{"ThePluginPort", true, 45005, true, VLLocalRefusal::OwnPort},
        LocalCase{"AfterTheServicePorts", true, 45006, true, VLLocalRefusal::None},
        LocalCase{"TheFirstNoticePort", true, 50000, true, VLLocalRefusal::OwnPort},
        LocalCase{"TheLastNoticePort", true, 50010, true, VLLocalRefusal::OwnPort},
        LocalCase{"AfterTheNoticeRange", true, 50011, true, VLLocalRefusal::None},
        LocalCase{"AnotherPortDeclaredHere", true, 8000, true, VLLocalRefusal::None},
        LocalCase{"AnotherPortUndeclared", true, 8000, false, VLLocalRefusal::Undeclared}),
    [](const ::testing::TestParamInfo<LocalCase>& info) { return std::string(info.param.name); });

TEST(LocalTargetNames, LoopbackNamesInterfaceAddressesAndTheHostNameAreThisMachine) {
  for (const char* name : {"localhost", "127.0.0.2", "0.0.0.0", "LOCALHOST:81"}) {
    EXPECT_TRUE(namesThisMachine(name)) << name;
  }
  for (const char* name : {"example.test", "192.0.2.250", "8.8.8.8"}) {
    EXPECT_FALSE(namesThisMachine(name)) << name;
  }
  std::string own;
  if (platform::localHostName(own) && !own.empty()) EXPECT_TRUE(namesThisMachine(own)) << own;
}

}  // namespace
