// Cache tests: a scratch folder that is both the proxy's temporary folder
// and its data root, with a writer for small files in it.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "relay_support.h"
#include "varlume/settings.h"

class CacheScratch : public ::testing::Test {
 protected:
  void SetUp() override { basePath = tempPath; }
  // Writes root/name, making its folders.
  std::string write(const std::string& name, const std::string& text) {
    const std::filesystem::path file = std::filesystem::path(platform::toSystemPath(tempPath)) / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
    return tempPath + name;
  }
  VLRelayScratch scratch;
};
