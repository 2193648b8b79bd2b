// The cache decision for one web request, without touching the browser
// connection: the lifetime and key from the rules, the cache file and the
// host's POST marker, and whether the copy on disk is fresh. Only a GET
// whose head announces no body, that is no mirror request and whose host
// and key are plain, is looked up or stored.
#pragma once
#include <cstdint>
#include <string>

class VLServer;

struct VLCacheRequest {
  std::string requestLine;  // origin form
  std::string hostValue;    // the Host value (no port)
  std::string pageHost;
  int port = 80;
  bool mirror = false;
  bool announcesBody = false;
};

struct VLCachePlan {
  int lifetime = 0;        // -1 no age limit, 0 not kept, > 0 seconds
  std::string cachePath;   // empty when the request is not cached
  bool fresh = false;      // the copy at cachePath may answer the request
};

// Fresh: the copy exists, is at most `lifetime` seconds old (or the
// lifetime is -1), and is not older than the POST marker. Bounds inclusive.
bool isCopyFresh(int lifetime, bool exists, std::int64_t mtime, bool hasMarker,
                 std::int64_t markerTime, std::int64_t now);

// Stats the cache file and the marker; `now` in seconds since 1970.
VLCachePlan planCache(const VLServer& server, const VLCacheRequest& request, std::int64_t now);
