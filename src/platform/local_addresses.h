// Which addresses are this machine: the loopback networks (127.0.0.0/8,
// ::1), the "any" addresses (0.0.0.0/8, ::; a connection to them reaches
// this machine), IPv4 written as IPv6 (::ffff:a.b.c.d) by the IPv4 rule, and
// every address of this machine's network interfaces. The interface list is
// read once and read again only after the system announced a change of it.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// An IPv4 or an IPv6 address.
struct HostAddress {
  bool v6 = false;
  std::uint32_t v4 = 0;                 // host byte order, when !v6
  std::array<std::uint8_t, 16> v6Bytes{};  // network byte order, when v6
  bool operator==(const HostAddress& other) const = default;

  static HostAddress ipv4(std::uint32_t address);
  static HostAddress ipv6(const std::array<std::uint8_t, 16>& bytes);
};

// Pure: whether `address` is this machine when `interfaces` are the
// addresses of its network interfaces.
bool addressIsThisMachine(const HostAddress& address, const std::vector<HostAddress>& interfaces);

// The addresses of this machine's network interfaces (IPv4 and IPv6), as
// the system lists them now (the list kept since its last change).
std::vector<HostAddress> interfaceAddresses();

// `address` (IPv4 in host byte order, or either form) against this
// machine's present interfaces.
bool isThisMachine(std::uint32_t address);
bool isThisMachine(const HostAddress& address);

}  // namespace platform
