// Names of the files in the temporary folder that carry responses from the
// relay threads to the responders: part k of request N is "vl" + N + "_" + k
// + ".tmp" (decimal, no leading zeros); the proxy's own page for request N is
// "vl" + N + "_msg.tmp", a name no relay writes.
#pragma once
#include <cstdint>
#include <string>

// "vl42_0.tmp" for request 42, part 0.
std::string partFileName(int id, int part);
// The part file's path in `folder` (a trailing separator is added when needed).
std::string partFilePath(const std::string& folder, int id, int part);
// The path of the proxy's own page for request `id` in `folder`.
std::string messageFilePath(const std::string& folder, int id);
// Deletes a part file; its size (0 when it could not be read), or -1 when
// there was none to delete.
std::int64_t removePart(const std::string& path);

#include <cstddef>
#include <cstdint>

#include "platform/files.h"

// Writes the part files of one response in turn: part k is closed before
// part k + 1 is opened (truncating what an old file of that name held).
class VLPartWriter {
 public:
  // Opens part 0 of request `id` in `folder`; false when it cannot be made.
  bool open(const std::string& folder, int id);
  bool write(const char* data, std::size_t length);
  void close();
  // Closes this part and deletes its file: it was never announced.
  void discard();
  // Closes this part and opens the next; false when it cannot be made.
  bool next();

  bool isOpen() const { return file_.isOpen(); }
  int part() const { return part_; }
  std::size_t bytes() const { return bytes_; }

 private:
  bool openPart();

  platform::File file_;
  std::string folder_;
  int id_ = 0;
  int part_ = 0;
  std::size_t bytes_ = 0;
};
