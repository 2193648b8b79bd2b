// Every response head of the file service: the framework's, and for the
// privileged host two more lines, so that no page of another site can frame
// one of its pages (and have a click on it land where the user cannot see).
#include "foundation/privileged_host.h"
#include "foundation/strings.h"
#include "foundation/url_escape.h"
#include "varlumefile/file_server.h"

void VLFileHandler::responseHeader(int code, const std::string& reason, const std::string& contentType) {
  VLGenericHandler::responseHeader(code, reason, contentType);
  // Every Host that names the privileged host's folder (decoded once).
  if (toLower(urlDecode(getHost())) != kPrivilegedHost) return;
  responseHead += "X-Frame-Options: SAMEORIGIN\r\nContent-Security-Policy: frame-ancestors 'self'\r\n";
}
