// Which IPv4 addresses are this machine: the loopback network 127.0.0.0/8,
// the network 0.0.0.0/8 (a connection to 0.0.0.0 reaches this machine),
// and every address of this machine's network interfaces.
#pragma once
#include <cstdint>
#include <string>

namespace platform {

// `address` in host byte order.
bool isThisMachine(std::uint32_t address);

}  // namespace platform
