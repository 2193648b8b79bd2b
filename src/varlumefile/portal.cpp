// /GETPORTAL and /REDIRECT: a 302 to the week's portal page or to a named
// location, with a head of their own (no keep-alive lines) and a small page.
// The location never carries a control byte into the head, and its copy in
// the page cannot end the attribute that quotes it.
#include <string>

#include "foundation/privileged_host.h"
#include "foundation/strings.h"
#include "foundation/url_escape.h"
#include "platform/clock.h"
#include "serviceframework/http_date.h"
#include "varlumefile/file_server.h"

namespace {

constexpr std::int64_t kSecondsPerWeek = 604800;

std::string redirectBody(const std::string& location) {
  return "<HTML><HEAD><TITLE>Varlume Portal - Object moved</TITLE></HEAD><BODY><P>The object you "
         "requested was not found. Click <a href='" +
         escapeControlBytes(location, "'\"<>") + "'> here.</a></P></BODY></HTML>";
}

}  // namespace

void VLFileHandler::writeRedirectHeader(int code, const std::string& reason, const std::string& location) {
  responseHead = "HTTP/1.1 " + intToString(code) + " " + reason + "\r\n";
  responseHead += httpDateLine(platform::unixTime());
  responseHead += "Location: " + escapeControlBytes(location) + "\r\n";
  responseHead += "Server: Varlume Release 1.00.00 Linux.\r\n";
  responseHead += "Content-Type: text/html\r\n";
  responseHead += "Cache-control: private\r\n";
}

void VLFileHandler::getPortal() {
  const std::string host = getParameter("Host");
  const std::string query = getParameter("Query");
  const std::uint32_t week = static_cast<std::uint32_t>(platform::unixTime() / kSecondsPerWeek);
  std::string page = "varlumeportal" + unsignedToString(week) + ".html";
  if (!directory.fileExistsUndecoded(privilegedDataDirectory() + page)) page = "varlumeportal.html";
  const std::string location = std::string("http://") + kPrivilegedHost + "/varlume/file/" + page +
                               "?VLReplaceCount=2&VLReplaceKey1=VARLUMEREPLACEHOSTNAMESTRING&VLReplaceValue1=" +
                               host + "&VLReplaceKey2=VARLUMEREPLACEQUERYSTRING&VLReplaceValue2=" + query;
  writeRedirectHeader(302, "Object moved", location);
  sendResponse(redirectBody(location));
  reset();
}

void VLFileHandler::redirectTo(const std::string& path) {
  std::string url = urlDecode(trim(path, true));
  if (url.size() >= 8 && toUpper(url.substr(0, 7)) != "HTTP://") url = "http://" + url;
  writeRedirectHeader(302, "Object moved", url);
  sendResponse(redirectBody(url));
  reset();
}
