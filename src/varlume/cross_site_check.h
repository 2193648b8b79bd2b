// The cross-site check: whether a page of pageHost may reach targetHost with
// this request line (origin form). A pure decision over one record look-up,
// so it needs no connection. Service hosts and the page's own site always
// pass; any other site passes only by a current record that allows the path
// (as sent and as a server would read it). Any internal failure refuses.
#pragma once
#include <functional>
#include <string>

#include "varlume/cross_site_record.h"

// Copies the current record of (pageHost, site) into `out`; false if none.
using VLCrossSiteLookup =
    std::function<bool(VLCrossSiteRecord& out, const std::string& pageHost, const std::string& site)>;

// `mayReachThisMachine` (when given) tells whether a passed request may go
// to a server of this machine: the page's own site, or a record answered
// with 200 by such a server (local_target.h decides on the connection).
bool crossSiteAllowed(const std::string& pageHost, const std::string& targetHost,
                      const std::string& requestLine, const VLCrossSiteLookup& findRecord,
                      bool* mayReachThisMachine = nullptr);

// The checked path of a request line: from its first "/" to the first "?"
// (else to the last blank), trimmed. False when there is no such path.
bool crossSitePath(const std::string& requestLine, std::string& path);

// The path as a server reads it: %XX decoded once, "\" as "/", "//"
// collapsed, "." and ".." segments resolved (never above the root).
std::string normalisedPath(const std::string& path);

// A name of this machine: localhost (and its subdomains), 0.0.0.0 and
// 127.0.0.0/8 in every numeric form, IPv6 loopback; an optional ":port".
bool isLoopbackTarget(const std::string& host);
