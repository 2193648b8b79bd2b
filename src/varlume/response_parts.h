// A finished response as its part files hold it: read in turn as one byte
// stream, and its final head found behind any interim (1xx) heads, also
// when a head is cut across parts. Used by the cache store and the mirror.
#pragma once
#include <cstddef>
#include <string>

#include "platform/files.h"

class VLResponseParts {
 public:
  static constexpr std::size_t kPiece = 65536;
  // Parts 0 .. parts - 1 of request `id` in the temporary folder.
  VLResponseParts(int id, int parts);
  // Bytes read into `buffer` (at most kPiece), 0 at the end, -1 when a part
  // cannot be read (a response with a hole is never taken as whole).
  long read(char* buffer);

 private:
  int id_;
  int parts_;
  int next_ = 0;
  platform::File file_;
};

struct VLFinalHead {
  bool readFailed = false;
  bool headEnd = false;  // the empty line that ends the head was found
  int status = -1;       // the status code; -1 when it cannot be read
  std::string head;      // the head, its empty line included
  std::string rest;      // body bytes read with the head
};

// The first head whose status is not 1xx. A head ends 3 bytes after
// "\n\r\n" or 2 after "\n\n", whichever comes first.
VLFinalHead readFinalHead(VLResponseParts& parts);
// The status code at byte 9 of a head of at least 15 bytes; -1 otherwise.
int headStatus(const std::string& head);
