// Which requests of the privileged host the event service answers, decided
// before any database is opened. The privileged host's site database is the
// privileged database (the cross-site permissions), and opening it makes
// its missing objects: every command of that host but the look-up /GETEVENT
// can change it, so each runs only for a request of its pages' own script
// (the line no navigation, link, form, image or frame can send).
#pragma once
#include <string>

// `host` is the Host (its folder is the privileged host's when, decoded
// once, it names that host in any case), `command` the upper-cased path,
// and `pageScript` whether the request carried the script's line.
bool privilegedRequestRefused(const std::string& host, const std::string& command, bool pageScript);
