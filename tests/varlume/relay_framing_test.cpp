// The framing follower of the relay, fed whole, byte by byte and in odd
// pieces: where each response ends, what reaches the part files, and what is
// left for the next response.
#include "varlume/relay_framing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Result = VLRelayFraming::Result;

class MemorySink : public VLRelaySink {
 public:
  explicit MemorySink(std::string method) : method_(std::move(method)) { parts.emplace_back(); }
  bool writeBytes(const char* data, std::size_t length) override {
    parts.back().append(data, length);
    return true;
  }
  std::string takeMethod() override {
    ++methodsTaken;
    return method_;
  }
  void keepAliveSeconds(int seconds) override { keepAlive = seconds; }
  void connectionClose() override { closed = true; }

  std::vector<std::string> parts;
  int methodsTaken = 0;
  int keepAlive = -1;
  bool closed = false;

 private:
  std::string method_;
};

enum class End { None, Close, Silence };

struct Outcome {
  Result result = Result::NeedMore;
  std::vector<std::string> parts;
  std::string leftover;
  bool endsConnection = false;
};

// Feeds `input` in pieces of `step` bytes (0: whole); Interim opens a new
// part. `end` is what happens when the bytes run out before the end.
Outcome feedAll(const std::string& input, const std::string& method, std::size_t step, End end,
                MemorySink* sinkOut = nullptr) {
  VLRelayFraming framing;
  framing.begin();
  MemorySink sink(method);
  Outcome out;
  std::size_t pos = 0;
  bool done = false;
  while (pos < input.size() && !done) {
    std::size_t piece = step == 0 ? input.size() - pos : std::min(step, input.size() - pos);
    std::size_t offset = 0;
    while (offset < piece) {
      std::size_t used = 0;
      Result r = framing.feed(input.data() + pos + offset, piece - offset, used, sink);
      offset += used;
      if (r == Result::Interim) {
        sink.parts.emplace_back();
        continue;
      }
      if (r == Result::Complete || r == Result::Failed) {
        out.result = r;
        out.leftover = input.substr(pos + offset);
        done = true;
      }
      break;
    }
    pos += piece;
  }
  if (!done) {
    if (end == End::Close || end == End::Silence) out.result = framing.streamEnded();
  }
  out.parts = sink.parts;
  out.endsConnection = framing.endsConnection();
  if (sinkOut != nullptr) *sinkOut = sink;
  return out;
}

struct Case {
  const char* name;
  std::string input;
  std::string method;
  End end;
  Result result;
  std::vector<std::string> parts;
  std::string leftover;
  bool endsConnection;
};

const std::string kOkLength = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n";
const std::string kChunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
const std::string kRangesHead =
    "HTTP/1.1 206 Partial Content\r\nContent-Type: multipart/byteranges; boundary=\"SEP\"; x=1\r\n\r\n";
const std::string kRangesBody =
    "\r\n--SEP\r\nContent-Type: text/plain\r\nContent-Range: bytes 0-4/20\r\n\r\nhello"
    "\r\n--SEP\r\nContent-Range: bytes 10-12/20\r\n\r\nabc\r\n--SEP--";

