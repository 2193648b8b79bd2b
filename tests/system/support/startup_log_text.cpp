#include "support/startup_log_text.h"

namespace startuplog {
namespace {

constexpr char kWarning[] = "Warning: ";

// The lines of `log` that are (or are not) warnings, each with its line end.
std::string linesWhere(const std::string& log, bool wantWarnings) {
  std::string kept;
  std::size_t at = 0;
  while (at < log.size()) {
    std::size_t end = log.find('\n', at);
    end = end == std::string::npos ? log.size() : end + 1;
    const std::string line = log.substr(at, end - at);
    if ((line.rfind(kWarning, 0) == 0) == wantWarnings) kept += line;
    at = end;
  }
  return kept;
}

}  // namespace

std::string withoutWarnings(const std::string& log) { return linesWhere(log, false); }

std::string warnings(const std::string& log) { return linesWhere(log, true); }

}  // namespace startuplog
