// The browser-configuration scripts of start-up: every signed script of the
// all-users folder that the user's folder holds no done copy of runs once,
// in name order, with the configured listening port; one that another user
// may change is run from its shipped copy, or not at all (all_users_copy.h).
// A script that fails its signature check ends start-up with the tamper
// line in the log.
#pragma once
#include <string>

// Held in the user folder while the scripts are selected and run, so two
// starts of one user never run a script at once.
inline constexpr char kScriptsLockName[] = "varlume.scripts.lock";

// Both folders in the programs' "\" form, ending with "\". Returns when every
// selected script has been handled; ends the process (status 0) on a script
// that fails its check.
void runBrowserScripts(const std::string& userFolder, const std::string& allUsersFolder);
