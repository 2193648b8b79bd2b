// The main program's command line: options "lh?p:x:y:" that override the
// configuration for one run (nothing is written back), and the usage text.
#pragma once
#include <optional>
#include <string>

inline constexpr char kOptionString[] = "lh?p:x:y:";

// The usage text for the application name and version: one log entry that
// begins with an empty line and ends every line with LF. The default port
// shown is always 8080.
std::string usageText(const std::string& appName, const std::string& version);

// Applies -p (listeningPort), -x (proxyHost), -y (proxyPort) and -l (nothing)
// in command-line order. Any other result of the scanner writes `usage` to the
// start-up log (and standard error) and gives false. `listeningOption`, when
// given, receives the value of the last -p.
bool applyOptions(int argc, char** argv, const std::string& usage,
                  std::optional<std::string>* listeningOption = nullptr);
