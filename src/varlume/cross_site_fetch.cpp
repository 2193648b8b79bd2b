#include "varlume/cross_site_fetch.h"

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>

#include "foundation/strings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/sockets.h"
#include "varlume/client_connection.h"
#include "varlume/cross_site_record.h"
#include "varlume/part_files.h"
#include "varlume/server.h"
#include "varlume/settings.h"

namespace {

constexpr std::int64_t kRecordSeconds = 86400;
constexpr int kMaxSiteName = 255;
// How often a fetch looks at its answer.
constexpr int kFetchStepMs = 2;

bool isHostByte(char byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
         byte == '-' || byte == '.' || byte == '_';
}

}  // namespace

std::vector<std::string> crossSiteList(const std::string& requestLine) {
  std::vector<std::string> sites;
  const std::size_t question = requestLine.find('?');
  if (question == std::string::npos || question + 1 >= requestLine.size()) return sites;
  std::string list = requestLine.substr(question + 1);
  const std::size_t blank = list.rfind(' ');
  if (blank != std::string::npos) list = trim(list.substr(0, blank), true);
  std::size_t start = 0;
  for (;;) {
    const std::size_t amp = list.find('&', start);
    if (amp == std::string::npos) {
      if (start < list.size()) sites.push_back(list.substr(start));
      break;
    }
    sites.push_back(list.substr(start, amp - start));
    start = amp + 1;
  }
  return sites;
}

bool crossSiteAddress(const std::string& site, std::string& host, int& port) {
  if (site.empty() || site.size() > kMaxSiteName) return false;
  const std::size_t colon = site.find(':');
  host = site.substr(0, colon);
  port = 80;
  if (host.empty() || !std::all_of(host.begin(), host.end(), isHostByte)) return false;
  if (colon == std::string::npos) return true;
  const std::string digits = site.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  port = std::atoi(digits.c_str());
  return port >= 1 && port <= 65535;
}

std::string crossSiteFetchText(const std::string& site, bool upstream) {
  return std::string("GET ") + (upstream ? "http://" + site : std::string()) +
         "/varlume.txt HTTP/1.0\r\nHost: " + site + "\r\nAccept: text/plain\r\nConnection: close\r\n\r\n";
}

std::string declarationBody(const std::vector<std::string>& parts, bool& ok) {
  ok = false;
  std::string body;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (k > 0) {
      body += parts[k];
      continue;
    }
    const std::string head = parts[0].substr(0, parts[0].find('\0'));
    ok = head.size() >= 12 && head.compare(9, 3, "200") == 0;
    const std::size_t end = head.find("\r\n\r\n");
    if (end != std::string::npos) body += parts[0].substr(end + 4);
  }
  return body;
}

void VLClientConnection::fetchDeclaration(const std::string& site, const std::string& host, int port,
                                          std::int64_t deadline) {
  VLCrossSiteRecord record;
  record.setPageHost(pageHost);
  record.setDomain(site);
  int slot = -1;
  VLClient* client = clientFor(host, port, slot);
  if (client == nullptr) return;  // no free client: no record, the site stays refused
  // A server of this machine may declare itself; the proxy's own ports
  // are never fetched from.
  client->setMayReachThisMachine(true);
  if (client->connectForRequest() == 0) {
    record.setExpiry(kRecordSeconds);
    owner_->storeCrossSite(record);
    return;
  }
  const bool fetchedHere = client->targetOnThisMachine();
  const int id = owner_->nextSequence();
  client->queueRequest(id, "GET");
  startRelay(*client);
  const std::string text = crossSiteFetchText(site, !proxyHost.empty());
  client->sendRequest(text.data(), static_cast<int>(text.size()));

  // Wait for the whole answer, within the time and size bounds.
  bool complete = false;
  while (platform::monotonicMilliseconds() < deadline) {
    if (!client->relayRunning() || !holdsRecord(*client, id)) {
      complete = true;
      break;
    }
    std::uint64_t bytes = 0;
    platform::FileStatus status;
    for (int k = 0; platform::statPath(partFilePath(tempPath, id, k), status); ++k) bytes += status.size;
    if (bytes > kCrossSiteMaxBody + VLClient::kSocketBufferBytes) break;
    waitTakingNotices(kFetchStepMs);
  }
  if (!complete) {
    client->closeSockets();
    for (int i = 0; i < 200 && client->relayRunning(); ++i) waitTakingNotices(10);
  }
  std::vector<std::string> parts;
  takeParts(id, kCrossSiteMaxBody + VLClient::kSocketBufferBytes, &parts);
  bool ok = false;
  std::string body = declarationBody(parts, ok);
  if (body.size() > kCrossSiteMaxBody) body.resize(kCrossSiteMaxBody);
  std::istringstream stream(body);
  record.parseDeclarations(stream);
  // Only a server of this machine that answered with 200 opens this
  // machine to other sites' pages; what a server elsewhere declared never
  // does, also when the name leads here later.
  record.setFromAnswer(ok && fetchedHere);
  record.setExpiry(kRecordSeconds);
  owner_->storeCrossSite(record);
  client->closeSockets();
}

void VLClientConnection::fetchCrossSiteDeclarations(const std::string& line) {
  if (owner_ == nullptr) return;
  const std::int64_t deadline = platform::monotonicMilliseconds() + kCrossSiteRequestMs;
  std::set<std::string> seen;
  int fetched = 0;
  for (const std::string& site : crossSiteList(line)) {
    takePendingNotices();
    const std::int64_t now = platform::monotonicMilliseconds();
    if (fetched >= kCrossSiteMaxSites || now >= deadline) break;
    std::string host;
    int port = 80;
    if (!crossSiteAddress(site, host, port)) continue;
    if (!seen.insert(toLower(site)).second) continue;  // named twice: fetched once
    VLCrossSiteRecord current;
    if (owner_->findCrossSite(current, pageHost, site)) continue;
    ++fetched;
    fetchDeclaration(site, host, port, std::min(deadline, now + kCrossSiteSiteMs));
  }
  takePendingNotices();
}
