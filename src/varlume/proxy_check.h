// The upstream-proxy checks of start-up: a host needs a port, a port needs a
// host, and a proxy on this very machine must not use the listening port.
// Name look-ups go through a resolver, so tests can give its answers.
#pragma once
#include <functional>
#include <string>

struct VLResolver {
  // This machine's name; false on failure.
  std::function<bool(std::string& name)> localHostName;
  // 0 and the official name of `host`, or a resolver error (platform/sockets.h).
  std::function<int(const std::string& host, std::string& officialName)> officialHostName;
};

// The platform's resolver.
VLResolver systemResolver();

// Checks proxyHost, proxyPort and listeningPort. False after it wrote its
// lines to the start-up log (the usage text first for the two port checks).
bool checkProxySettings(const std::string& usage, const VLResolver& resolver);
