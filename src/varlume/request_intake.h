// VLRequestHead: the head of one request as it is read, one byte at a time:
// at most 100 lines of at most 65,536 bytes, each keeping its own line end;
// the two sub-home lines that pages may not pass on are dropped, and so are
// empty lines before the request line. A head that breaks a limit is
// refused (the connection is then ended); a head whose lines could be read
// as other lines by the servers behind the proxy is malformed (it is
// answered with the proxy's refusal, then the connection is ended).
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "varlume/request_target.h"

class VLRequestHead {
 public:
  static constexpr std::size_t kMaxLines = 100;
  static constexpr std::size_t kMaxLineBytes = 65536;

  enum Status { kNeedMore, kComplete, kRefused, kMalformed };

  // Adds one byte; kComplete once the empty line that ends the head is
  // stored. kMalformed for a line that holds a control byte other than tab
  // (a zero byte, a CR that does not end the line), or a header line that
  // is not a name (letters, digits and !#$%&'*+-.^_`|~) directly followed
  // by ":".
  Status addByte(char byte);
  void clear();
  // Sets line i and its upper-cased copy.
  void setLine(std::size_t i, const std::string& line);

  // Stored lines; line 0 is the request line, the last one the empty line.
  std::vector<std::string> lines;
  // Each stored line upper-cased, made once per line text.
  std::vector<std::string> upperLines;
  // Index of the last line beginning with "Host:" (any case); 0 when none.
  std::size_t hostIndex = 0;
  // The number of such lines.
  std::size_t hostLines = 0;

 private:
  std::string current_;
  bool complete_ = false;
};


// The analysis of a complete head: the target (page host, port, mirror flag),
// whether it is a service request, and whether it may be forwarded at all.
struct VLRequestAnalysis {
  // False when the request must not be forwarded: a request line that is
  // not plain (isPlainRequestLine), more than one Host line, no Host line and no
  // absolute URL to name one, or a page host or Host value that could inject
  // header lines or leave a folder (see isSafeHostText), or an empty page
  // host for a service; or one a page may not make (requestPermitted: the
  // privileged host on the web, another site's mirror or changing command).
  bool accepted = false;
  bool service = false;
  VLRequestTarget target;
};

// Rewrites the head's request line and Host line for the target (a missing
// Host line is built from an absolute URL) and analyses it.
VLRequestAnalysis analyseRequest(VLRequestHead& head, std::string& browserUrl);
