// The upstream-proxy checks: which settings pass, and the exact log entries of
// each failure, with the resolver's answers given by the test.
#include <gtest/gtest.h>

#include <string>

#include "platform/sockets.h"
#include "startup_scratch.h"
#include "varlume/proxy_check.h"
#include "varlume/settings.h"

namespace {

const std::string kUsage = "\nusage text\n";

struct ResolverAnswers {
  bool nameKnown = true;       // this machine's name can be read
  int machineError = 0;        // look-up of this machine's name
  int proxyError = 0;          // look-up of the proxy host
  std::string proxyOfficial = "other";
};

struct Case {
  const char* what;
  std::string host;
  int port;
  int listening;
  ResolverAnswers answers;
  bool passes;
  std::string log;
};

VLResolver resolverFor(const ResolverAnswers& answers, int& lookups) {
  VLResolver resolver;
  resolver.localHostName = [&answers, &lookups](std::string& name) {
    ++lookups;
    name = "machine";
    return answers.nameKnown;
  };
  resolver.officialHostName = [&answers, &lookups](const std::string& host, std::string& official) {
    ++lookups;
    if (host == "machine") {
      official = "machine.official";
      return answers.machineError;
    }
    official = answers.proxyOfficial;
    return answers.proxyError;
  };
  return resolver;
}

ResolverAnswers machineFails(int error) {
  ResolverAnswers answers;
  answers.machineError = error;
  return answers;
}

ResolverAnswers proxyFails(int error) {
  ResolverAnswers answers;
  answers.proxyError = error;
  return answers;
}

ResolverAnswers proxyIs(const std::string& official) {
  ResolverAnswers answers;
  answers.proxyOfficial = official;
  return answers;
}

TEST(ProxyCheck, SettingsAndTheirLogEntries) {
  ResolverAnswers noName;
  noName.nameKnown = false;
  const Case cases[] = {
      {"no upstream proxy", "", 0, 8080, {}, true, ""},
      {"empty host, negative port", "", -1, 8080, {}, true, ""},
      {"host without a port", "up", -1, 8080, {}, false,
       kUsage + "\nProxy specified but no port on proxy specified. Varlume aborting.\n"},
      {"port without a host", "", 3128, 8080, {}, false,
       kUsage + "\nProxy not specified but proxy port specified. Varlume aborting.\n"},
      {"host with port 0 passes", "up", 0, 8080, {}, true, ""},
      {"another port needs no look-up", "up", 3128, 8080, machineFails(platform::kErrOther), true,
       ""},
      {"same port, another machine", "up", 8080, 8080, proxyIs("other"), true, ""},
      {"same port, this machine", "up", 8080, 8080, proxyIs("machine.official"), false,
       "A proxy hosted on the same (v)machine as varlume cannot listen on the same port as "
       "varlume. Cannot continue.\n"},
      {"machine name unknown", "up", 8080, 8080, noName, false,
       "Failed to find the host name of this (v)machine. Varlume aborting.\n"},
      {"machine not found", "up", 8080, 8080, machineFails(platform::kErrHostNotFound), false,
       "This (v)machine is unknown as a host. Cannot continue. Varlume aborting.\n"},
      {"machine try again", "up", 8080, 8080, machineFails(platform::kErrTryAgain), false,
       "A temporary error occurred on an authoritative name server while trying to identify the "
       "name of this (v)machine. Cannot continue. Try again later. Varlume aborting.\n"},
      {"machine no recovery", "up", 8080, 8080, machineFails(platform::kErrNoRecovery), false,
       "A non-recoverable name server error occurred while trying to identify the name of this "
       "(v)machine. Cannot continue. Varlume aborting.\n"},
      {"machine no data", "up", 8080, 8080, machineFails(platform::kErrNoData), false,
       "The name of this (v)machine is valid but it does not have an IP address. Cannot "
       "continue. Varlume aborting.\n"},
      {"machine other error", "up", 8080, 8080, machineFails(platform::kErrOther), false, ""},
      {"proxy not found", "up", 8080, 8080, proxyFails(platform::kErrHostNotFound), false,
       "\n up is unknown as a host. Cannot continue.\nVarlume aborting.\n"},
      {"proxy no data", "up", 8080, 8080, proxyFails(platform::kErrNoData), false,
       "\n upis a valid proxy name but it does not have an IP address. Cannot continue.\n"
       "Varlume aborting.\n"},
      {"proxy no recovery", "up", 8080, 8080, proxyFails(platform::kErrNoRecovery), false,
       "\n A non-recoverable name server error occurred while trying to identify the host name of "
       "up. Cannot continue.\nVarlume aborting.\n"},
      {"proxy try again", "up", 8080, 8080, proxyFails(platform::kErrTryAgain), false,
       "\n A temporary error occurred on an authoritative name server while trying to identify "
       "the host name of up. Cannot continue. Try again later.\nVarlume aborting.\n"},
      {"proxy other error", "up", 8080, 8080, proxyFails(platform::kErrOther), false,
       "\n Varlume aborting.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VLStartupScratch scratch;
    proxyHost = c.host;
    proxyPort = c.port;
    listeningPort = c.listening;
    int lookups = 0;
    scratch.openLog();
    EXPECT_EQ(checkProxySettings(kUsage, resolverFor(c.answers, lookups)), c.passes);
    EXPECT_EQ(scratch.logText(), c.log);
    if (c.host.empty() || c.port != c.listening) {
      EXPECT_EQ(lookups, 0);
    }
  }
}

}  // namespace
