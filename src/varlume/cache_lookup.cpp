#include "varlume/cache_lookup.h"

#include "foundation/strings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "varlume/cache_paths.h"
#include "varlume/cache_policy.h"
#include "varlume/client_connection.h"
#include "varlume/request_target.h"
#include "varlume/server.h"

VLCacheDecision checkCache(VLClientConnection& connection, const std::string& requestLine,
                           const std::string& hostValue, const std::string& pageHost, int port,
                           bool mirror, bool announcesBody) {
  VLCacheDecision decision;
  VLServer* server = connection.owner();
  if (server == nullptr) return decision;
  VLCacheRequest request{requestLine, hostValue, pageHost, port, mirror, announcesBody};
  const VLCachePlan plan = planCache(*server, request, platform::unixTime());
  if (plan.cachePath.empty()) return decision;
  if (!plan.fresh) {
    decision.cachePath = plan.cachePath;
    decision.toCache = true;
    return decision;
  }
  // Every hit starts the lifetime again (before the answer can reach the
  // browser); a failure changes nothing else.
  platform::touchFile(plan.cachePath);
  const int id = server->nextSequence();
  connection.responder().enqueue(id, false, pageHost, requestPath(requestLine), plan.cachePath,
                                 true, false);
  connection.pendingEventId = -1;
  connection.responder().startUnlessRunning();
  decision.answered = true;
  decision.cachePath = plan.cachePath;
  return decision;
}

void renewPostMarker(const std::string& requestLine, const std::string& hostValue, int port) {
  const std::string upper = toUpper(requestLine);
  if (upper.compare(0, 4, "POST") != 0 && upper.compare(0, 8, "PROPFIND") != 0) return;
  const std::string folder = cacheHostFolderName(hostValue, port);
  std::string marker;
  if (!postMarkerPath(folder, marker)) return;
  // Only a host that has a folder has copies to make stale; none is made.
  if (!platform::isDirectory(cacheRootPath() + folder)) return;
  // Created or truncated in place, empty, its time set to now: there is
  // never a moment without a marker that would let an older copy count as
  // fresh.
  {
    platform::File file;
    if (!file.open(marker, platform::File::Write)) return;
  }
  platform::touchFile(marker);
}
