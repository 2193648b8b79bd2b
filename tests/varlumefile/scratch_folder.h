// A fresh folder for one test, set as the service's temporary folder and data
// root, removed with its contents afterwards; small file helpers.
#pragma once
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "platform/paths.h"
#include "serviceframework/service_settings.h"

class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device seed;
    root_ = std::filesystem::temp_directory_path() / ("vlfile-" + std::to_string(seed()) + std::to_string(seed()));
    std::filesystem::create_directories(root_ / "temp");
    std::filesystem::create_directories(root_ / "data");
    tempDirectory = programForm(root_ / "temp") + "\\";
    storageRoot = programForm(root_ / "data") + "\\";
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string path(const std::string& relative) const { return (root_ / relative).string(); }
  static std::string programForm(const std::filesystem::path& path) {
    return platform::fromSystemPath(path.string());
  }

  static void write(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  int tempFileCount() const {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(root_ / "temp")) {
      (void)entry;
      ++count;
    }
    return count;
  }

 private:
  std::filesystem::path root_;
};
