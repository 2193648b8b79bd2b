// Addresses for the tests' tables, written as their usual texts.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>

#include "platform/local_addresses.h"
#include "platform/sockets.h"

namespace testaddress {

inline platform::HostAddress v4(const char* text) {
  std::uint32_t address = 0;
  EXPECT_TRUE(platform::numericIPv4(text, address)) << text;
  return platform::HostAddress::ipv4(address);
}

inline platform::HostAddress v6(const char* text) {
  in6_addr parsed{};
  EXPECT_EQ(::inet_pton(AF_INET6, text, &parsed), 1) << text;
  std::array<std::uint8_t, 16> bytes;
  std::memcpy(bytes.data(), &parsed, bytes.size());
  return platform::HostAddress::ipv6(bytes);
}

}  // namespace testaddress
