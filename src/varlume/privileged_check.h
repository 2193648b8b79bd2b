// The guard of what a page may make the browser ask: a service command that
// changes data, and a mirror (which saves into the page host's folder), run
// only when the request's Referer or Origin line names its own page host, so
// a page of one site never has them run for another site (or for the
// privileged host); a changing command of the privileged host, moreover,
// only for its pages' own script (the line no navigation, link, form, image
// or frame can send); and the privileged host is never asked on the web, so
// none of its pages comes from anywhere but the services.
#pragma once
#include <string>
#include <vector>

#include "foundation/own_page.h"

// Whether a request may go on: a web request that names the privileged host
// (as its page host or its target) never does, a mirror only for its own
// page, and a service request as serviceCommandPermitted says. `hostValue`
// is the request's target (its Host value).
bool requestPermitted(bool service, bool mirror, const std::string& hostValue,
                      const std::string& requestLine, const std::vector<std::string>& lines,
                      const std::string& pageHost);

// Whether a host text names the privileged host: in any letter case, %XX
// escapes decoded, with or without a port, a path or a final dot.
bool namesPrivilegedHost(const std::string& host);

// Whether the service request may go on. `service` is its Host value (a
// service keyword), `requestLine` line 0 in origin form, `lines` the whole
// head as the browser sent it. Commands that change nothing always pass.
bool serviceCommandPermitted(const std::string& service, const std::string& requestLine,
                             const std::vector<std::string>& lines, const std::string& pageHost);

// Whether a header line after the request line is the script's own line
// (foundation/script_command.h).
bool carriesScriptLine(const std::vector<std::string>& lines);

// Whether the head's Referer or Origin line names the page host itself: a
// request the page made, not one another site's page made for it.
bool namesItsOwnPage(const std::vector<std::string>& lines, const std::string& pageHost);

// Whether a service command changes data (the path as the service reads it):
// every event-service command but /GETEVENT and /GETVERSION, and the file
// service's commands that make, save, rename or remove, list the cache, or
// set the proxy.
bool isChangingCommand(const std::string& service, const std::string& path);
