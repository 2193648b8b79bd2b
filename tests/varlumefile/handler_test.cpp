// The handler's commands run in-process on a request put into its fields,
// with the reply read from the other end of a socket pair: uploads that did
// not reach their temporary file whole and string files that cannot be
// written whole are never stored as if they were.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "platform/sockets.h"
#include "scratch_folder.h"
#include "support/file_size_limit.h"
#include "varlumefile/file_server.h"

namespace {

namespace fs = std::filesystem;

class RequestedHandler : public VLFileHandler {
 public:
  RequestedHandler() {
    platform::socketPair(mine_, peer_);
    adoptSocket(mine_);
  }
  ~RequestedHandler() override { platform::closeSocket(peer_); }

  // The request fields as readRequest would leave them.
  void request(const std::string& target) {
    method = "GET";
    host = "site.example";
    const std::size_t query = target.find('?');
    path = target.substr(0, query);
    parameters = query == std::string::npos ? std::string() : target.substr(query + 1);
  }
  void addUpload(const std::string& clientName, const std::string& bytes, bool complete) {
    VLUploadedFile upload{"file", clientName, makeTempFileName(), complete};
    ScratchFolder::write(platform::toSystemPath(upload.tempPath), bytes);
    uploadedFiles.push_back(upload);
  }
  // The body of the one reply sent.
  std::string replyBody() {
    std::string received;
    char buffer[65536];
    for (;;) {
      platform::PollEntry entry{peer_, platform::kPollReadable, 0};
      if (platform::pollSockets(&entry, 1, 200) <= 0) break;
      const int got = platform::receiveBytes(peer_, buffer, sizeof buffer);
      if (got <= 0) break;
      received.append(buffer, static_cast<std::size_t>(got));
    }
    const std::size_t end = received.find("\r\n\r\n");
    return end == std::string::npos ? received : received.substr(end + 4);
  }

 private:
  platform::Socket mine_ = platform::kInvalidSocket;
  platform::Socket peer_ = platform::kInvalidSocket;
};

std::string notSaved(const std::string& reason) {
  return "<Varlume><ErrorCode>1080</ErrorCode><ErrorReason>" + reason +
         "</ErrorReason><VarlumeFile></VarlumeFile></Varlume>";
}

TEST(FileHandler, AnUploadThatDidNotArriveWholeIsNotSaved) {
  ScratchFolder scratch;
  RequestedHandler handler;
  handler.request("/SAVEFILE?Path=up");
  handler.addUpload("cut.bin", "only part of it", false);
  handler.addUpload("whole.bin", "all of it", true);
  handler.serviceRequest();
  EXPECT_EQ(handler.replyBody(), notSaved("1 files not saved. "));
  EXPECT_FALSE(fs::exists(scratch.path("data/site.example/up/cut.bin")));
  EXPECT_EQ(ScratchFolder::read(scratch.path("data/site.example/up/whole.bin")), "all of it");
  EXPECT_EQ(scratch.tempFileCount(), 0);
}

TEST(FileHandler, AStringFileThatCannotBeWrittenWholeIsNotSaved) {
  ScratchFolder scratch;
  RequestedHandler handler;
  fs::create_directories(scratch.path("data/site.example/s"));
  handler.request("/STRINGFILE?Path=s&Name=big.txt&Data=" + std::string(50000, 'd'));
  {
    testsupport::FileSizeLimit limit(20000);
    handler.serviceRequest();
  }
  EXPECT_EQ(handler.replyBody(), notSaved("String file not saved. "));
  EXPECT_FALSE(fs::exists(scratch.path("data/site.example/s/big.txt")));
  EXPECT_EQ(scratch.tempFileCount(), 0);
}

TEST(FileHandler, ADecodedUploadThatCannotBeWrittenWholeIsNotSaved) {
  ScratchFolder scratch;
  RequestedHandler handler;
  handler.request("/SAVEFILE?Path=up&Encoding=ESCAPED");
  handler.addUpload("big.bin", std::string(30000, 'e'), true);
  {
    testsupport::FileSizeLimit limit(20000);
    handler.serviceRequest();
  }
  EXPECT_EQ(handler.replyBody(), notSaved("1 files not saved. "));
  EXPECT_FALSE(fs::exists(scratch.path("data/site.example/up/big.bin")));
  EXPECT_EQ(scratch.tempFileCount(), 0);
}

}  // namespace
