// Ordered delivery: a VLResponder with a loopback "browser" and notice
// connections driven by the test, which writes the part files itself.
#include "varlume/responder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <string>

#include "foundation/object.h"
#include "relay_support.h"
#include "support/case_name.h"
#include "varlume/notice.h"

namespace {

std::string notice(int id, char kind) { return formatNotice(id, static_cast<VLNoticeKind>(kind)); }

class Delivery {
 public:
  static constexpr const char* kKey = "0123456789abcdef0123456789abcdef";
  Delivery() {
    responder.setNoticeKey(kKey);
    responder.setBrowserSocket(browser.far);
    addNoticeConnection();
  }
  ~Delivery() {
    responder.stop();
    for (int i = 0; i < 500 && responder.bodyActive() > 0; ++i) VLObject::sleepFor(0, 10000);
    responder.closeNotifiers();
  }
  // A new notice connection handed to the responder, its key sent unless
  // it is to be a stranger's; returns the test's end.
  platform::Socket addNoticeConnection(bool keyed = true) {
    noticePairs.push_back(std::make_unique<VLTestPair>());
    EXPECT_TRUE(responder.addNotifier(noticePairs.back()->far));
    if (keyed) sendText(noticePairs.back()->near, kKey);
    return noticePairs.back()->near;
  }
  void part(int id, int k, const std::string& bytes, char kind) {
    scratch.write("vl" + std::to_string(id) + "_" + std::to_string(k) + ".tmp", bytes);
    sendText(noticePairs.front()->near, notice(id, kind));
  }
  void enqueue(int id) { responder.enqueue(id, false, "site.example", "/p", "", false, false); }
  // What the browser received: exactly `count` bytes (5 s at most).
  std::string browserGot(std::size_t count) { return receiveUpTo(browser.near, count); }
  // Bytes that arrive within a short look.
  std::string browserExtra() { return receiveUpTo(browser.near, 1, 200); }
  bool waitIdle() {
    for (int i = 0; i < 500; ++i) {
      if (responder.isIdle()) return true;
      VLObject::sleepFor(0, 10000);
    }
    return false;
  }

