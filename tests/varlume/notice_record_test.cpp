// The 12-byte notices, the part-file names and the request record.
#include <gtest/gtest.h>

#include "varlume/notice.h"
#include "varlume/part_files.h"
#include "varlume/request_record.h"

namespace {

TEST(Notice, FormatAndCheck) {
  EXPECT_EQ(formatNotice(7, VLNoticeKind::Complete), "00000007 1 0");
  EXPECT_EQ(formatNotice(99999999, VLNoticeKind::Part), "99999999 1 +");
  EXPECT_EQ(formatNotice(42, VLNoticeKind::NoResponse), "00000042 1 1");
  EXPECT_EQ(formatNotice(0, VLNoticeKind::Complete), "");
  EXPECT_EQ(formatNotice(100000000, VLNoticeKind::Complete), "");

  struct Case {
    const char* text;
    bool valid;
    int id;
    char kind;
  };
  const Case cases[] = {
      {"00000007 1 0", true, 7, '0'},   {"12345678 1 +", true, 12345678, '+'},
      {"00000001 1 1", true, 1, '1'},   {"00000000 1 0", false, 0, 0},
      {"0000000x 1 0", false, 0, 0},    {"-0000001 1 0", false, 0, 0},
      {"00000007 2 0", false, 0, 0},    {"00000007 1 2", false, 0, 0},
      {"00000007_1 0", false, 0, 0},    {"00000007 1  ", false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    VLNotice n;
    ASSERT_EQ(parseNotice(c.text, n), c.valid);
    if (c.valid) {
      EXPECT_EQ(n.id, c.id);
      EXPECT_EQ(static_cast<char>(n.kind), c.kind);
    }
  }
}

TEST(PartFiles, Names) {
  EXPECT_EQ(partFileName(42, 0), "vl42_0.tmp");
  EXPECT_EQ(partFilePath("\\t\\Temp\\", 42, 11), "\\t\\Temp\\vl42_11.tmp");
  EXPECT_EQ(partFilePath("\\t\\Temp", 1, 0), "\\t\\Temp/vl1_0.tmp");
  // The proxy's own page never shares a name with a part the relay writes.
  EXPECT_EQ(messageFilePath("\\T\\", 42), "\\T\\vl42_msg.tmp");
}

TEST(RequestRecord, FreshRecordsAndTheCacheFlag) {
  VLRequestRecord fresh;
  EXPECT_TRUE(fresh.isFree());
  EXPECT_EQ(fresh.getId(), 0);
  EXPECT_FALSE(fresh.getReady());
  VLRequestRecord record(5);
  EXPECT_FALSE(record.isFree());
  record.setReady(true);
  record.setNoResponse(true);
  record.setFromCache(true);
  EXPECT_TRUE(record.getReady());
  EXPECT_FALSE(record.getNoResponse());
  record.setHost("h");
  VLRequestRecord copy = record;
  EXPECT_EQ(copy.getHost(), "h");
  EXPECT_TRUE(copy.getFromCache());
  copy.clear();
  EXPECT_TRUE(copy.isFree());
  EXPECT_EQ(copy.getHost(), "");
  EXPECT_FALSE(copy.getFromCache());
  // Setting the flag off leaves readiness as it was.
  VLRequestRecord other(6);
  other.setFromCache(false);
  EXPECT_FALSE(other.getReady());
}

}  // namespace
