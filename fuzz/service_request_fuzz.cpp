// The services' reading of requests, as VLGenericHandler reads them from a
// connection: the input is what a client sent before closing its end of a
// local socket pair; every request in it is read (heads, url-encoded and
// multipart bodies into the temporary folder), then the fields are reset.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "platform/sockets.h"
#include "serviceframework/generic_handler.h"
#include "serviceframework/service_settings.h"

namespace {

// The largest input: it must fit a socket's buffers, so one thread can write
// it all before reading.
constexpr std::size_t kMaxInput = 65536;

std::string programFolder(const std::filesystem::path& folder) {
  return platform::fromSystemPath(folder.string()) + "\\";
}

std::filesystem::path tempFolder;
std::filesystem::path dataFolder;

class ReadingHandler : public VLGenericHandler {
 public:
  ReadingHandler() : VLGenericHandler(20) {}
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/vlfuzz-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) std::abort();
  const std::filesystem::path root(pattern);
  tempFolder = root / "temp";
  dataFolder = root / "data";
  std::filesystem::create_directories(tempFolder);
  std::filesystem::create_directories(dataFolder);
  tempDirectory = programFolder(root / "temp");
  storageRoot = programFolder(root / "data");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  platform::Socket reader, writer;
  if (!platform::socketPair(reader, writer)) std::abort();
  platform::setBufferSizes(writer, 1 << 20, 1 << 20);
  platform::setBufferSizes(reader, 1 << 20, 1 << 20);
  if (size > 0 && !platform::sendAll(writer, data, size, 1000)) std::abort();
  platform::shutdownSocket(writer, platform::ShutdownHow::Send);

  static ReadingHandler* handler = new ReadingHandler;
  handler->adoptSocket(reader);
  for (int request = 0; request < 1000; ++request) {
    int read = handler->readRequest();
    if (read != 1) break;
    (void)handler->getHost();
    (void)handler->domainHomeDirectory();
    (void)handler->getParameter("Name");
    handler->reset();
  }
  handler->reset();
  handler->adoptSocket(platform::kInvalidSocket);
  // Reading never leaves a file behind, nor writes into the data root.
  if (!std::filesystem::is_empty(tempFolder) || !std::filesystem::is_empty(dataFolder)) __builtin_trap();
  platform::closeSocket(writer);
  return 0;
}
