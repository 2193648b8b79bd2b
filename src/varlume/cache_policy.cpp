#include "varlume/cache_policy.h"

#include "foundation/strings.h"
#include "platform/files.h"
#include "varlume/cache_paths.h"
#include "varlume/request_target.h"
#include "varlume/server.h"

namespace {

// The modification time of a regular file, in 64 bits.
bool regularFileTime(const std::string& path, std::int64_t& time) {
  platform::FileStatus status;
  if (!platform::statPath(path, status) || !status.isRegular) return false;
  time = status.modificationTime;
  return true;
}

}  // namespace

bool isCopyFresh(int lifetime, bool exists, std::int64_t mtime, bool hasMarker,
                 std::int64_t markerTime, std::int64_t now) {
  if (!exists) return false;
  if (lifetime != -1 && (lifetime < 0 || now - mtime > lifetime)) return false;
  return !hasMarker || mtime >= markerTime;
}

VLCachePlan planCache(const VLServer& server, const VLCacheRequest& request, std::int64_t now) {
  VLCachePlan plan;
  // Mirror requests bypass the cache, and so do bodies a hit would leave unread.
  if (request.mirror || request.announcesBody) return plan;
  if (toUpper(request.requestLine).compare(0, 3, "GET") != 0) return plan;
  std::string key;
  const int lifetime = server.cacheLifetime(request.pageHost, requestUrl(request.requestLine), key);
  // -1 is kept with no age limit; other negative lifetimes are never fresh.
  if (lifetime == 0 || lifetime < -1) return plan;
  const std::string folder = cacheHostFolderName(request.hostValue, request.port);
  std::string file;
  std::string marker;
  if (!cacheFilePath(folder, key, file) || !postMarkerPath(folder, marker)) return plan;
  plan.lifetime = lifetime;
  plan.cachePath = file;
  std::int64_t mtime = 0;
  std::int64_t markerTime = 0;
  const bool exists = regularFileTime(file, mtime);
  const bool hasMarker = regularFileTime(marker, markerTime);
  plan.fresh = isCopyFresh(lifetime, exists, mtime, hasMarker, markerTime, now);
  return plan;
}
