#include "varlume/cache_lookup.h"

VLCacheDecision checkCache(VLClientConnection& /*connection*/, const std::string& /*requestLine*/,
                           const std::string& /*hostValue*/, const std::string& /*pageHost*/,
                           bool /*mirror*/) {
  return VLCacheDecision();
}

void renewPostMarker(const std::string& /*requestLine*/, const std::string& /*hostValue*/) {}
