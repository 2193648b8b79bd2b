#include "platform/local_addresses.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>

#include <cstring>

namespace {

TEST(LocalAddresses, LoopbackAnyAndEveryInterfaceAddressAreThisMachine) {
  for (const char* text : {"127.0.0.1", "127.255.0.2", "0.0.0.0"}) {
    in_addr address;
    ASSERT_EQ(::inet_pton(AF_INET, text, &address), 1);
    EXPECT_TRUE(platform::isThisMachine(ntohl(address.s_addr))) << text;
  }
  ifaddrs* interfaces = nullptr;
  ASSERT_EQ(::getifaddrs(&interfaces), 0);
  for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    sockaddr_in own;
    std::memcpy(&own, entry->ifa_addr, sizeof own);
    EXPECT_TRUE(platform::isThisMachine(ntohl(own.sin_addr.s_addr))) << entry->ifa_name;
  }
  ::freeifaddrs(interfaces);
  in_addr documentation;
  ASSERT_EQ(::inet_pton(AF_INET, "198.51.100.77", &documentation), 1);
  EXPECT_FALSE(platform::isThisMachine(ntohl(documentation.s_addr)));
}

}  // namespace
