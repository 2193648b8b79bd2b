#include "varlume/privileged_check.h"

#include "foundation/privileged_host.h"
#include "foundation/script_command.h"
#include "foundation/strings.h"
#include "foundation/url_escape.h"
#include "varlume/cross_site_check.h"
#include "varlume/request_target.h"

namespace {

const char* const kChangingFileCommands[] = {
    "/MKDIR",     "/REMOVECACHEDIRECTORY", "/REMOVECACHEFILE", "/REMOVEDIRECTORY", "/REMOVEFILE",
    "/RENAME",    "/SAVEFILE",             "/STRINGFILE",      "/SETPROXY",        "/SCANCACHEDIR",
};

bool beginsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool changes(const std::string& service, const std::string& upperPath) {
  // The event service's look-up and its version change nothing.
  if (service == "EVENT") return !beginsWith(upperPath, "/GETEVENT") && !beginsWith(upperPath, "/GETVERSION");
  if (service != "FILE") return false;
  for (const char* command : kChangingFileCommands) {
    if (beginsWith(upperPath, command)) return true;
  }
  return false;
}

}  // namespace

bool isChangingCommand(const std::string& service, const std::string& path) {
  const std::string keyword = toUpper(trim(service, true));
  return changes(keyword, toUpper(path)) || changes(keyword, toUpper(normalisedPath(path)));
}

bool serviceCommandPermitted(const std::string& service, const std::string& requestLine,
                             const std::vector<std::string>& lines, const std::string& pageHost) {
  if (!isChangingCommand(service, requestPath(requestLine))) return true;
  if (!namesItsOwnPage(lines, pageHost)) return false;
  // A click on a link of a privileged page is that page's own navigation:
  // only the line a script sends tells the page's script from it.
  return !namesPrivilegedHost(pageHost) || carriesScriptLine(lines);
}

bool carriesScriptLine(const std::vector<std::string>& lines) {
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (isScriptCommandLine(lines[i])) return true;
  }
  return false;
}

bool namesItsOwnPage(const std::vector<std::string>& lines, const std::string& pageHost) {
  std::vector<std::string> values;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string upper = toUpper(lines[i]);
    if (beginsWith(upper, "REFERER:")) values.push_back(lines[i].substr(8));
    if (beginsWith(upper, "ORIGIN:")) values.push_back(lines[i].substr(7));
  }
  return namesOwnPageHost(values, pageHost);
}

bool namesPrivilegedHost(const std::string& host) {
  std::string name = toLower(trim(urlDecode(host), true));
  name = name.substr(0, name.find_first_of(":/\\?"));
  while (!name.empty() && name.back() == '.') name.pop_back();
  return name == kPrivilegedHost;
}

bool requestPermitted(bool service, bool mirror, const std::string& hostValue,
                      const std::string& requestLine, const std::vector<std::string>& lines,
                      const std::string& pageHost) {
  if (service) return serviceCommandPermitted(hostValue, requestLine, lines, pageHost);
  if (namesPrivilegedHost(pageHost) || namesPrivilegedHost(hostValue)) return false;
  return !mirror || namesItsOwnPage(lines, pageHost);
}