  VLRelayScratch scratch;
  VLTestPair browser;
  std::vector<std::unique_ptr<VLTestPair>> noticePairs;
  VLResponder responder;
};

TEST(Responder, DeliversInRequestOrderAndStreamsTheHeadsParts) {
  Delivery d;
  d.enqueue(1);
  d.enqueue(2);
  ASSERT_TRUE(d.responder.startUnlessRunning());
  d.part(2, 0, "B-all", '0');  // the later answer is complete first
  EXPECT_EQ(d.browserExtra(), "");
  d.part(1, 0, "A-part0|", '+');
  EXPECT_EQ(d.browserGot(8), "A-part0|");  // streamed before A is complete
  d.part(1, 1, "A-part1", '0');
  EXPECT_EQ(d.browserGot(12), "A-part1B-all");
  EXPECT_TRUE(d.waitIdle());
  EXPECT_EQ(d.scratch.names(), std::vector<std::string>{});  // every part deleted
}

TEST(Responder, PartsAnnouncedBeforeARecordBecomesHeadAreNotSkipped) {
  Delivery d;
  d.enqueue(1);
  d.enqueue(2);
  ASSERT_TRUE(d.responder.startUnlessRunning());
  d.part(2, 0, "b0", '+');
  d.part(2, 1, "b1", '+');
  d.part(1, 0, "a", '0');
  EXPECT_EQ(d.browserGot(5), "ab0b1");
  d.part(2, 2, "b2", '0');
  EXPECT_EQ(d.browserGot(2), "b2");
  EXPECT_EQ(d.browserExtra(), "");
}

TEST(Responder, OwnPagesTakeTheirPlaceInTheOrderAndCarryALength) {
  Delivery d;
  d.enqueue(3);
  d.responder.enqueueMessage(4, "site.example", "/x", "Bad request.");
  d.enqueue(5);
  ASSERT_TRUE(d.responder.startUnlessRunning());
  d.part(5, 0, "five", '1');  // the relay gave up on 5
  d.part(3, 0, "three", '0');
  std::string got = d.browserGot(5);
  EXPECT_EQ(got, "three");
  std::string pages;
  for (int i = 0; i < 2; ++i) {
    std::string page;
    while (page.find("\r\n\r\n") == std::string::npos) {
      std::string byte = d.browserGot(1);
      if (byte.empty()) break;
      page += byte;
    }
    pages += page;
  }
  std::regex page(
      "HTTP/1\\.1 500 (Bad request\\.|No response from server\\.)\r\n"
      "Date: (Sun|Mon|Tue|Wed|Thu|Fri|Sat), [0-9]{2} "
      "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} GMT\r\n"
      "Server: Varlume Release 1\\.00\\.00 Linux\\.\r\n"
      "Content-Type: text/html\r\n"
      "Connection: Keep-Alive\r\n"
      "Keep-Alive: timeout=100, max=1000\r\n"
      "Content-Length: 0\r\n\r\n");
  std::size_t split = pages.find("\r\n\r\n") + 4;
  EXPECT_TRUE(std::regex_match(pages.substr(0, split), page)) << pages;
  EXPECT_NE(pages.find("500 Bad request."), std::string::npos);
  EXPECT_TRUE(std::regex_match(pages.substr(split), page)) << pages;
  EXPECT_NE(pages.find("500 No response from server."), std::string::npos);
  EXPECT_TRUE(d.waitIdle());
  EXPECT_EQ(d.scratch.names(), std::vector<std::string>{});
}

TEST(Responder, NoticesAreCheckedBeforeUse) {
  Delivery d;
  d.enqueue(6);
  ASSERT_TRUE(d.responder.startUnlessRunning());
  platform::Socket rogue = d.addNoticeConnection();
  sendText(rogue, "00000000 1 0");  // id 0 would match a free slot
  EXPECT_EQ(receiveUpTo(rogue, 1), "");  // the responder closed that connection
  platform::Socket other = d.addNoticeConnection();
  sendText(other, "00000099 1 0");  // a request this connection never queued
  sendText(other, "0000x006 1 0");
  EXPECT_EQ(receiveUpTo(other, 1), "");
  EXPECT_EQ(d.responder.pendingCount(), 1);
  // A good notice arriving in two pieces still counts.
  d.scratch.write("vl6_0.tmp", "six");
  platform::Socket split = d.addNoticeConnection();
  sendText(split, notice(6, '0').substr(0, 5));
  VLObject::sleepFor(0, 50000);
  sendText(split, notice(6, '0').substr(5));
  EXPECT_EQ(d.browserGot(3), "six");
}

TEST(Responder, AFailureAfterPartOfTheBodyClosesTheBrowserConnection) {
  Delivery d;
  d.enqueue(7);
  d.enqueue(8);
  ASSERT_TRUE(d.responder.startUnlessRunning());
  d.part(7, 0, "partial", '+');
  EXPECT_EQ(d.browserGot(7), "partial");
  d.scratch.write("vl7_1.tmp", "unannounced");
  d.part(7, 1, "", '1');
  // No page is appended to the partial body: the browser sees the close.
  EXPECT_EQ(d.browserGot(100), "");
  EXPECT_EQ(d.responder.browserSocket(), platform::kInvalidSocket);
  EXPECT_FALSE(d.scratch.exists("vl7_1.tmp"));
}

// The browser left before its answers were sent: what the relays wrote for
// it, announced or not, goes with the connection.
TEST(Responder, PartsOfUndeliveredRequestsAreRemovedAtTheEnd) {
  Delivery d;
  d.enqueue(13);
  d.enqueue(14);
  ASSERT_TRUE(d.responder.startUnlessRunning());
  d.part(13, 0, "thirteen", '+');
  EXPECT_EQ(d.browserGot(8), "thirteen");
  d.scratch.write("vl13_1.tmp", "announced later");
  d.scratch.write("vl13_2.tmp", "still open");
  d.part(14, 0, "fourteen", '0');
  d.responder.stop();
  for (int i = 0; i < 500 && d.responder.bodyActive() > 0; ++i) VLObject::sleepFor(0, 10000);
  d.responder.removeUndelivered();
  EXPECT_EQ(d.scratch.names(), std::vector<std::string>{});
}

// A connection that ends right after its first request stops the thread
// before it began: the next request must still find it startable.
TEST(Responder, AStopBeforeTheThreadBeganLeavesItStartable) {
  Delivery d;
  for (int round = 0; round < 100; ++round) {
    d.responder.resetQueue();
    d.responder.enqueueMessage(round + 1, "site.example", "/x", "Bad request.");
    ASSERT_TRUE(d.responder.startUnlessRunning());
    d.responder.stop();
    for (int i = 0; i < 500 && d.responder.bodyActive() > 0; ++i) VLObject::sleepFor(0, 1000);
    ASSERT_FALSE(d.responder.isRunning()) << "round " << round;
  }
}

TEST(Responder, ANoticeConnectionAddedDuringTheWaitIsHeardAtOnce) {
  Delivery d;
  d.enqueue(9);
  ASSERT_TRUE(d.responder.startUnlessRunning());
  VLObject::sleepFor(0, 200000);  // the thread is waiting now
  platform::Socket late = d.addNoticeConnection();
  d.scratch.write("vl9_0.tmp", "nine");
  sendText(late, notice(9, '0'));
  // Well within the responder's 10-second wait.
  EXPECT_EQ(receiveUpTo(d.browser.near, 4, 3000), "nine");
}

TEST(Responder, ACachedCopyIsSentAndKept) {
  Delivery d;
  d.scratch.write("cached.resp", "from the cache");
  std::string path = tempPath + "cached.resp";
  d.responder.enqueue(10, false, "site.example", "/c.gif", path, true, false);
  ASSERT_TRUE(d.responder.startUnlessRunning());
  EXPECT_EQ(d.browserGot(14), "from the cache");
  EXPECT_TRUE(d.waitIdle());
  EXPECT_TRUE(d.scratch.exists("cached.resp"));
}

TEST(Responder, ABrowserThatStopsReadingStallsNoOtherConnection) {
  Delivery stalled;
  Delivery lively;
  stalled.enqueue(11);
  lively.enqueue(12);
  ASSERT_TRUE(stalled.responder.startUnlessRunning());
  ASSERT_TRUE(lively.responder.startUnlessRunning());
  // Far more than the socket buffers hold; nobody reads it.
  stalled.part(11, 0, std::string(32 * 1024 * 1024, 's'), '0');
  VLObject::sleepFor(0, 300000);
  lively.part(12, 0, "twelve", '0');
  EXPECT_EQ(receiveUpTo(lively.browser.near, 6, 5000), "twelve");
  // Let the stalled one go: its browser leaves.
  platform::closeSocket(stalled.browser.near);
}

// A copy removed between its hit and its turn still gets an answer, in its
// place; the answer after it follows.
TEST(Responder, AVanishedCachedCopyIsAnsweredInItsPlace) {
  Delivery d;
  d.responder.enqueue(20, false, "site.example", "/c.gif", tempPath + "gone.resp", true, false);
  d.enqueue(21);
  ASSERT_TRUE(d.responder.startUnlessRunning());
  d.part(21, 0, "twenty-one", '0');
  const std::string expected = "HTTP/1.1 500 No response from server.\r\n";
  EXPECT_EQ(d.browserGot(expected.size()), expected);
  const std::string rest = receiveUpTo(d.browser.near, 1000, 1000);
  EXPECT_EQ(rest.substr(rest.size() - 10), "twenty-one");
}

// Streamed parts of a response for the cache are kept for the store, which
// copies the whole response once it is complete; every part goes in the end,
// also when the record ends without its response or is never delivered.
TEST(Responder, PartsKeptForTheStoreAreDeletedOnceWhateverTheEnd) {
  Delivery d;
  const std::string copy = tempPath + "copy.gif";
  d.responder.enqueue(22, false, "site.example", "/copy.gif", copy, false, true);
  d.responder.enqueue(23, false, "site.example", "/cut.gif", tempPath + "cut.gif", false, true);
  d.responder.enqueue(24, false, "site.example", "/left.gif", tempPath + "left.gif", false, true);
  d.responder.enqueue(25, true, "site.example", "/mirror.html", "", false, false);
  ASSERT_TRUE(d.responder.startUnlessRunning());
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n";
  d.part(22, 0, head + "ab", '+');
  EXPECT_EQ(d.browserGot(head.size() + 2), head + "ab");
  d.part(22, 1, "cd", '0');
  EXPECT_EQ(d.browserGot(2), "cd");
  d.part(23, 0, head + "a", '+');
  EXPECT_EQ(d.browserGot(head.size() + 1), head + "a");
  d.part(23, 1, "", '1');  // the relay failed: the browser sees the close
  d.part(24, 0, head + "x", '+');
  d.part(25, 0, head + "mirror", '+');
  d.responder.stop();
  for (int i = 0; i < 500 && d.responder.bodyActive() > 0; ++i) VLObject::sleepFor(0, 10000);
  d.responder.removeUndelivered();
  EXPECT_EQ(d.scratch.file("copy.gif"), head + "abcd");
  EXPECT_EQ(d.scratch.names(), std::vector<std::string>{"copy.gif"});
}

// Notices that arrived while a long delivery pass was sending count before
// the no-answer wait is tested: an answer complete on disk is never given up.
TEST(Responder, NoticesThatArrivedDuringALongPassAreReadBeforeTheWaitIsTested) {
  Delivery d;
  d.enqueue(15);
  ASSERT_TRUE(d.responder.startUnlessRunning());
  const std::string big(16 * 1024 * 1024, 'b');
  d.part(15, 0, big, '+');  // the pass blocks: the browser does not read yet
  VLObject::sleepFor(0, 300000);
  d.part(15, 1, "end", '0');
  vlAdvanceRecordClock(VLResponder::kNoNoticeSeconds + 5);  // the pass took long
  EXPECT_TRUE(d.browserGot(big.size() + 3) == big + "end");
  EXPECT_TRUE(d.waitIdle());
  EXPECT_EQ(d.responder.browserSocket(), d.browser.far);
  EXPECT_EQ(d.scratch.names(), std::vector<std::string>{});
}

// An answer whose end was the server's close: the browser connection ends
// after it, and nothing of the answers behind it follows.
TEST(Responder, AnAnswerEndedByTheServersCloseEndsTheBrowserConnection) {
  Delivery d;
  d.enqueue(16);
  d.enqueue(17);
  ASSERT_TRUE(d.responder.startUnlessRunning());
  d.part(17, 0, "seventeen", '0');
  d.responder.markEndsConnection(16);
  d.part(16, 0, "HTTP/1.0 200 OK\r\n\r\nsixteen", '0');
  EXPECT_EQ(receiveUpTo(d.browser.near, 1000), "HTTP/1.0 200 OK\r\n\r\nsixteen");
  EXPECT_TRUE(d.waitIdle());
  EXPECT_EQ(d.scratch.names(), std::vector<std::string>{});
}

// Notice connections that do not begin with the key are closed unread,
// whatever they send; the answers still arrive complete and in order.
TEST(Responder, NoticeConnectionsWithoutTheKeyAreClosedUnread) {
  Delivery d;
  d.enqueue(18);
  d.enqueue(19);
  ASSERT_TRUE(d.responder.startUnlessRunning());
  const platform::Socket forger = d.addNoticeConnection(false);
  sendText(forger, notice(18, '1') + notice(19, '0'));
  const platform::Socket guesser = d.addNoticeConnection(false);
  sendText(guesser, std::string(Delivery::kKey).substr(0, 10) + "x");
  EXPECT_EQ(receiveUpTo(forger, 1), "");  // closed
  EXPECT_EQ(receiveUpTo(guesser, 1), "");
  d.part(18, 0, "eighteen", '0');
  d.part(19, 0, "nineteen", '0');
  EXPECT_EQ(d.browserGot(16), "eighteennineteen");
  // A key that arrives in pieces still counts.
  d.enqueue(20);
  const platform::Socket split = d.addNoticeConnection(false);
  sendText(split, std::string(Delivery::kKey).substr(0, 7));
  VLObject::sleepFor(0, 50000);
  d.scratch.write("vl20_0.tmp", "twenty");
  sendText(split, std::string(Delivery::kKey).substr(7) + notice(20, '0'));
  EXPECT_EQ(d.browserGot(6), "twenty");
}

// A part of an answer that cannot be read at its turn (gone, or no file):
// the browser gets the bytes before it and then the end of the connection,
// never the bytes after the gap, nor the answers behind it; the answer's
// other parts go.
struct MissingPart {
  const char* name;
  bool behind;     // the answer is complete before it is the head
  bool noFile;     // a folder stands where the part should be
};

class ResponderMissingPart : public ::testing::TestWithParam<MissingPart> {};

TEST_P(ResponderMissingPart, TheAnswerEndsAtTheGap) {
  const MissingPart& c = GetParam();
  Delivery d;
  if (c.behind) d.enqueue(40);
  d.enqueue(41);
  d.enqueue(42);
  ASSERT_TRUE(d.responder.startUnlessRunning());
  d.part(41, 0, "first|", '+');
  if (!c.behind) EXPECT_EQ(d.browserGot(6), "first|");
  if (c.noFile) std::filesystem::create_directory(std::filesystem::path(platform::toSystemPath(tempPath)) / "vl41_1.tmp");
  sendText(d.noticePairs.front()->near, notice(41, '+'));  // part 1 never written
  d.part(41, 2, "after the gap", '0');
  d.part(42, 0, "next answer", '0');
  if (c.behind) {
    d.part(40, 0, "zero|", '0');
    EXPECT_EQ(d.browserGot(11), "zero|first|");
  }
  // The end of the connection, with nothing after the gap.
  EXPECT_EQ(receiveUpTo(d.browser.near, 100), "");
  EXPECT_EQ(d.responder.browserSocket(), platform::kInvalidSocket);
  EXPECT_TRUE(d.waitIdle());
  std::vector<std::string> left;
  if (c.noFile) left.push_back("vl41_1.tmp");
  EXPECT_EQ(d.scratch.names(), left);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResponderMissingPart,
    ::testing::Values(MissingPart{"a part gone while the answer streams", false, false},
                      MissingPart{"a part gone from an answer complete behind another", true, false},
                      MissingPart{"a folder in the place of a part", false, true}),
    [](const ::testing::TestParamInfo<MissingPart>& info) { return caseName(info.index, info.param.name); });

}  // namespace
