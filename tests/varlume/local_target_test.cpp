#include "varlume/local_target.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <array>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "platform/sockets.h"
#include "varlume/settings.h"
#include "support/host_address_text.h"

namespace {

using testaddress::v4;
using testaddress::v6;

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
        LocalCase{"TheLastNoticePort", true, 50009, true, VLLocalRefusal::OwnPort},
        LocalCase{"OnePastTheNoticeRange", true, 50010, true, VLLocalRefusal::None},
        LocalCase{"AnotherPortDeclaredHere", true, 8000, true, VLLocalRefusal::None},
        LocalCase{"AnotherPortUndeclared", true, 8000, false, VLLocalRefusal::Undeclared}),
    [](const ::testing::TestParamInfo<LocalCase>& info) { return std::string(info.param.name); });

// A listener that found every port of the range taken listens one past it:
// that port is the proxy's own from then on.
TEST(LocalTargetNoticePorts, APortPastTheRangeIsOwnOnlyOnceAListenerTookIt) {
  listeningPort = 8080;
  servicesPort = 45000;
  internalPort = 60000;
  internalRange = 10;
  EXPECT_FALSE(isOwnPort(60010));
  noteNoticePort(60003);
  EXPECT_FALSE(isOwnPort(60010));
  noteNoticePort(60010);
  EXPECT_TRUE(isOwnPort(60010));
  EXPECT_EQ(localTargetRefusal(true, 60010, true), VLLocalRefusal::OwnPort);
  EXPECT_FALSE(isOwnPort(60011));
}

struct NameCase {
  const char* name;
  const char* host;                                // the target as the request names it
  std::vector<platform::HostAddress> resolved;     // what the name resolves to here
  bool expected;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.name; }

// This machine: host name "desk", one interface 192.0.2.7 and fd00::7.
class LocalTargetNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(LocalTargetNames, ANameIsThisMachineByItsTextOrByAnyAddressItResolvesToHere) {
  const NameCase& c = GetParam();
  VLNameFacts facts;
  facts.machineName = "desk";
  facts.interfaces = {v4("192.0.2.7"), v6("fd00::7")};
  facts.resolved = c.resolved;
  EXPECT_EQ(nameIsThisMachine(c.host, facts), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LocalTargetNames,
    ::testing::Values(
        NameCase{"Localhost", "localhost", {}, true},
        NameCase{"LocalhostWithPortInCapitals", "LOCALHOST:81", {}, true},
        NameCase{"ASubdomainOfLocalhost", "a.localhost", {}, true},
        NameCase{"LoopbackAddress", "127.0.0.2", {}, true},
        NameCase{"AnyAddress", "0.0.0.0", {}, true},
        NameCase{"AnInterfaceAddress", "192.0.2.7:8000", {}, true},
        NameCase{"TheHostNameAnyCaseFinalDot", "Desk.", {}, true},
        NameCase{"APublicNameThatResolvesToLoopback", "loop.evil.test", {v4("127.0.0.1")}, true},
        NameCase{"ANameOneOfWhoseAddressesIsLoopback", "mixed.test:81", {v4("198.51.100.1"), v4("127.0.0.1")}, true},
        NameCase{"ANameThatResolvesToAnInterface", "lan.test", {v4("192.0.2.7")}, true},
        NameCase{"ANameThatResolvesToIPv6Loopback", "six.test", {v6("::1")}, true},
        NameCase{"ANameThatResolvesToIPv6Any", "any6.test", {v6("::")}, true},
        NameCase{"ANameThatResolvesToMappedLoopback", "mapped.test", {v6("::ffff:127.0.0.1")}, true},
        NameCase{"ANameThatResolvesToAnIPv6Interface", "lan6.test", {v6("fd00::7")}, true},
        NameCase{"ANameElsewhere", "example.test", {v4("198.51.100.1"), v6("2001:db8::1")}, false},
        NameCase{"ANameThatResolvesToNothingHere", "unknown.test", {}, false},
        NameCase{"AnAddressElsewhere", "8.8.8.8", {}, false},
        NameCase{"AMappedAddressElsewhere", "mapped-elsewhere.test", {v6("::ffff:198.51.100.1")}, false},
        NameCase{"AnotherHostNameWithTheSameStart", "desktop", {}, false}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.name); });

// The road's own facts: the text tells for this machine's own names.
TEST(LocalTargetNamesHere, LoopbackNamesAndTheHostNameAreThisMachine) {
  for (const char* name : {"localhost", "127.0.0.2", "0.0.0.0", "LOCALHOST:81"}) {
    EXPECT_TRUE(namesThisMachine(name)) << name;
  }
  for (const char* name : {"192.0.2.250", "8.8.8.8"}) {
    EXPECT_FALSE(namesThisMachine(name)) << name;
  }
  std::string own;
  if (platform::localHostName(own) && !own.empty()) {
    EXPECT_TRUE(namesThisMachine(own)) << own;
  }
}

}  // namespace
