#include "test_service.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "serviceframework/service_settings.h"

namespace sftest {
namespace {

namespace fs = std::filesystem;

fs::path& sandboxRoot() {
  static fs::path root;
  return root;
}

std::string programForm(const fs::path& folder) {
  std::string text = platform::fromSystemPath(folder.string());
  if (text.empty() || text.back() != '\\') text += '\\';
  return text;
}

// The sandbox: every well-known folder of the programs points below one
// fresh temporary folder, which is removed again at the end.
class SandboxEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::random_device random;
    fs::path root = fs::temp_directory_path() / ("vlsf-" + std::to_string(random()) + std::to_string(random()));
    fs::create_directories(root);
    sandboxRoot() = root;
    const std::pair<const char*, const char*> folders[] = {
        {"VARLUME_DOCUMENTS_DIR", "documents"},
        {"VARLUME_APPDATA_DIR", "appdata"},
        {"VARLUME_LOCAL_APPDATA_DIR", "localappdata"},
        {"VARLUME_COMMON_APPDATA_DIR", "commonappdata"},
        {"VARLUME_PROGRAM_FILES_DIR", "programfiles"},
    };
    for (const auto& [variable, name] : folders) {
      fs::create_directories(root / name);
      ::setenv(variable, (root / name).c_str(), 1);
    }
    // The services' own folders; serve() creates the temporary folder.
    tempDirectory = programForm(root / "localappdata" / "Varlume" / "Temp");
    storageRoot = programForm(root / "documents" / "Varlume");
  }
  void TearDown() override { removeSandbox(); }
};

[[maybe_unused]] ::testing::Environment* const sandbox =
    ::testing::AddGlobalTestEnvironment(new SandboxEnvironment);

std::int64_t deadlineIn(int ms) { return platform::monotonicMilliseconds() + ms; }

int remaining(std::int64_t deadline) {
  std::int64_t left = deadline - platform::monotonicMilliseconds();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

void removeSandbox() {
  std::error_code ignored;
  if (!sandboxRoot().empty()) fs::remove_all(sandboxRoot(), ignored);
}

std::string sandboxTempFolder() { return tempDirectory; }
std::string sandboxDataRoot() { return storageRoot; }

std::vector<std::string> tempFolderNames() {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(platform::toSystemPath(tempDirectory), error)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

bool tempFolderEmptied(int timeoutMs) {
  std::int64_t deadline = deadlineIn(timeoutMs);
  for (;;) {
    if (tempFolderNames().empty()) return true;
    if (remaining(deadline) == 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void EchoHandler::serviceRequest() {
  std::string report;
  report += "method: " + getMethod() + "\n";
  report += "host: " + getHost() + "\n";
  report += "path: " + getPath() + "\n";
  report += "params: " + parameterText() + "\n";
  report += "slot: " + std::to_string(getTempId()) + "\n";
  report += "body: " + getBodyFile() + "\n";
  report += "sub: " + getSubdomainHome() + "\n";
  report += "common: " + getCommonHome() + "\n";
  std::string origins;
  for (const std::string& origin : getOrigins()) origins += "[" + origin + "]";
  report += "origins: " + origins + "\n";
  std::string referers;
  for (const std::string& referer : getReferers()) referers += "[" + referer + "]";
  report += "referers: " + referers + "\n";
  report += std::string("refused: ") + (isSiteFolderRefused() ? "1" : "0") + "\n";
  report += "home: " + domainHomeDirectory() + "\n";
  // "/look/a,b": the values of the parameters a and b, each looked up alone.
  if (getPath().rfind("/look/", 0) == 0) {
    const std::string keys = getPath().substr(6);
    for (std::size_t start = 0; start <= keys.size();) {
      std::size_t end = keys.find(',', start);
      if (end == std::string::npos) end = keys.size();
      const std::string key = keys.substr(start, end - start);
      const std::string value = getParameter(key);
      report += "value " + key + ": " + std::to_string(value.size()) + " " +
                (getParameterValue(key).text() == value ? "same" : "differs") + "\n" + value + "\n";
      start = end + 1;
    }
  }
  report += "uploads: " + std::to_string(getUploadedFiles().size()) + "\n";
  for (const VLUploadedFile& upload : getUploadedFiles()) {
    std::string content;
    platform::readFile(upload.tempPath, content);
    report += "upload: " + upload.fieldName + "\x1f" + upload.clientName + "\x1f" + upload.tempPath +
              "\x1f" + std::to_string(content.size()) + "\n" + content + "\n";
  }
  responseHeader(200, "Success", "text/plain");
  sendResponse(report);
  reset();
}

int freeLoopbackPort() {
  platform::Socket probe = platform::tcpSocket();
  platform::bindSocket(probe, platform::kLoopbackAddress, 0);
  int port = platform::localPort(probe);
  platform::closeSocket(probe);
  return port;
}

void serveInBackground(VLGenericServer* server, int port) {
  std::thread([server, port] { server->serve(port); }).detach();
}

bool parseEcho(const std::string& body, EchoReport& report) {
  report = EchoReport();
  std::size_t at = 0;
  auto nextLine = [&](std::string& line) {
    std::size_t end = body.find('\n', at);
    if (end == std::string::npos) return false;
    line = body.substr(at, end - at);
    at = end + 1;
    return true;
  };
  std::string line;
  while (nextLine(line)) {
    std::size_t colon = line.find(": ");
    if (colon == std::string::npos) return false;
    std::string key = line.substr(0, colon);
    std::string value = line.substr(colon + 2);
    if (key == "upload") {
      EchoUpload upload;
      std::vector<std::string> parts;
      std::size_t start = 0;
      for (std::size_t sep; (sep = value.find('\x1f', start)) != std::string::npos; start = sep + 1) {
        parts.push_back(value.substr(start, sep - start));
      }
      parts.push_back(value.substr(start));
      if (parts.size() != 4) return false;
      upload.field = parts[0];
      upload.client = parts[1];
      upload.temp = parts[2];
      std::size_t size = std::stoul(parts[3]);
      if (at + size + 1 > body.size()) return false;
      upload.content = body.substr(at, size);
      at += size + 1;
      report.uploads.push_back(upload);
    } else if (key.rfind("value ", 0) == 0) {
      const std::size_t blank = value.find(' ');
      if (blank == std::string::npos) return false;
      const std::size_t size = std::stoul(value.substr(0, blank));
      if (at + size + 1 > body.size()) return false;
      report.fields[key] = body.substr(at, size);
      report.fields["looked up " + key.substr(6)] = value.substr(blank + 1);
      at += size + 1;
    } else {
      report.fields[key] = value;
    }
  }
  return at == body.size();
}

std::string simpleGet(const std::string& target, const std::string& host) {
  return "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
}

}  // namespace sftest
