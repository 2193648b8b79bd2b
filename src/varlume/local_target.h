// "This machine" as a web target, decided by the address a connection
// reaches (loopback, 0.0.0.0, any address of this machine's interfaces),
// never by the name a page wrote. The proxy's own ports (its listener, the
// service ports and the notification range) are never a web or cross-site
// target there; any other port of this machine is reached only by the
// page's own site or by a site that a server of this machine declared.
#pragma once
#include <string>

// Why a connection to a target may not carry a web request.
enum class VLLocalRefusal {
  None,        // it may
  OwnPort,     // a port of this proxy or of its services on this machine
  Undeclared,  // another site's page, without a declaration from this machine
};

// One of the ports the proxy and its services use (start-up settings).
bool isOwnPort(int port);

// The decision for a connection that reached `port`, on this machine or
// not; `mayReachThisMachine`: the request is the page's own site, or the
// site's declaration was answered with 200 by a server of this machine.
VLLocalRefusal localTargetRefusal(bool onThisMachine, int port, bool mayReachThisMachine);

// For a target reached through the upstream proxy, whose address this
// machine never sees: its name is a loopback name or address, an address
// of this machine's interfaces, or this machine's host name.
bool namesThisMachine(const std::string& host);
