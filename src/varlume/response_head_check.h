// Reads the framing a response head announces, and refuses every head that
// two HTTP readers could frame apart: a folded or colon-less line, a field
// name that is no token, a bare CR or NUL, a Transfer-Encoding whose last
// coding is not chunked (or that names a coding not known here, repeats
// chunked, or comes with an HTTP/1.0 status line or a Content-Length), and
// Content-Length lines that do not all give one valid number. Pure function
// of the head's text: the relay acts on the decision.
#pragma once
#include <cstdint>
#include <string>

struct VLHeadFraming {
  bool refused = false;
  const char* reason = "";     // why it was refused, for tests and logs
  bool chunked = false;        // Transfer-Encoding ends with chunked
  bool lengthGiven = false;    // one valid Content-Length (maybe repeated)
  std::int64_t length = 0;
};

// `head`: the status line to the empty line that ends the head, as received.
// `http10`: the status line says HTTP/1.0.
VLHeadFraming checkHeadFraming(const std::string& head, bool http10);
