// The Date line of the services' response head, built from fixed English day
// and month tables (never from the locale): "Date: Tue, 08 Dec 2026 19:37:08
// GMT" and CR LF, for the given seconds since 1970 in UTC.
#pragma once
#include <cstdint>
#include <string>

std::string httpDateLine(std::int64_t seconds);
