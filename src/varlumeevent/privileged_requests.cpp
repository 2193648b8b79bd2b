#include "varlumeevent/privileged_requests.h"

#include "foundation/privileged_host.h"
#include "foundation/strings.h"
#include "foundation/url_escape.h"

bool privilegedRequestRefused(const std::string& host, const std::string& command, bool pageScript) {
  // The database a request opens is named by its Host decoded once.
  return toLower(urlDecode(host)) == kPrivilegedHost && command != "/GETEVENT" && !pageScript;
}
