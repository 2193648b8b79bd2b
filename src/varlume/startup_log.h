// The start-up log "VarlumeStartupLog.txt" in the documents folder: emptied at
// every start, one entry per line (each ended by LF), every entry written
// through at once. A log that cannot be opened is no error: its lines are lost.
// Main thread only.
#pragma once
#include <string>

// The log's path for a documents folder in "\" form (empty: a relative path).
std::string startupLogPath(const std::string& documentsFolder);

// Creates or empties the log at `path` and keeps it open.
void openStartupLog(const std::string& path);
// Writes `entry` and a line end; does nothing while the log is not open.
void writeStartupLog(const std::string& entry);
void closeStartupLog();
// An entry that ends start-up: written to the log as writeStartupLog does,
// and to standard error, so the terminal that started the program says why.
void writeStartupFailure(const std::string& entry);

// For a failure after start-up was logged as complete (the listener that
// cannot be opened): opens the closed log again for appending, writes one
// entry with its line end and closes it. Does nothing when no log was opened.
void appendStartupLog(const std::string& entry);
