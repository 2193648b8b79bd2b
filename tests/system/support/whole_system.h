// The three programs as a user runs them, for the system tests: the service
// programs copied into the sandbox's program folder, the shipped data files
// in varlume's working folder (as in a start from the program folder), and
// varlume started on free loopback ports (optionally with an upstream proxy),
// which starts the file and event services. The destructor stops all three.
#pragma once
#include <string>

#include "support/proxy_process.h"
#include "support/sandbox.h"
#include "support/service_copies.h"

namespace servicetest {

class VLWholeSystem {
 public:
  static constexpr int kFileOffset = 0;
  static constexpr int kEventOffset = 3;

  explicit VLWholeSystem(sandbox::VLSandbox& box) : box_(box) {}

  // upstreamPort 0: varlume reaches sites itself. True once varlume and both
  // services accept connections.
  bool start(int upstreamPort = 0);
  int proxyPort() const { return proxy_.port(); }
  int servicesBase() const { return base_; }
  proxytest::VLProxyProcess& proxy() { return proxy_; }

 private:
  sandbox::VLSandbox& box_;
  VLServiceCopies services_;
  proxytest::VLProxyProcess proxy_;
  int base_ = 0;
};

}  // namespace servicetest
