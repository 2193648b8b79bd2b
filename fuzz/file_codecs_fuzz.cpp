// The file service's upload and download codecs on an uploaded file of
// arbitrary bytes: %XX decoding, Base64 decoding with its warnings, and
// Base64 encoding, whose output decodes back to the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/files.h"
#include "platform/paths.h"
#include "serviceframework/service_settings.h"
#include "varlumefile/file_server.h"

namespace {

std::string readAll(const std::string& path) {
  platform::File file;
  std::string text;
  if (!file.open(path, platform::File::Read)) return text;
  char piece[65536];
  for (long got; (got = file.read(piece, sizeof piece)) > 0;) text.append(piece, static_cast<std::size_t>(got));
  return text;
}

std::string upload;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/vlfuzz-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) std::abort();
  const std::filesystem::path root(pattern);
  std::filesystem::create_directories(root / "temp");
  tempDirectory = platform::fromSystemPath((root / "temp").string()) + "\\";
  storageRoot = platform::fromSystemPath(root.string()) + "\\";
  upload = platform::fromSystemPath((root / "upload.bin").string());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static VLFileHandler* handler = new VLFileHandler;
  {
    platform::File file;
    if (!file.open(upload, platform::File::Write) || !file.write(data, size) || !file.close()) std::abort();
  }
  std::string message;
  int code = 0;
  (void)handler->unescapeUpload(upload, message, code);
  (void)handler->decodeBase64File(upload, message, code);
  const std::string encoded = handler->encodeBase64File(upload);
  if (encoded.empty()) std::abort();
  const std::string decoded = handler->decodeBase64File(encoded, message, code);
  if (readAll(decoded) != std::string(reinterpret_cast<const char*>(data), size)) __builtin_trap();
  handler->reset();
  return 0;
}
