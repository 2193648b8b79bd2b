// Reading a request head byte by byte: the limits that end a connection and
// the lines that never pass.
#include <gtest/gtest.h>

#include <string>

#include "varlume/request_intake.h"

namespace {

VLRequestHead::Status feed(VLRequestHead& head, const std::string& bytes) {
  VLRequestHead::Status status = VLRequestHead::kNeedMore;
  for (char byte : bytes) {
    status = head.addByte(byte);
    if (status != VLRequestHead::kNeedMore) break;
  }
  return status;
}

TEST(RequestHead, KeepsLineEndsDropsSubHomeLinesLastHostWins) {
  VLRequestHead head;
  ASSERT_EQ(feed(head, "GET / HTTP/1.1\r\nHost: a\r\nVARLUMESUBDOMAINHOME:x\r\n"
                       "VarlumeSubDomainCommonHome: y\nhost: b\n\n"),
            VLRequestHead::kComplete);
  ASSERT_EQ(head.lines.size(), 4u);
  EXPECT_EQ(head.lines[0], "GET / HTTP/1.1\r\n");
  EXPECT_EQ(head.lines[1], "Host: a\r\n");
  EXPECT_EQ(head.lines[2], "host: b\n");
  EXPECT_EQ(head.lines[3], "\n");
  EXPECT_EQ(head.hostIndex, 2u);
}

TEST(RequestHead, EmptyLinesBeforeTheRequestLineAreSkipped) {
  VLRequestHead head;
  ASSERT_EQ(feed(head, "\r\n\nGET / HTTP/1.1\r\n\r\n"), VLRequestHead::kComplete);
  ASSERT_EQ(head.lines.size(), 2u);
  EXPECT_EQ(head.lines[0], "GET / HTTP/1.1\r\n");
}

// Lines that a server behind the proxy could split or join otherwise than
// the proxy: a control byte other than tab (a zero byte, a CR anywhere but
// before the final LF) in any line, and header lines that are no name
// directly followed by ":".
TEST(RequestHead, LinesThatServersCouldReadOtherwiseAreMalformed) {
  const std::string malformed[] = {
      std::string("GET / HTTP/1.1\r\nX: a\0b\r\n\r\n", 27),
      std::string("GET / HTTP/1.1\r\nHost: a\r\n\r\0\nGET /smuggled HTTP/1.1\r\n\r\n", 54),
      std::string("GET / HTTP/1.1\r\n\0\r\n", 19),
      std::string("GET /\0 HTTP/1.1\r\n\r\n", 19),
      "GET / HTTP/1.1\rHost: a\r\n\r\n",
      "GET / HTTP/1.1\r\nX: a\rHost: b\r\n\r\n",
      "GET / HTTP/1.1\r\nX: a\r\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: a\r\n\r\r\n",
      "GET / HTTP/1.1\r\nContent-Length : 5\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: a\r\n Transfer-Encoding: chunked\r\n\r\n",
      "GET / HTTP/1.1\r\n: a\r\n\r\n",
      "GET / HTTP/1.1\r\nno colon\r\n\r\n",
      "GET / HTTP/1.1\r\nX(y): a\r\n\r\n",
      "GET / HTTP/1.1\r\nContent-Length:\x0b" "5\r\n\r\n",
      "GET / HTTP/1.1\r\nX: a\x7f\r\n\r\n",
      "GET /\x0c HTTP/1.1\r\n\r\n",
  };
  for (const std::string& bytes : malformed) {
    VLRequestHead head;
    EXPECT_EQ(feed(head, bytes), VLRequestHead::kMalformed) << bytes;
  }
  VLRequestHead plain;
  EXPECT_EQ(feed(plain, "GET / HTTP/1.1\r\nX-A_b.c~1!: a:b\tc\r\nY:\n\n"), VLRequestHead::kComplete);
  ASSERT_EQ(plain.lines.size(), 4u);
  EXPECT_EQ(plain.upperLines[1], "X-A_B.C~1!: A:B\tC\r\n");
}

TEST(RequestHead, LimitsRefuseTheHead) {
  std::string hundredLines = "GET / HTTP/1.1\r\n";
  for (int i = 1; i < 100; ++i) hundredLines += "X: 1\r\n";
  VLRequestHead atLimit;
  EXPECT_EQ(feed(atLimit, hundredLines), VLRequestHead::kNeedMore);  // 100 stored, no end yet
  EXPECT_EQ(feed(atLimit, "\r\n"), VLRequestHead::kRefused);         // the 101st line

  VLRequestHead longLine;
  EXPECT_EQ(feed(longLine, "GET /" + std::string(VLRequestHead::kMaxLineBytes, 'a')),
            VLRequestHead::kRefused);

  VLRequestHead fits;
  EXPECT_EQ(feed(fits, "GET /" + std::string(VLRequestHead::kMaxLineBytes - 9, 'a') +
                           " H\r\n\r\n"),
            VLRequestHead::kComplete);
}

}  // namespace
