// Start-up unit tests: a scratch folder (removed afterwards), file helpers,
// the start-up settings reset to a known state, and a start-up log captured
// in the scratch folder.
#pragma once
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "varlume/settings.h"
#include "varlume/startup_log.h"

class VLStartupScratch {
 public:
  VLStartupScratch() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
      root_ = std::filesystem::temp_directory_path() / ("vlstartup-" + std::to_string(random()));
      if (std::filesystem::create_directory(root_)) break;
    }
    listeningPort = 0;
    proxyHost.clear();
    proxyPort = -1;
    servicesPort = internalPort = internalRange = 0;
    basePath.clear();
    tempPath.clear();
  }
  ~VLStartupScratch() {
    closeStartupLog();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  VLStartupScratch(const VLStartupScratch&) = delete;
  VLStartupScratch& operator=(const VLStartupScratch&) = delete;

  // root/relative in system form.
  std::string path(const std::string& relative) const { return (root_ / relative).string(); }
  // The same in the programs' "\" form; a trailing "/" becomes "\".
  std::string programPath(const std::string& relative) const {
    std::string result = path(relative);
    for (char& c : result) {
      if (c == '/') c = '\\';
    }
    return result;
  }

  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static void write(const std::string& path, const std::string& contents) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << contents;
  }
  static bool exists(const std::string& path) { return std::filesystem::exists(path); }

  // Captures the start-up log in the scratch folder until logText().
  void openLog() { openStartupLog(programPath("startup.log")); }
  std::string logText() {
    closeStartupLog();
    return read(path("startup.log"));
  }

 private:
  std::filesystem::path root_;
};
