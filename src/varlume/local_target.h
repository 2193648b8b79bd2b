// "This machine" as a web target. Where this proxy connects itself, the
// address the connection reaches decides (loopback, 0.0.0.0, any address
// of this machine's interfaces), never the name a page wrote; where the
// upstream proxy connects, the name decides by what it resolves to here.
// The proxy's own ports (its listener, the service ports and the
// notification range) are never a web or cross-site target on this
// machine; any other port of it is reached only by the page's own site or
// by a site that a server of this machine declared.
#pragma once
#include <string>
#include <vector>

#include "platform/local_addresses.h"

// Why a connection to a target may not carry a web request.
enum class VLLocalRefusal {
  None,        // it may
  OwnPort,     // a port of this proxy or of its services on this machine
  Undeclared,  // another site's page, without a declaration from this machine
};

// One of the ports the proxy and its services use: the listening port, the
// six service ports, the notification ports (base to base + range - 1) and
// a notification port that a listener took past them.
bool isOwnPort(int port);

// A notification listener of this proxy listens on `port`. Only the one
// past the range (taken when every port of the range was) needs telling.
void noteNoticePort(int port);

// The decision for a connection that reached `port`, on this machine or
// not; `mayReachThisMachine`: the request is the page's own site, or the
// site's declaration was answered with 200 by a server of this machine.
VLLocalRefusal localTargetRefusal(bool onThisMachine, int port, bool mayReachThisMachine);

// What this machine knows of a target's name.
struct VLNameFacts {
  std::string machineName;                         // this machine's host name; empty when unknown
  std::vector<platform::HostAddress> resolved;     // what the name resolves to here
  std::vector<platform::HostAddress> interfaces;   // this machine's interface addresses
};

// Whether a target named `host` (a name or address, maybe with ":port")
// is this machine: a loopback name or address, this machine's host name,
// an address of this machine, or a name any of whose addresses here is one.
bool nameIsThisMachine(const std::string& host, const VLNameFacts& facts);

// nameIsThisMachine with the facts of the present moment (the name is
// resolved here unless its text already tells): for a target reached
// through the upstream proxy, whose address this machine never sees.
bool namesThisMachine(const std::string& host);
