// The cache look-up of a web request and the POST marker of a forwarded
// request with a body. Nothing is cached yet: checkCache never answers a
// request and asks for nothing to be stored; renewPostMarker marks nothing.
#pragma once
#include <string>

class VLClientConnection;

struct VLCacheDecision {
  bool answered = false;   // a fresh cached copy was queued for the browser
  std::string cachePath;   // cache file of the request; empty when none
  bool toCache = false;    // store the response into cachePath
};

VLCacheDecision checkCache(VLClientConnection& connection, const std::string& requestLine,
                           const std::string& hostValue, const std::string& pageHost,
                           bool mirror);
void renewPostMarker(const std::string& requestLine, const std::string& hostValue);
