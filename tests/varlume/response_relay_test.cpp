// The relay of VLClient against a scripted server over a loopback pair: the
// part files each response leaves in the temporary folder, the notices that
// announce them, and what is left for the next response.
#include "varlume/response_relay.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "relay_support.h"
#include "varlume/client.h"
#include "varlume/notice.h"

namespace {

// One client connected to a scripted server, with its notices arriving on a
// test listener.
class Relay {
 public:
  Relay() {
    client.setNotificationPort(notices.port());
    EXPECT_EQ(client.connectTo("127.0.0.1", server.port()), 1);
    serverSide = server.accept();
    EXPECT_EQ(client.connectNotifier(), 1);
    noticeSide = notices.accept();
  }
  ~Relay() {
    // A relay thread uses the client until its body returns: stop it, wake
    // it, and let it leave before the client goes.
    client.stop();
    client.closeSockets();
    for (int i = 0; i < 1000 && client.bodyActive() > 0; ++i) VLObject::sleepFor(0, 5000);
    platform::closeSocket(serverSide);
    platform::closeSocket(noticeSide);
  }
  // The notices that arrived: `count` of them (waiting at most 5 seconds),
  // and whatever else is already there.
  std::string noticesReceived(std::size_t count) {
    std::string got = receiveUpTo(noticeSide, count * kNoticeLength);
    return got + receiveUpTo(noticeSide, kNoticeLength, 100);
  }

