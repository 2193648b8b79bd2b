// Serving a file of the site's home: as it is, Base64-encoded, or with marked
// words replaced by request values (only those a request may change, each
// escaped for where it stands); the content type from its extension.
#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "foundation/decimal.h"
#include "foundation/own_page.h"
#include "foundation/privileged_host.h"
#include "foundation/strings.h"
#include "platform/files.h"
#include "varlumefile/content_types.h"
#include "varlumefile/file_server.h"

namespace {

constexpr char kErrorPage[] =
    "<HTML><HEAD><TITLE>VARLUME</TITLE></HEAD><BODY><H1>Varlume File Server<H1><P>An error occurred "
    "while accessing the requested file.</P></BODY></HTML>\r\n";
constexpr std::size_t kPieceBytes = 65536;
// Text replacement works in memory: the file read and the result are bounded.
constexpr std::size_t kMaxReplacedBytes = 64u * 1024u * 1024u;
// Each key that occurs is replaced through the whole text: many such keys
// over a large text are refused once this much text would be worked through.
constexpr std::uint64_t kMaxSearchedBytes = 128ull * 1024u * 1024u;
// Looking for a key costs a pass over the text too, found or not: many keys
// over a large text are refused once this much text would be looked through.
constexpr std::uint64_t kMaxLookedBytes = 1024ull * 1024u * 1024u;
// The portal page's marked words: the failed site and the failed request.
constexpr char kPortalHostWord[] = "VARLUMEREPLACEHOSTNAMESTRING";
constexpr char kPortalQueryWord[] = "VARLUMEREPLACEQUERYSTRING";

// The indices i (1..count) for which "<prefix>i=" occurs in `parameters`:
// only those can name a key, so a huge count costs nothing.
std::set<long> presentIndices(const std::string& parameters, const std::string& prefix, long count) {
  std::set<long> found;
  for (std::size_t at = parameters.find(prefix); at != std::string::npos;
       at = parameters.find(prefix, at + 1)) {
    std::size_t digits = at + prefix.size();
    std::size_t end = digits;
    while (end < parameters.size() && parameters[end] >= '0' && parameters[end] <= '9') ++end;
    if (end == digits || end >= parameters.size() || parameters[end] != '=') continue;
    const std::string number = parameters.substr(digits, end - digits);
    if (number.size() > 10 || number[0] == '0') continue;
    const long index = std::stol(number);
    if (index >= 1 && index <= count) found.insert(index);
  }
  return found;
}

}  // namespace

void VLFileHandler::sendErrorPage() {
  responseHeader(500, "Internal Server Error", "text/html");
  sendResponse(kErrorPage);
}

std::int64_t VLFileHandler::sendFileStream(platform::File& file) {
  if (!file.isOpen()) {
    sendErrorPage();
    return 0;
  }
  const std::int64_t size = file.size();
  if (size < 0 || !file.seek(0)) {
    sendErrorPage();
    return 0;
  }
  responseHead += "Content-Length: " + std::to_string(size) + "\r\n\r\n";
  if (!sendAll(responseHead)) return 0;
  if (getMethod() != "GET" && getMethod() != "POST") return 0;
  std::string piece(kPieceBytes, '\0');
  std::int64_t sent = 0;
  while (sent < size) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(size - sent, kPieceBytes));
    const long got = file.read(piece.data(), want);
    if (got <= 0) {
      // The file shrank or cannot be read: the announced length cannot be
      // met, so the connection ends here rather than carry stale bytes.
      dropConnection();
      return sent;
    }
    if (!sendAll(piece.data(), static_cast<std::size_t>(got))) return sent;
    sent += got;
  }
  return sent;
}

std::vector<VLReplacement> VLFileHandler::permittedReplacements() const {
  std::vector<VLReplacement> pairs;
  const bool privileged = getHost() == kPrivilegedHost;
  if (!privileged) {
    std::vector<std::string> pages = getReferers();
    pages.insert(pages.end(), getOrigins().begin(), getOrigins().end());
    if (!namesOwnPageHost(pages, getHost())) return pairs;
  }
  const long count = readDecimal(getParameter("VLReplaceCount"));
  for (long i : presentIndices(parameters, "VLReplaceKey", count)) {
    VLReplacement pair{getParameter("VLReplaceKey" + std::to_string(i)),
                       getParameter("VLReplaceValue" + std::to_string(i))};
    if (pair.key.empty()) continue;
    if (privileged && pair.key != kPortalHostWord && pair.key != kPortalQueryWord) continue;
    pairs.push_back(std::move(pair));
  }
  return pairs;
}

bool VLFileHandler::sendReplaced(platform::File& file, const std::string& contentType,
                                 const std::vector<VLReplacement>& pairs) {
  const std::int64_t size = file.size();
  if (size < 0 || static_cast<std::uint64_t>(size) > kMaxReplacedBytes || !file.seek(0)) return false;
  std::string text(static_cast<std::size_t>(size), '\0');
  std::size_t done = 0;
  while (done < text.size()) {
    const long got = file.read(text.data() + done, text.size() - done);
    if (got < 0) return false;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  text.resize(done);  // the whole file, NUL bytes included

  // The privileged host's portal may hold its words in script strings too.
  const VLFillForm form = contentType != "text/html"       ? VLFillForm::PlainText
                          : getHost() == kPrivilegedHost ? VLFillForm::PageWithScriptStrings
                                                         : VLFillForm::Page;
  if (!fillText(text, pairs, form, VLFillBounds{kMaxReplacedBytes, kMaxSearchedBytes, kMaxLookedBytes})) return false;
  sendResponse(text);
  return true;
}

void VLFileHandler::serveFile(const std::string& path, const std::string& encoding) {
  std::string home;
  ResolvedName resolved;
  if (!homeRoot(home) || !nameUnderRoot(home, path, VLNameRule::Clean, resolved)) return;
  const std::string& full = resolved.path;
  if (!directory.fileExistsUndecoded(full)) {
    replyError(kNotFound, resolved.shown + " not found or is a directory.");
    return;
  }
  if (toUpper(encoding) == "BASE64") {
    const std::string encoded = encodeBase64File(full);
    platform::File file;
    if (!encoded.empty()) file.open(encoded, platform::File::Read);
    responseHeader(200, "Success", "text/plain");
    sendFileStream(file);
    file.close();
    if (!encoded.empty()) platform::removeFile(encoded);
    return;
  }
  const std::string contentType = contentTypeFor(full);
  platform::File file;
  file.open(full, platform::File::Read);
  responseHeader(200, "Success", contentType);
  const long count = readDecimal(getParameter("VLReplaceCount"));
  if (count > 0 && file.isOpen() && (contentType == "text/html" || contentType == "text/plain")) {
    const std::vector<VLReplacement> pairs = permittedReplacements();
    if (!pairs.empty()) {
      if (!sendReplaced(file, contentType, pairs)) sendErrorPage();
      return;
    }
  }
  sendFileStream(file);
}
