// A fresh folder under the system's temporary folder, removed with all its
// contents when the object goes.
#pragma once
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

class TempFolder {
 public:
  TempFolder() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = std::filesystem::temp_directory_path() /
              ("vlplatform-" + std::to_string(random()));
      if (std::filesystem::create_directory(path_)) return;
    }
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // A path inside the folder in system ("/") form.
  std::string path(const std::string& name = "") const {
    return name.empty() ? path_.string() : (path_ / name).string();
  }
  // The same path in the programs' "\" form.
  std::string programPath(const std::string& name = "") const {
    std::string result = path(name);
    for (char& c : result) {
      if (c == '/') c = '\\';
    }
    return result;
  }
  void write(const std::string& name, const std::string& contents) const {
    std::ofstream(path(name), std::ios::binary) << contents;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::filesystem::path path_;
};
