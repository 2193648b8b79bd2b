#include "serviceframework/diagnostic_output.h"

#include <cstdio>

void writeDiagnosticLine(const std::string& text) {
  std::string line;
  line.reserve(text.size() + 1);
  line += text;
  line += '\n';
  // One fwrite under stdio's own stream lock keeps the line whole.
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}
