// The command table: the path upper-cased, the method compared exactly, the
// privileged gate; anything else with GET, POST or HEAD serves a file.
#include <functional>
#include <string>

#include "foundation/privileged_host.h"
#include "foundation/strings.h"
#include "varlumefile/file_server.h"

namespace {

enum class Gate { None, Privileged, PrivilegedSettings };

struct Command {
  const char* path;
  bool head;  // HEAD is taken besides GET and POST
  Gate gate;
  std::function<void(VLFileHandler&)> run;
};

}  // namespace

void VLFileHandler::serviceRequest() {
  static const Command kCommands[] = {
      {"/MKDIR", false, Gate::None, [](VLFileHandler& h) { h.makeDirectory(h.getParameter("Name")); }},
      {"/ISDIR", false, Gate::None, [](VLFileHandler& h) { h.isDirectory(h.getParameter("Name")); }},
      {"/ISFILE", false, Gate::None, [](VLFileHandler& h) { h.isFile(h.getParameter("Name")); }},
      {"/SCANDIR", false, Gate::None,
       [](VLFileHandler& h) { h.scanDirectory(h.getParameter("Name"), h.getParameter("Filter")); }},
      {"/SCANCACHEDIR", false, Gate::Privileged,
       [](VLFileHandler& h) { h.scanCacheDirectory(h.getParameter("Name"), h.getParameter("Filter")); }},
      {"/REMOVECACHEDIRECTORY", false, Gate::None,
       [](VLFileHandler& h) { h.removeCacheDirectory(h.getParameter("Name")); }},
      {"/REMOVECACHEFILE", false, Gate::None,
       [](VLFileHandler& h) { h.removeCacheFile(h.getParameter("Name")); }},
      {"/REMOVEDIRECTORY", false, Gate::None,
       [](VLFileHandler& h) { h.removeDirectory(h.getParameter("Name")); }},
      {"/REMOVEFILE", false, Gate::None, [](VLFileHandler& h) { h.removeFile(h.getParameter("Name")); }},
      {"/RENAME", false, Gate::None,
       [](VLFileHandler& h) { h.renameFile(h.getParameter("Name"), h.getParameter("NewName")); }},
      {"/SAVEFILE", false, Gate::None,
       [](VLFileHandler& h) { h.saveFiles(h.getParameter("Path"), h.getParameter("Encoding")); }},
      {"/GET", true, Gate::None,
       [](VLFileHandler& h) { h.serveFile(h.getParameter("Path"), h.getParameter("Encoding")); }},
      {"/STRINGFILE", false, Gate::None,
       [](VLFileHandler& h) {
         h.saveStringFile(h.getParameter("Path"), h.getParameter("Name"), h.getParameterValue("Data"),
                          h.getParameter("Encoding"));
       }},
      // The proxy asks for the portal with HEAD when the browser's own request
      // was a HEAD: it gets the redirect's head, never a file's.
      {"/GETPORTAL", true, Gate::None, [](VLFileHandler& h) { h.getPortal(); }},
      {"/REDIRECT", false, Gate::None, [](VLFileHandler& h) { h.redirectTo(h.getParameter("Path")); }},
      {"/GETVERSION", false, Gate::None, [](VLFileHandler& h) { h.replyVersion(); }},
      {"/SETPROXY", false, Gate::PrivilegedSettings,
       [](VLFileHandler& h) { h.setProxy(h.getParameter("Host"), h.getParameter("Port")); }},
  };

  const std::string command = toUpper(getPath());
  const std::string verb = getMethod();
  const bool plainMethod = verb == "GET" || verb == "POST";
  for (const Command& row : kCommands) {
    if (command != row.path) continue;
    if (!plainMethod && !(row.head && verb == "HEAD")) continue;
    if (row.gate != Gate::None && getHost() != kPrivilegedHost) continue;
    if (row.gate == Gate::PrivilegedSettings && proxyRequestFromOtherSite()) continue;
    row.run(*this);
    reset();
    return;
  }
  if (plainMethod || verb == "HEAD") {
    serveFile(getPath(), getParameter("Encoding"));
  } else {
    replyError(kUnrecognised, "Unrecognised request.");
  }
  reset();
}
