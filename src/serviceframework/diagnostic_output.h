// The services' diagnostics on standard output. Fifty handler threads write
// them, so each line goes out in one stdio call and lines never interleave.
#pragma once
#include <string>

// Writes `text` followed by "\n" as one write to standard output and flushes.
void writeDiagnosticLine(const std::string& text);