std::vector<Case> cases() {
  return {
      {"length then next response", kOkLength + "helloHTTP/1.1 200", "GET", End::None,
       Result::Complete, {kOkLength + "hello"}, "HTTP/1.1 200", false},
      {"chunked with extensions and trailers",
       kChunkedHead + "5;ext=\"a b\"\r\nhello\r\n6 \r\n world\r\n0\r\nX-Sum: 1\r\nX-Two: 2\r\n\r\nNEXT",
       "GET", End::None, Result::Complete,
       {kChunkedHead + "5;ext=\"a b\"\r\nhello\r\n6 \r\n world\r\n0\r\nX-Sum: 1\r\nX-Two: 2\r\n\r\n"},
       "NEXT", false},
      {"chunked with bare LF line ends", kChunkedHead + "3\nabc\n0\n\nN", "GET", End::None,
       Result::Complete, {kChunkedHead + "3\nabc\n0\n\n"}, "N", false},
      {"chunked, upper-case hex", kChunkedHead + "A\r\n0123456789\r\n0\r\n\r\n", "GET", End::None,
       Result::Complete, {kChunkedHead + "A\r\n0123456789\r\n0\r\n\r\n"}, "", false},
      // Without a length, a reader that does not follow the body parts reads
      // to the close: the connection ends at the closing boundary.
      {"byte ranges", kRangesHead + kRangesBody + "\r\nHTTP", "GET", End::None, Result::Complete,
       {kRangesHead + kRangesBody}, "\r\nHTTP", true},
      {"byte ranges with a length end by it", kRangesHead.substr(0, kRangesHead.size() - 2) +
           "Content-Length: 3\r\n\r\nabcX", "GET", End::None, Result::Complete,
       {kRangesHead.substr(0, kRangesHead.size() - 2) + "Content-Length: 3\r\n\r\nabc"}, "X", false},
      {"chunked after content codings, several lines, any case",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\ntransfer-encoding: x-gzip ,, Chunked\r\n\r\n"
       "1\r\na\r\n0\r\n\r\nN", "GET", End::None, Result::Complete,
       {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\ntransfer-encoding: x-gzip ,, Chunked\r\n\r\n"
        "1\r\na\r\n0\r\n\r\n"}, "N", false},
      {"one length repeated", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\ncontent-length:2 \r\n\r\nabN",
       "GET", End::None, Result::Complete,
       {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\ncontent-length:2 \r\n\r\nab"}, "N", false},
      {"HTTP/1.0 until close", "HTTP/1.0 200 OK\r\nContent-Type: a\r\n\r\nbody bytes", "GET",
       End::Close, Result::Complete, {"HTTP/1.0 200 OK\r\nContent-Type: a\r\n\r\nbody bytes"}, "",
       true},
      {"HTTP/1.0 with a length closes after it", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nabXX",
       "GET", End::None, Result::Complete, {"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nab"}, "XX",
       true},
      {"HTTP/1.1 without a length runs until close", "HTTP/1.1 200 OK\r\nServer: s\r\n\r\nabc",
       "GET", End::Close, Result::Complete, {"HTTP/1.1 200 OK\r\nServer: s\r\n\r\nabc"}, "", true},
      {"... and is complete after the silence", "HTTP/1.1 200 OK\r\n\r\nabc", "GET", End::Silence,
       Result::Complete, {"HTTP/1.1 200 OK\r\n\r\nabc"}, "", true},
      {"100 Continue then 200",
       "HTTP/1.1 100 continue\r\nX: y\r\n\r\n" + kOkLength + "hello", "POST", End::None,
       Result::Complete, {"HTTP/1.1 100 Continue\r\n\r\n", kOkLength + "hello"}, "", false},
      {"103 Early Hints then 200", "HTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n" + kOkLength + "hello",
       "GET", End::None, Result::Complete,
       {"HTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n", kOkLength + "hello"}, "", false},
      {"HEAD ends at the head", "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\nHTTP/1.1 304", "head",
       End::None, Result::Complete, {"HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n"},
       "HTTP/1.1 304", false},
      {"304 has no body", "HTTP/1.1 304 Not Modified\r\nContent-Length: 9\r\n\r\nX", "GET", End::None,
       Result::Complete, {"HTTP/1.1 304 Not Modified\r\nContent-Length: 9\r\n\r\n"}, "X", false},
      {"204 has no body", "HTTP/1.1 204 No Content\r\n\r\n", "GET", End::None, Result::Complete,
       {"HTTP/1.1 204 No Content\r\n\r\n"}, "", false},
      {"zero length", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\nX", "GET", End::None,
       Result::Complete, {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}, "X", false},
      {"empty lines before the status line are dropped", "\r\n\r\n" + kOkLength + "hello", "GET",
       End::None, Result::Complete, {kOkLength + "hello"}, "", false},
      {"bare LF head: the earliest end counts", "HTTP/1.1 200 OK\nContent-Length: 4\n\nab\r\n", "GET",
       End::None, Result::Complete, {"HTTP/1.1 200 OK\nContent-Length: 4\n\nab\r\n"}, "", false},
      {"a header name inside another is no length",
       "HTTP/1.1 200 OK\r\nX-Original-Content-Length: 1\r\n\r\nabc", "GET", End::Close,
       Result::Complete, {"HTTP/1.1 200 OK\r\nX-Original-Content-Length: 1\r\n\r\nabc"}, "", true},
      {"close on another line is no Connection: close",
       "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nX-Note: close\r\nContent-Length: 1\r\n\r\na", "GET",
       End::None, Result::Complete,
       {"HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nX-Note: close\r\nContent-Length: 1\r\n\r\na"}, "",
       false},
      {"Connection: close ends the connection after the length",
       "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 1\r\n\r\na", "GET", End::None,
       Result::Complete, {"HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 1\r\n\r\na"}, "", true},
      {"close before the head is complete", "HTTP/1.1 200 OK\r\nContent-", "GET", End::Close,
       Result::Failed, {"" }, "", false},
      {"close inside a length body", kOkLength + "he", "GET", End::Close, Result::Failed,
       {kOkLength + "he"}, "", false},
      // A body cut off is never made to look complete.
      {"close between chunks fails", kChunkedHead + "3\r\nabc\r\n", "GET", End::Close,
       Result::Failed, {kChunkedHead + "3\r\nabc\r\n"}, "", false},
      {"silence right after chunk data fails", kChunkedHead + "3\r\nabc", "GET", End::Silence,
       Result::Failed, {kChunkedHead + "3\r\nabc"}, "", false},
      {"close inside chunk data", kChunkedHead + "9\r\nabc", "GET", End::Close, Result::Failed,
       {kChunkedHead + "9\r\nabc"}, "", false},
  };
}

// Failures: the bytes that do not form a response.
std::vector<std::string> failures() {
  return {
      "FTP/1.0 200 OK\r\n\r\n",
      "HTTP/1.1 2x0 OK\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Length: 12abc\r\n\r\n",
      "HTTP/1.1 200 OK\r\nContent-Length: \r\n\r\n",
      kChunkedHead + "zz\r\n",
      kChunkedHead + "1a2b3c4d5e6f708192\r\n",  // more than 16 hex digits
      kChunkedHead + "\r\n",
      kRangesHead + "--SEP\r\nContent-Range: bytes 9-3/20\r\n\r\n",
      kRangesHead + "--SEP\r\nContent-Type: a\r\n\r\n",
      kRangesHead + "--SEP\r\nContent-Range: bytes 0-1/2\r\n\r\nab\r\n--XYZ--",
  };
}

TEST(RelayFraming, EndsEachResponseWhereItsFramingSays) {
  for (const Case& c : cases()) {
    for (std::size_t step : {std::size_t{0}, std::size_t{1}, std::size_t{3}, std::size_t{7}}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(step));
      Outcome out = feedAll(c.input, c.method, step, c.end);
      EXPECT_EQ(out.result, c.result);
      EXPECT_EQ(out.parts, c.parts);
      if (c.result == Result::Complete) {
        EXPECT_EQ(out.leftover, c.leftover);
        EXPECT_EQ(out.endsConnection, c.endsConnection);
      }
    }
  }
}

TEST(RelayFraming, RejectsBytesThatAreNoResponse) {
  for (const std::string& input : failures()) {
    for (std::size_t step : {std::size_t{0}, std::size_t{1}}) {
      SCOPED_TRACE(input);
      EXPECT_EQ(feedAll(input, "GET", step, End::Close).result, Result::Failed);
    }
  }
}

// A chunk size that a signed 64-bit reader would take for another fails at
// its size line, before any of its data is passed on.
TEST(RelayFraming, ChunkSizesOfTwoToTheSixtyThirdFailAtTheirSizeLine) {
  for (const char* size : {"8000000000000000", "FFFFFFFFFFFFFFFF", "c000000000000001"}) {
    SCOPED_TRACE(size);
    EXPECT_EQ(feedAll(kChunkedHead + size + "\r\nabc", "GET", 0, End::None).result, Result::Failed);
  }
  EXPECT_EQ(feedAll(kChunkedHead + "7fffffffffffffff\r\nabc", "GET", 0, End::None).result,
            Result::NeedMore);
}

// Heads whose framing two readers could take apart: each is refused before
// any byte of it reaches a part, whatever follows it.
struct Ambiguous {
  const char* name;
  std::string head;
};

std::vector<Ambiguous> ambiguousHeads() {
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  return {
      {"a coding that merely contains chunked", ok + "Transfer-Encoding: xchunked\r\nContent-Length: 5\r\n\r\n"},
      {"xchunked alone", ok + "Transfer-Encoding: xchunked\r\n\r\n"},
      {"chunked with a length", ok + "Content-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n"},
      {"chunked not last", ok + "Transfer-Encoding: chunked, gzip\r\n\r\n"},
      {"chunked twice", ok + "Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n\r\n"},
      {"an unknown coding before chunked", ok + "Transfer-Encoding: foo, chunked\r\n\r\n"},
      {"chunked with a parameter", ok + "Transfer-Encoding: chunked;x=1\r\n\r\n"},
      {"a coding without chunked", ok + "Transfer-Encoding: gzip\r\n\r\n"},
      {"an empty Transfer-Encoding", ok + "Transfer-Encoding:\r\nContent-Length: 5\r\n\r\n"},
      {"Transfer-Encoding in HTTP/1.0", "HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"},
      {"differing lengths", ok + "Content-Length: 5\r\nContent-Length: 50\r\n\r\n"},
      {"a list of lengths", ok + "Content-Length: 5, 5\r\n\r\n"},
      {"a folded line", ok + "X-A: 1\r\n Transfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n"},
      {"a folded line by a tab", ok + "X-A: 1\r\n\tContent-Length: 9\r\nContent-Length: 5\r\n\r\n"},
      {"a line folded onto the status line", ok + " Content-Length: 9\r\n\r\n"},
      {"a line without a colon", ok + "Content-Length: 5\r\nTransfer-Encoding chunked\r\n\r\n"},
      {"a blank before the colon", ok + "Transfer-Encoding : chunked\r\nContent-Length: 5\r\n\r\n"},
      {"an empty field name", ok + ": chunked\r\n\r\n"},
      {"a bare CR", ok + "X-A: 1\rTransfer-Encoding: chunked\r\nContent-Length: 5\r\n\r\n"},
      {"a NUL", ok + "X-A: 1\0Content-Length: 9\r\nContent-Length: 5\r\n\r\n"},
      {"an interim head with a folded line", "HTTP/1.1 103 Early Hints\r\nLink: </a>\r\n x: y\r\n\r\n"},
  };
}

TEST(RelayFraming, RefusesHeadsWhoseFramingTwoReadersCouldTakeApart) {
  const std::string after = "5\r\nhello\r\n0\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nFORGED";
  for (const Ambiguous& c : ambiguousHeads()) {
    for (const char* method : {"GET", "HEAD"}) {
      for (std::size_t step : {std::size_t{0}, std::size_t{1}}) {
        SCOPED_TRACE(std::string(c.name) + ", " + method + ", pieces of " + std::to_string(step));
        Outcome out = feedAll(c.head + after, method, step, End::Close);
        EXPECT_EQ(out.result, Result::Failed);
        EXPECT_EQ(out.parts, std::vector<std::string>{""});
      }
    }
  }
}

TEST(RelayFraming, HeadsAndSizeLinesAreBounded) {
  std::string longHead = "HTTP/1.1 200 OK\r\nX: " + std::string(70000, 'a');
  EXPECT_EQ(feedAll(longHead, "GET", 4096, End::None).result, Result::Failed);
  std::string longSize = kChunkedHead + std::string(70000, '0');
  EXPECT_EQ(feedAll(longSize, "GET", 4096, End::None).result, Result::Failed);
  std::string longTrailer = kChunkedHead + "0\r\nX: " + std::string(70000, 'a');
  EXPECT_EQ(feedAll(longTrailer, "GET", 4096, End::None).result, Result::Failed);
}

TEST(RelayFraming, LargeLengthsUseSixtyFourBits) {
  std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 5000000000\r\n\r\n";
  VLRelayFraming framing;
  framing.begin();
  MemorySink sink("GET");
  std::size_t used = 0;
  EXPECT_EQ(framing.feed(head.data(), head.size(), used, sink), Result::NeedMore);
  EXPECT_EQ(used, head.size());
  EXPECT_EQ(framing.kind(), VLRelayFraming::Kind::Length);
  std::string chunked = kChunkedHead + "FFFFFFFFF\r\nabc";
  framing.begin();
  EXPECT_EQ(framing.feed(chunked.data(), chunked.size(), used, sink), Result::NeedMore);
}

TEST(RelayFraming, HeadersReachTheClientOncePerResponse) {
  MemorySink sink("x");
  feedAll("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nKeep-Alive: timeout=15, max=9\r\n"
          "Content-Length: 0\r\n\r\n",
          "GET", 1, End::None, &sink);
  EXPECT_EQ(sink.methodsTaken, 1);  // the interim head takes no method
  EXPECT_EQ(sink.keepAlive, 15);
  EXPECT_FALSE(sink.closed);
  feedAll("HTTP/1.1 200 OK\r\nconnection: Close\r\nContent-Length: 0\r\n\r\n", "GET", 0, End::None,
          &sink);
  EXPECT_TRUE(sink.closed);
}

}  // namespace
