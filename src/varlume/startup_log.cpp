#include "varlume/startup_log.h"

#include <cstdio>

#include "platform/files.h"

namespace {

constexpr char kStartupLogName[] = "VarlumeStartupLog.txt";

platform::File& logFile() {
  static platform::File file;
  return file;
}

// The path given to the last openStartupLog; empty before.
std::string& logPath() {
  static std::string path;
  return path;
}

void writeEntry(platform::File& file, const std::string& entry) {
  // One write per entry: the descriptor is unbuffered, so every line is out
  // at once.
  file.write(entry + "\n");
}

void writeStandardError(const std::string& entry) {
  std::string line = entry + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

std::string startupLogPath(const std::string& documentsFolder) {
  if (documentsFolder.empty()) return kStartupLogName;
  if (documentsFolder.back() == '\\') return documentsFolder + kStartupLogName;
  return documentsFolder + "\\" + kStartupLogName;
}

void openStartupLog(const std::string& path) {
  logPath() = path;
  logFile().open(path, platform::File::Write);
}

void writeStartupLog(const std::string& entry) {
  if (logFile().isOpen()) writeEntry(logFile(), entry);
}

void closeStartupLog() { logFile().close(); }

void appendStartupLog(const std::string& entry) {
  if (logPath().empty()) return;
  closeStartupLog();
  platform::File file;
  if (file.open(logPath(), platform::File::Append)) writeEntry(file, entry);
}

void writeStartupFailure(const std::string& entry) {
  writeStartupLog(entry);
  writeStandardError(entry);
}
