// Whether a request comes from its own site's page: a Referer or Origin value
// that names the page host itself. The proxy asks it before a service command
// that changes data, the file service before it fills a page with a
// request's values; a request from another site's page, or with neither
// line, is not its own page's.
#pragma once
#include <string>
#include <vector>

// The host an http: Referer or Origin value names (the scheme in any letter
// case), lower-cased, without the default port; empty when it names none
// ("null", a relative value, or any other scheme: https:, ftp:, file:...).
std::string refererHost(const std::string& value);

// Whether one of `values` (Referer and Origin values) names `pageHost`; a
// page host with a path ("site.example/docs") is its host's page.
bool namesOwnPageHost(const std::vector<std::string>& values, const std::string& pageHost);
