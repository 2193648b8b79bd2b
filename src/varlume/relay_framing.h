// VLRelayFraming: follows the HTTP framing of one response as its bytes
// arrive, so the relay knows where the response ends. Bytes are handed on
// unchanged to a sink (the current part file), except that leading empty
// lines before a status line are dropped and a "100 Continue" head is
// replaced by the fixed text "HTTP/1.1 100 Continue\r\n\r\n".
// Framings: header only (HEAD, 101, 204, 304), Content-Length (64 bits),
// chunked (extensions and trailers), multipart/byteranges, and until the
// server closes (HTTP/1.0 or HTTP/1.1 without a length). Every 1xx but 101
// is an interim head: the final head follows in the same response.
// A head whose framing two readers could take apart (see
// response_head_check.h) fails the response: it is never passed on.
// Limits: a head, a size line, a trailer or a byte-range part header of more
// than 65,536 bytes fails the response.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

class VLRelaySink {
 public:
  virtual ~VLRelaySink() = default;
  // Appends bytes to the current part; false when they could not be written.
  virtual bool writeBytes(const char* data, std::size_t length) = 0;
  // The method of the request being answered, upper-case (taken once per
  // response, at its first final head).
  virtual std::string takeMethod() = 0;
  // A Keep-Alive header named this time-out (seconds).
  virtual void keepAliveSeconds(int seconds) = 0;
  // The head asked for the connection to be closed.
  virtual void connectionClose() = 0;
};

class VLRelayFraming {
 public:
  static constexpr std::size_t kMaxHeadBytes = 65536;

  enum class Kind { Head, HeaderOnly, Length, Chunked, ByteRanges, UntilClose };
  enum class Result {
    NeedMore,  // every byte given was used; the response goes on
    Complete,  // the response ended after `used` bytes; the rest is the next one's
    Interim,   // an interim head ended after `used` bytes; a new part follows
    Failed,    // the bytes do not form a response
  };

  // Starts a new response.
  void begin();
  // Uses bytes from the start of `data`; `used` tells how many.
  Result feed(const char* data, std::size_t length, std::size_t& used, VLRelaySink& sink);
  // The server closed the connection, or no byte came for the relay's whole
  // wait: Complete for a body that runs until the close, Failed otherwise
  // (a body cut off is never passed on as complete).
  Result streamEnded();

  bool headSeen() const { return kind_ != Kind::Head; }
  Kind kind() const { return kind_; }
  int status() const { return status_; }
  bool http10() const { return http10_; }
  // After completion: the server will not send another response on this
  // connection (HTTP/1.0, "Connection: close", or a body ended by the close
  // or by silence), so the connection is to be closed.
  bool endsConnection() const { return endsConnection_; }
  // The browser can see the end of this body only from the close: it runs
  // until the close, or is a multipart/byteranges body without a length
  // (which a reader that does not follow the body parts reads to the close).
  bool endsOnlyByClose() const { return kind_ == Kind::UntilClose || kind_ == Kind::ByteRanges; }

 private:
  enum class Chunk { SizeLine, Data, DataEnd, DataEndCr, Trailer };
  enum class Range { PartHeader, Data, Boundary };

  Result feedHead(const char* data, std::size_t length, std::size_t& used, VLRelaySink& sink);
  // Interprets head_ (complete); sets the framing. May fail.
  bool parseHead(VLRelaySink& sink);
  Result feedChunked(const char* data, std::size_t length, std::size_t& used);
  Result feedRanges(const char* data, std::size_t length, std::size_t& used);
  // Back to reading a head, after an interim one.
  void restartHead();

  Kind kind_ = Kind::Head;
  std::string head_;
  std::size_t scanFrom_ = 0;
  bool methodTaken_ = false;
  std::string method_;
  int status_ = 0;
  bool http10_ = false;
  bool closeHeader_ = false;
  bool endsConnection_ = false;
  bool interim_ = false;
  std::int64_t remaining_ = 0;
  // chunked
  Chunk chunk_ = Chunk::SizeLine;
  std::string line_;
  std::uint64_t due_ = 0;
  std::size_t trailerBytes_ = 0;
  // byte ranges
  Range range_ = Range::PartHeader;
  std::string boundary_;
  std::size_t partHeaderBytes_ = 0;
  bool partHeaderLine_ = false;
  bool rangeFound_ = false;
  std::string expected_;
  std::size_t matched_ = 0;
  std::string suffix_;
};
