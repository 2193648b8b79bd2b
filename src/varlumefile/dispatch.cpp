// The command table: the path upper-cased, the method compared exactly, the
// gate decided (varlumefile/command_gate.h); anything else with GET, POST or
// HEAD serves a file.
#include <functional>
#include <string>

#include "foundation/privileged_host.h"
#include "foundation/strings.h"
#include "foundation/url_escape.h"
#include "varlumefile/command_gate.h"
#include "varlumefile/file_server.h"

namespace {

constexpr VLCommandKind kReads{};
constexpr VLCommandKind kChanges{false, true};
constexpr VLCommandKind kPrivilegedRead{true, false};
constexpr VLCommandKind kSettings{true, true};

struct Command {
  const char* path;
  bool head;  // HEAD is taken besides GET and POST
  VLCommandKind kind;
  std::function<void(VLFileHandler&)> run;
};

}  // namespace

VLCommandCaller VLFileHandler::caller() const {
  VLCommandCaller facts;
  facts.privilegedHost = getHost() == kPrivilegedHost;
  // The folder a command acts on is named by the Host decoded once.
  facts.privilegedFolder = toLower(urlDecode(getHost())) == kPrivilegedHost;
  facts.pageScript = sentByPageScript();
  facts.otherSitePage = proxyRequestFromOtherSite();
  return facts;
}

void VLFileHandler::serviceRequest() {
  static const Command kCommands[] = {
      {"/MKDIR", false, kChanges, [](VLFileHandler& h) { h.makeDirectory(h.getParameter("Name")); }},
      {"/ISDIR", false, kReads, [](VLFileHandler& h) { h.isDirectory(h.getParameter("Name")); }},
      {"/ISFILE", false, kReads, [](VLFileHandler& h) { h.isFile(h.getParameter("Name")); }},
      {"/SCANDIR", false, kReads,
       [](VLFileHandler& h) { h.scanDirectory(h.getParameter("Name"), h.getParameter("Filter")); }},
      {"/SCANCACHEDIR", false, kPrivilegedRead,
       [](VLFileHandler& h) { h.scanCacheDirectory(h.getParameter("Name"), h.getParameter("Filter")); }},
      {"/REMOVECACHEDIRECTORY", false, kChanges,
       [](VLFileHandler& h) { h.removeCacheDirectory(h.getParameter("Name")); }},
      {"/REMOVECACHEFILE", false, kChanges,
       [](VLFileHandler& h) { h.removeCacheFile(h.getParameter("Name")); }},
      {"/REMOVEDIRECTORY", false, kChanges,
       [](VLFileHandler& h) { h.removeDirectory(h.getParameter("Name")); }},
      {"/REMOVEFILE", false, kChanges, [](VLFileHandler& h) { h.removeFile(h.getParameter("Name")); }},
      {"/RENAME", false, kChanges,
       [](VLFileHandler& h) { h.renameFile(h.getParameter("Name"), h.getParameter("NewName")); }},
      {"/SAVEFILE", false, kChanges,
       [](VLFileHandler& h) { h.saveFiles(h.getParameter("Path"), h.getParameter("Encoding")); }},
      {"/GET", true, kReads,
       [](VLFileHandler& h) { h.serveFile(h.getParameter("Path"), h.getParameter("Encoding")); }},
      {"/STRINGFILE", false, kChanges,
       [](VLFileHandler& h) {
         h.saveStringFile(h.getParameter("Path"), h.getParameter("Name"), h.getParameterValue("Data"),
                          h.getParameter("Encoding"));
       }},
      // The proxy asks for the portal with HEAD when the browser's own request
      // was a HEAD: it gets the redirect's head, never a file's.
      {"/GETPORTAL", true, kReads, [](VLFileHandler& h) { h.getPortal(); }},
      {"/REDIRECT", false, kReads, [](VLFileHandler& h) { h.redirectTo(h.getParameter("Path")); }},
      {"/GETVERSION", false, kReads, [](VLFileHandler& h) { h.replyVersion(); }},
      {"/SETPROXY", false, kSettings,
       [](VLFileHandler& h) { h.setProxy(h.getParameter("Host"), h.getParameter("Port")); }},
  };

  const std::string command = toUpper(getPath());
  const std::string verb = getMethod();
  const bool plainMethod = verb == "GET" || verb == "POST";
  const VLCommandCaller facts = caller();
  for (const Command& row : kCommands) {
    if (command != row.path) continue;
    if (!plainMethod && !(row.head && verb == "HEAD")) continue;
    // A row whose gate refuses is passed over: the request is served as a file.
    if (decideCommand(row.kind, facts) != VLCommandDecision::Run) continue;
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
