// What a host name stands for on this machine: the addresses the system's
// resolver (hosts file, DNS and the rest of its order) gives for it.
#pragma once
#include <string>
#include <vector>

#include "platform/local_addresses.h"

namespace platform {

// Every IPv4 and IPv6 address `host` resolves to here, in the resolver's
// order, each once; empty for a name that resolves to none or a failed look-up.
std::vector<HostAddress> resolveHost(const std::string& host);

}  // namespace platform
