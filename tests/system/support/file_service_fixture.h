// The real varlumefile for the system tests: started in a sandbox on a free
// services base port, with the folders a test reads and writes (the data
// root, the site's home, the cache, the temporary folder), raw requests with
// a Host line over one loopback connection each, the expected envelope bytes
// and a multipart body builder.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/loopback_client.h"
#include "support/sandbox.h"
#include "support/script_line.h"
#include "support/service_process.h"

namespace filetest {

using testsupport::HttpResponse;

// The envelopes of the file service.
std::string successXml(const std::string& payload = std::string());
std::string errorXml(const std::string& code, const std::string& reason);

struct Upload {
  std::string fileName;
  std::string bytes;
};
// A multipart/form-data body of file parts under `boundary`.
std::string multipartBody(const std::string& boundary, const std::vector<Upload>& uploads);

class FileServiceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  // The documents folder the service is started with: the sandbox user's
  // own unless a test names another.
  virtual std::string documentsFolder() { return box.user(0).documents; }

  // One request on a connection of its own; the response read whole (head
  // only for HEAD).
  HttpResponse request(const std::string& method, const std::string& target,
                       const std::string& host = "site.example", const std::string& extraHead = "",
                       const std::string& body = "", int timeoutMs = 20000);
  HttpResponse get(const std::string& target, const std::string& host = "site.example") {
    return request("GET", target, host);
  }
  // The body of a GET (the envelope of a command).
  std::string xml(const std::string& target, const std::string& host = "site.example") {
    return get(target, host).body;
  }
  // The envelope of a command of the privileged host as its pages' script
  // sends it.
  std::string privilegedXml(const std::string& target) {
    return request("GET", target, "varlume.internal", servicetest::kScriptLine).body;
  }
  HttpResponse upload(const std::string& target, const std::vector<Upload>& uploads,
                      const std::string& host = "site.example");

  // System paths, without a trailing "/".
  std::string dataRoot() const { return data_; }
  std::string home() const { return data_ + "/site.example"; }
  std::string cache() const { return data_ + "/Cache"; }
  std::string documents() const { return documents_; }
  std::string tempFolder() const { return temp_; }
  std::string configFile() const { return config_; }
  // The programs' form of a system path.
  static std::string shown(const std::string& systemPath) { return sandbox::programsForm(systemPath); }
  // Names ending in ".vlfile" left in the temporary folder.
  std::vector<std::string> leftTempFiles() const;
  // Expects the temporary folder to hold none of them within 5 s.
  void expectNoTempFilesLeft() const;
  // The bytes of a file below the site's home; "<none>" when it is missing.
  std::string stored(const std::string& relative) const {
    return sandbox::readFile(home() + "/" + relative).value_or("<none>");
  }

  sandbox::VLSandbox box;
  servicetest::VLServiceProcess service;
  int port = 0;

 private:
  std::string data_;
  std::string documents_;
  std::string temp_;
  std::string config_;
};

}  // namespace filetest
