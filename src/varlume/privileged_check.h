// The guard of the service commands that change data: a page of one site
// must not make the browser run them for another site (or for the
// privileged host). Such a command passes only when the request's Referer
// or Origin line names its own page host.
#pragma once
#include <string>
#include <vector>

#include "foundation/own_page.h"

// Whether the service request may go on. `service` is its Host value (a
// service keyword), `requestLine` line 0 in origin form, `lines` the whole
// head as the browser sent it. Commands that change nothing always pass.
bool serviceCommandPermitted(const std::string& service, const std::string& requestLine,
                             const std::vector<std::string>& lines, const std::string& pageHost);

// Whether the head's Referer or Origin line names the page host itself: a
// request the page made, not one another site's page made for it.
bool namesItsOwnPage(const std::vector<std::string>& lines, const std::string& pageHost);

// Whether a service command changes data (the path as the service reads it):
// every event-service command but /GETEVENT and /GETVERSION, and the file
// service's commands that make, save, rename or remove, list the cache, or
// set the proxy.
bool isChangingCommand(const std::string& service, const std::string& path);
