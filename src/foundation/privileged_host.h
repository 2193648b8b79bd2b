// The privileged host: the one web host whose requests may use the services'
// privileged commands, and whose folder under the data root holds the portal
// page and the cross-site permission database. Lower-case (the services
// lower-case the Host), under the domain reserved for private use, and not a
// loopback name (browsers bypass their proxy for those).
#pragma once

inline constexpr char kPrivilegedHost[] = "varlume.internal";
