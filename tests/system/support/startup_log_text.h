// The start-up log as the system tests read it: a start in a bare sandbox
// warns of the files and programs it lacks, and tests that look at other
// lines set those warning lines apart.
#pragma once
#include <string>

namespace startuplog {

// The log without its warning lines (those that begin with "Warning: ").
std::string withoutWarnings(const std::string& log);
// Only the warning lines, each with its line end, in log order.
std::string warnings(const std::string& log);

}  // namespace startuplog
