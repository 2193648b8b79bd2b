// Cache tests: a scratch folder that is both the proxy's temporary folder
// and its data root, with a writer for small files in it.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "relay_support.h"
#include "varlume/settings.h"

class CacheScratch : public ::testing::Test {
 protected:
  void SetUp() override { basePath = tempPath; }
  std::string write(const std::string& name, const std::string& text) {
    scratch.write(name, text);
    return tempPath + name;
  }
  VLRelayScratch scratch;
};
