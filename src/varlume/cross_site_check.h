// Whether a page of pageHost may reach targetHost with this request line.
// Until cross-site declarations are kept, every request passes.
#pragma once
#include <string>

bool crossSiteAllowed(const std::string& pageHost, const std::string& targetHost,
                      const std::string& requestLine);
