#include "varlume/part_files.h"

#include "foundation/strings.h"

namespace {

std::string inFolder(const std::string& folder, const std::string& name) {
  std::string path = folder;
  ensureTrailingSlash(path);
  return path + name;
}

}  // namespace

std::string partFileName(int id, int part) {
  return "vl" + std::to_string(id) + "_" + std::to_string(part) + ".tmp";
}

std::string partFilePath(const std::string& folder, int id, int part) {
  return inFolder(folder, partFileName(id, part));
}

std::string messageFilePath(const std::string& folder, int id) {
  return inFolder(folder, "vl" + std::to_string(id) + "_msg.tmp");
}

std::int64_t removePart(const std::string& path) {
  platform::FileStatus status;
  const bool known = platform::statPath(path, status);
  if (!platform::removeFile(path)) return -1;
  return known ? static_cast<std::int64_t>(status.size) : 0;
}

bool VLPartWriter::open(const std::string& folder, int id) {
  file_.close();
  folder_ = folder;
  id_ = id;
  part_ = 0;
  return openPart();
}

bool VLPartWriter::openPart() {
  bytes_ = 0;
  return file_.open(partFilePath(folder_, id_, part_), platform::File::Write);
}

bool VLPartWriter::write(const char* data, std::size_t length) {
  if (length == 0) return file_.isOpen();
  if (!file_.write(data, length)) return false;
  bytes_ += length;
  return true;
}

void VLPartWriter::close() { file_.close(); }

void VLPartWriter::discard() {
  const bool open = file_.isOpen();
  file_.close();
  if (open) platform::removeFile(partFilePath(folder_, id_, part_));
}

bool VLPartWriter::next() {
  file_.close();
  ++part_;
  return openPart();
}
