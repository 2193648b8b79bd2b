// The /GETEVENT answer: rows split by position, the longest path chosen,
// the target completed, and a body that can never add a header line.
#include "varlumeevent/event_answer.h"

#include <gtest/gtest.h>

#include "varlumeevent/sql_literal.h"

namespace {

TEST(EventAnswer, SplitsRowLinesByPosition) {
  VLEventRow row;
  std::vector<std::string> found;
  EXPECT_EQ(splitEventRow("Path=/a=b*&Action=/x=y&ActionParams=p=1", row, found), 0);
  EXPECT_EQ(row.path, "/a=b");
  EXPECT_EQ(row.action, "/x=y");
  EXPECT_EQ(row.params, "p=1");
  EXPECT_EQ(found, (std::vector<std::string>{"/a=b*", "/x=y", "p=1"}));

  EXPECT_EQ(splitEventRow("Path=***&Action=a&ActionParams=", row, found), 0);
  EXPECT_EQ(row.path, "");

  EXPECT_EQ(splitEventRow("no separators", row, found), 1);
  EXPECT_EQ(splitEventRow("&Path=a", row, found), 1);
  EXPECT_EQ(splitEventRow("Path=a&Action", row, found), 2);
  EXPECT_EQ(found, (std::vector<std::string>{"a"}));
  EXPECT_EQ(splitEventRow("Path=a&Action=b", row, found), 2);
  EXPECT_EQ(splitEventRow("Path=a&Action=b&Params", row, found), 3);
}

TEST(EventAnswer, LongestPathWinsAndTheFirstOnATie) {
  VLEventChoice choice("/a");
  EXPECT_FALSE(choice.found());
  EXPECT_TRUE(choice.offer({"", "star", ""}));
  EXPECT_EQ(choice.chosen().action, "star");
  // A row of the requested path itself ends the choice: nothing after it is read.
  EXPECT_FALSE(choice.offer({"/a", "first", ""}));
  EXPECT_FALSE(choice.offer({"/a", "second", ""}));
  EXPECT_EQ(choice.chosen().action, "first");

  VLEventChoice starOnly("/a");
  EXPECT_TRUE(starOnly.offer({"", "star", ""}));
  EXPECT_TRUE(starOnly.found());
  EXPECT_EQ(starOnly.chosen().action, "star");

  // The requested path's own stars do not count: "/a*" and "/a**" both strip to "/a".
  VLEventChoice starred("/a*");
  EXPECT_FALSE(starred.offer({"/a", "stripped", ""}));
  // An empty path is as long as any match can be.
  EXPECT_FALSE(VLEventChoice("").offer({"", "star", ""}));
  EXPECT_FALSE(VLEventChoice("*").offer({"", "star", ""}));
}

TEST(EventAnswer, TargetOfTheAction) {
  EXPECT_EQ(eventTarget("/x/page", "/p"), "/x/page");
  EXPECT_EQ(eventTarget("/x/*", "/p"), "/x/p");
  EXPECT_EQ(eventTarget("/x//***", "/p"), "/x//p");
  EXPECT_EQ(eventTarget("/x**", "/p"), "/x/p");
  EXPECT_EQ(eventTarget("*", "/p"), "/p");
}

TEST(EventAnswer, BodyHoldsNoControlByte) {
  // An escaped zero byte does not cut the decoded parameters.
  EXPECT_EQ(eventAnswerBody({"/a", "/t", "x%0D%0Ay%00z"}, "/a"), "/t?x%0D%0Ay%00z");
  EXPECT_EQ(eventAnswerBody({"/a", "/t", "a%3D1%26b=%41"}, "/a"), "/t?a=1&b=A");
  EXPECT_EQ(eventAnswerBody({"/a", "/t\r\nHost: x*", ""}, "/p\t"), "/t%0D%0AHost: x/p%09?");
  EXPECT_EQ(decodeKeepingZeros("a%00b"), std::string("a\0b", 3));
}

TEST(SqlLiteral, DoublesEveryQuote) {
  EXPECT_EQ(sqlLiteral(""), "''");
  EXPECT_EQ(sqlLiteral("plain"), "'plain'");
  EXPECT_EQ(sqlLiteral("O'Brien"), "'O''Brien'");
  EXPECT_EQ(sqlLiteral("x' OR '1'='1"), "'x'' OR ''1''=''1'");
  EXPECT_EQ(sqlLiteral("''"), "''''''");
}

}  // namespace
