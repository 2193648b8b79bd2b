#include "platform/local_addresses.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>

#include <algorithm>
#include <cstring>

#include "platform/name_lookup.h"
#include "support/host_address_text.h"

namespace {

using testaddress::v6;

TEST(LocalAddresses, LoopbackAnyAndEveryInterfaceAddressAreThisMachine) {
  for (const char* text : {"127.0.0.1", "127.255.0.2", "0.0.0.0"}) {
    in_addr address;
    ASSERT_EQ(::inet_pton(AF_INET, text, &address), 1);
    EXPECT_TRUE(platform::isThisMachine(ntohl(address.s_addr))) << text;
  }
  for (const char* text : {"::1", "::", "::ffff:127.0.0.1"}) EXPECT_TRUE(platform::isThisMachine(v6(text))) << text;
  ifaddrs* interfaces = nullptr;
  ASSERT_EQ(::getifaddrs(&interfaces), 0);
  const std::vector<platform::HostAddress> listed = platform::interfaceAddresses();
  for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr) continue;
    platform::HostAddress own;
    if (entry->ifa_addr->sa_family == AF_INET) {
      sockaddr_in address;
      std::memcpy(&address, entry->ifa_addr, sizeof address);
      own = platform::HostAddress::ipv4(ntohl(address.sin_addr.s_addr));
      EXPECT_TRUE(platform::isThisMachine(own.v4)) << entry->ifa_name;
    } else if (entry->ifa_addr->sa_family == AF_INET6) {
      sockaddr_in6 address;
      std::memcpy(&address, entry->ifa_addr, sizeof address);
      std::memcpy(own.v6Bytes.data(), &address.sin6_addr, own.v6Bytes.size());
      own.v6 = true;
    } else {
      continue;
    }
    EXPECT_TRUE(platform::isThisMachine(own)) << entry->ifa_name;
    EXPECT_NE(std::find(listed.begin(), listed.end(), own), listed.end()) << entry->ifa_name;
  }
  ::freeifaddrs(interfaces);
  in_addr documentation;
  ASSERT_EQ(::inet_pton(AF_INET, "198.51.100.77", &documentation), 1);
  EXPECT_FALSE(platform::isThisMachine(ntohl(documentation.s_addr)));
  for (const char* text : {"2001:db8::77", "::ffff:198.51.100.77", "::2"}) {
    EXPECT_FALSE(platform::isThisMachine(v6(text))) << text;
  }
  // Asked again, with no change of the interfaces between: the same answers.
  EXPECT_EQ(platform::interfaceAddresses(), listed);
}

TEST(LocalAddresses, ANameResolvesToItsAddressesHere) {
  const std::vector<platform::HostAddress> local = platform::resolveHost("localhost");
  ASSERT_FALSE(local.empty());
  for (const platform::HostAddress& address : local) EXPECT_TRUE(platform::isThisMachine(address));
  EXPECT_EQ(platform::resolveHost("198.51.100.77"),
            std::vector<platform::HostAddress>{platform::HostAddress::ipv4(0xC6336400u + 77)});
  EXPECT_EQ(platform::resolveHost("2001:db8::77"), std::vector<platform::HostAddress>{v6("2001:db8::77")});
  EXPECT_TRUE(platform::resolveHost("").empty());
  EXPECT_TRUE(platform::resolveHost(std::string("localhost\0.evil.test", 20)).empty());
}

}  // namespace
