// The cache steps of the request road. checkCache answers a GET from a
// fresh cached copy (queued in its place, its time renewed), or names the
// cache file a forwarded response is to be stored in. renewPostMarker
// re-creates the host's POST marker for a forwarded POST or PROPFIND, so
// every older copy of that host is stale from then on.
#pragma once
#include <string>

class VLClientConnection;

struct VLCacheDecision {
  bool answered = false;   // a fresh cached copy was queued for the browser
  std::string cachePath;   // cache file of the request; empty when none
  bool toCache = false;    // store the response into cachePath
};

// port: the target port; announcesBody: the head names a body (a
// Content-Length other than 0 or a Transfer-Encoding), which only the
// road may read, so such a request is never answered here.
VLCacheDecision checkCache(VLClientConnection& connection, const std::string& requestLine,
                           const std::string& hostValue, const std::string& pageHost, int port,
                           bool mirror, bool announcesBody);
// hostValue: the Host value as forwarded (for a service, the page host,
// which may carry its port); port: the target port of a web request.
void renewPostMarker(const std::string& requestLine, const std::string& hostValue, int port);