  VLRelayScratch scratch;
  VLTestListener server;
  VLTestListener notices;
  VLClient client;
  platform::Socket serverSide = platform::kInvalidSocket;
  platform::Socket noticeSide = platform::kInvalidSocket;
};

std::string notice(int id, char kind) { return formatNotice(id, static_cast<VLNoticeKind>(kind)); }

struct Case {
  const char* name;
  std::string method;
  std::string response;
  bool closeAfter;
  int result;
  std::vector<std::string> parts;  // part 0, 1, ...
  std::string notices;             // for request 7
  std::string pending;             // left for the next response
};

std::string body(std::size_t n) {
  std::string text(n, 'x');
  for (std::size_t i = 0; i < n; ++i) text[i] = static_cast<char>('a' + i % 26);
  return text;
}

const std::string kHead100k = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
const std::string kChunked =
    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4;a=b\r\nWiki\r\n0\r\nX-T: 1\r\n\r\n";
const std::string kRanges =
    "HTTP/1.1 206 Partial\r\nContent-Type: multipart/byteranges; boundary=B\r\n\r\n"
    "--B\r\nContent-Range: bytes 1-3/9\r\n\r\nabc\r\n--B--";

std::vector<Case> cases() {
  std::string big = body(100000);
  return {
      {"a length of 100000 gives two parts", "GET", kHead100k + big, false, 1,
       {(kHead100k + big).substr(0, 0)}, "", ""},  // parts filled in below
      {"chunked with extensions and trailers", "GET", kChunked + "HTTP/1.1 204 x\r\n\r\n", false, 1,
       {kChunked}, notice(7, '0'), "HTTP/1.1 204 x\r\n\r\n"},
      {"byte ranges", "GET", kRanges, false, 1, {kRanges}, notice(7, '0'), ""},
      {"HTTP/1.0 until the close", "GET", "HTTP/1.0 200 OK\r\n\r\nold body", true, 1,
       {"HTTP/1.0 200 OK\r\n\r\nold body"}, notice(7, '0'), ""},
      {"100 Continue then 200", "POST", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
       false, 1, {"HTTP/1.1 100 Continue\r\n\r\n", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"},
       notice(7, '+') + notice(7, '0'), ""},
      {"HEAD with a length", "HEAD", "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n", false, 1,
       {"HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n"}, notice(7, '0'), ""},
      {"304", "GET", "HTTP/1.1 304 Not Modified\r\nETag: x\r\n\r\n", false, 1,
       {"HTTP/1.1 304 Not Modified\r\nETag: x\r\n\r\n"}, notice(7, '0'), ""},
      {"length-less HTTP/1.1 until the close", "GET", "HTTP/1.1 200 OK\r\n\r\nall of it", true, 1,
       {"HTTP/1.1 200 OK\r\n\r\nall of it"}, notice(7, '0'), ""},
      {"close before any byte", "GET", "", true, -1, {""}, notice(7, '1') + notice(8, '1'), ""},
      {"close inside the body", "GET", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc", true, -1,
       {""}, notice(7, '1') + notice(8, '1'), ""},
      {"garbage instead of a head", "GET", "SSH-2.0-OpenSSH\r\n\r\n", false, -1, {""},
       notice(7, '1') + notice(8, '1'), ""},
  };
}

TEST(ResponseRelay, WritesEachFramingIntoPartsAndAnnouncesThem) {
  for (Case c : cases()) {
    SCOPED_TRACE(c.name);
    if (c.parts.size() == 1 && c.parts[0].empty() && c.result == 1) {
      std::string all = c.response;
      c.parts = {all.substr(0, 65536), all.substr(65536)};
      c.notices = notice(7, '+') + notice(7, '0');
    }
    Relay relay;
    relay.client.queueRequest(7, c.method);
    relay.client.queueRequest(8, "GET");
    sendText(relay.serverSide, c.response);
    if (c.closeAfter) platform::shutdownSocket(relay.serverSide, platform::ShutdownHow::Send);
    EXPECT_EQ(relay.client.relayResponse(), c.result);
    EXPECT_EQ(relay.noticesReceived(c.notices.size() / kNoticeLength), c.notices);
    for (std::size_t k = 0; k < c.parts.size() && c.result == 1; ++k) {
      std::string name = "vl7_" + std::to_string(k) + ".tmp";
      EXPECT_TRUE(relay.scratch.file(name) == c.parts[k]) << name;
    }
    // A failed response leaves no part that was never announced.
    if (c.result != 1) {
      EXPECT_EQ(relay.scratch.names(), std::vector<std::string>{});
    }
    EXPECT_FALSE(relay.scratch.exists("vl7_" + std::to_string(c.parts.size()) + ".tmp"));
    EXPECT_EQ(relay.client.pendingData(), c.pending);
    if (c.result == 1) {
      EXPECT_EQ(relay.client.currentIndex(), 1);
      EXPECT_EQ(relay.client.recordAt(1).getId(), 8);  // the next one still waits
    } else {
      EXPECT_TRUE(relay.client.isQueueIdle(false));
      EXPECT_EQ(relay.client.socket(), platform::kInvalidSocket);
    }
  }
}

TEST(ResponseRelay, PipelinedResponsesInOneReadAreSplitByThePendingData) {
  Relay relay;
  relay.client.queueRequest(1, "GET");
  relay.client.queueRequest(2, "HEAD");
  relay.client.queueRequest(3, "GET");
  std::string a = "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc";
  std::string b = "HTTP/1.1 200 OK\r\nContent-Length: 99\r\n\r\n";
  std::string c = "HTTP/1.1 404 No\r\nContent-Length: 1\r\n\r\nz";
  sendText(relay.serverSide, a + b + c);
  EXPECT_EQ(relay.client.relayResponse(), 1);
  EXPECT_EQ(relay.client.pendingData(), b + c);
  // The HEAD answer ends at its head although it names a length.
  EXPECT_EQ(relay.client.relayResponse(), 1);
  EXPECT_EQ(relay.client.relayResponse(), 1);
  EXPECT_EQ(relay.scratch.file("vl1_0.tmp"), a);
  EXPECT_EQ(relay.scratch.file("vl2_0.tmp"), b);
  EXPECT_EQ(relay.scratch.file("vl3_0.tmp"), c);
  EXPECT_EQ(relay.noticesReceived(3), notice(1, '0') + notice(2, '0') + notice(3, '0'));
  EXPECT_EQ(relay.client.relayResponse(), -100);
  EXPECT_EQ(relay.client.pendingMethods(), "");
}

TEST(ResponseRelay, KeepAliveAndCloseHeadersReachTheClient) {
  Relay relay;
  relay.client.queueRequest(1, "GET");
  relay.client.queueRequest(2, "GET");
  sendText(relay.serverSide, "HTTP/1.1 200 OK\r\nKeep-Alive: timeout=15\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(relay.client.relayResponse(), 1);
  EXPECT_TRUE(relay.client.keepAliveFlag());
  EXPECT_FALSE(relay.client.keepAliveOver());
  sendText(relay.serverSide, "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(relay.client.relayResponse(), 1);
  EXPECT_FALSE(relay.client.keepAliveFlag());
  // The server said it closes: the client lets go of the connection.
  EXPECT_EQ(relay.client.socket(), platform::kInvalidSocket);
}

TEST(ResponseRelay, TheRelayThreadAnswersEveryQueuedRequestAndEnds) {
  Relay relay;
  relay.client.queueRequest(4, "GET");
  relay.client.queueRequest(5, "GET");
  sendText(relay.serverSide,
           "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\naHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nb");
  // The thread connects its own notifier; the test's was closed first.
  platform::Socket old = relay.client.notificationSocket();
  ASSERT_NE(old, platform::kInvalidSocket);
  ASSERT_TRUE(relay.client.startRelay());
  EXPECT_TRUE(relay.client.relayRunning());
  EXPECT_EQ(relay.noticesReceived(2), notice(4, '0') + notice(5, '0'));
  for (int i = 0; i < 400 && relay.client.relayRunning(); ++i) VLObject::sleepFor(0, 10000);
  EXPECT_FALSE(relay.client.relayRunning());
  EXPECT_EQ(relay.scratch.file("vl5_0.tmp"), "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nb");
}

TEST(ResponseRelay, APartFileThatCannotBeMadeFailsTheRequests) {
  Relay relay;
  tempPath = "\\nonexistent-folder-of-the-relay-test\\";
  relay.client.queueRequest(9, "GET");
  sendText(relay.serverSide, "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(relay.client.relayResponse(), -1);
  EXPECT_EQ(relay.noticesReceived(1), notice(9, '1'));
}

// The first bytes of an answer that comes late are announced at once, so
// its delivery never gives it up while it is arriving.
TEST(ResponseRelay, TheFirstBytesOfALateAnswerAreAnnouncedAtOnce) {
  Relay relay;
  relay.client.queueRequest(21, "GET");
  vlAdvanceRecordClock(35);  // the request is old now
  ASSERT_TRUE(relay.client.startRelay());
  sendText(relay.serverSide, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n01234");
  EXPECT_EQ(receiveUpTo(relay.noticeSide, kNoticeLength, 3000), notice(21, '+'));
  sendText(relay.serverSide, "56789");
  EXPECT_EQ(receiveUpTo(relay.noticeSide, kNoticeLength, 3000), notice(21, '0'));
  EXPECT_EQ(relay.scratch.file("vl21_0.tmp") + relay.scratch.file("vl21_1.tmp"),
            "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789");
}

// A relay whose browser connection ends (it is stopped) while it streams
// announces no further part and leaves none: the end of the connection has
// swept what was announced.
TEST(ResponseRelay, AStoppedRelayAnnouncesNoMorePartsAndLeavesNone) {
  Relay relay;
  relay.client.queueRequest(23, "GET");
  ASSERT_TRUE(relay.client.startRelay());
  // Exactly one full part: nothing is held in the next one before the stop.
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 10000000\r\n\r\n";
  sendText(relay.serverSide, head + body(kPartBytes - head.size()));
  ASSERT_EQ(receiveUpTo(relay.noticeSide, kNoticeLength), notice(23, '+'));
  VLObject::sleepFor(0, 100000);
  relay.client.stop();
  sendText(relay.serverSide, body(1000000));
  for (int i = 0; i < 500 && relay.client.relayRunning(); ++i) VLObject::sleepFor(0, 10000);
  EXPECT_FALSE(relay.client.relayRunning());
  EXPECT_EQ(relay.noticesReceived(1), notice(23, '1'));
  relay.scratch.write("vl23_0.tmp", "");  // the announced part is the responder's
  EXPECT_EQ(relay.scratch.names(), std::vector<std::string>{"vl23_0.tmp"});
}

// A server that sends interim heads without end makes no file per head: the
// first stands alone in part 0, the others are bytes of the parts like any
// others, and the final answer follows them unchanged.
TEST(ResponseRelay, ManyInterimHeadsMakeFewPartFiles) {
  Relay relay;
  relay.client.queueRequest(31, "GET");
  const std::string hint = "HTTP/1.1 103 Early Hints\r\nLink: </a.css>; rel=preload\r\n\r\n";
  std::string heads;
  for (int i = 0; i < 2000; ++i) heads += hint;
  const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
  std::thread server([&] { sendText(relay.serverSide, heads + answer); });
  EXPECT_EQ(relay.client.relayResponse(), 1);
  server.join();
  const std::vector<std::string> names = relay.scratch.names();
  EXPECT_LE(names.size(), 16u);
  EXPECT_EQ(relay.scratch.file("vl31_0.tmp"), hint);
  std::string all;
  for (std::size_t k = 0; k < names.size(); ++k) all += relay.scratch.file("vl31_" + std::to_string(k) + ".tmp");
  EXPECT_TRUE(all == heads + answer);
  std::string notices;
  for (std::size_t k = 1; k < names.size(); ++k) notices += notice(31, '+');
  EXPECT_EQ(relay.noticesReceived(names.size()), notices + notice(31, '0'));
}

}  // namespace
