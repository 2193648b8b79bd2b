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

TEST(RequestHead, AZeroByteCutsTheLine) {
  VLRequestHead head;
  ASSERT_EQ(feed(head, std::string("GET / HTTP/1.1\r\nX: a\0b\r\n\r\n", 27)),
            VLRequestHead::kComplete);
  EXPECT_EQ(head.lines[1], "X: a");
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

  VLRequestHead nulLine;
  EXPECT_EQ(feed(nulLine, std::string("GET / HTTP/1.1\r\n\0\r\n", 19)), VLRequestHead::kRefused);

  VLRequestHead fits;
  EXPECT_EQ(feed(fits, "GET /" + std::string(VLRequestHead::kMaxLineBytes - 9, 'a') +
                           " H\r\n\r\n"),
            VLRequestHead::kComplete);
}

}  // namespace
