#include "platform/sockets.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "blocked_call.h"
#include "detached.h"
#include "temp_folder.h"

namespace {

using namespace platform;

// A listener on a free loopback port.
class Listener {
 public:
  Listener() {
    socket_ = tcpSocket();
    EXPECT_TRUE(setReuseAddress(socket_));
    EXPECT_TRUE(bindSocket(socket_, kLoopbackAddress, 0));
    EXPECT_TRUE(listenSocket(socket_, 8));
    port_ = localPort(socket_);
  }
  ~Listener() { closeSocket(socket_); }
  Socket socket() const { return socket_; }
  int port() const { return port_; }

 private:
  Socket socket_;
  int port_;
};

// A connected pair over loopback: client and accepted server side.
struct Connection {
  explicit Connection(const Listener& listener) {
    client = tcpSocket();
    EXPECT_TRUE(connectSocket(client, "127.0.0.1", listener.port(), 5));
    server = acceptSocket(listener.socket(), &peer);
    EXPECT_NE(server, kInvalidSocket);
  }
  ~Connection() {
    closeSocket(client);
    closeSocket(server);
  }
  Socket client = kInvalidSocket;
  Socket server = kInvalidSocket;
  std::uint32_t peer = 0;
};

constexpr auto kBound = std::chrono::seconds(10);

TEST(SocketsTest, StartupGrantsTwoPointTwo) {
  int granted = 0;
  EXPECT_EQ(socketsStartup(0x0202, &granted), 0);
  EXPECT_EQ(granted, 0x0202);
}

TEST(SocketsTest, LoopbackRoundTrip) {
  Listener listener;
  ASSERT_GT(listener.port(), 0);
  Connection c(listener);
  EXPECT_EQ(c.peer, kLoopbackAddress);
  const std::string text = "GET / HTTP/1.1\r\n\r\n";
  ASSERT_TRUE(sendAll(c.client, text.data(), text.size(), 5000));
  std::string got;
  char buffer[64];
  while (got.size() < text.size()) {
    int n = receiveBytes(c.server, buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    got.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_EQ(got, text);
  ASSERT_TRUE(shutdownSocket(c.client, ShutdownHow::Send));
  EXPECT_EQ(receiveBytes(c.server, buffer, sizeof buffer), 0) << "orderly close reads as 0";
  EXPECT_EQ(sendBytes(c.client, "x", 1), -1);
  EXPECT_EQ(lastSocketError(), kErrShutdown);
}

TEST(SocketsTest, SendToClosedPeerFailsWithResetAndDoesNotKillTheProcess) {
  Listener listener;
  Connection c(listener);
  closeSocket(c.server);
  c.server = kInvalidSocket;
  int result = 0;
  for (int attempt = 0; attempt < 200 && result >= 0; ++attempt) {
    result = sendBytes(c.client, "data", 4);
    PollEntry wait{c.client, kPollReadable, 0};
    pollSockets(&wait, 1, 50);
  }
  ASSERT_EQ(result, -1);
  EXPECT_EQ(lastSocketError(), kErrConnectionReset);
  EXPECT_EQ(sendBytes(c.client, "data", 4), -1) << "the broken pipe raises no signal";
  EXPECT_EQ(lastSocketError(), kErrConnectionReset);
  EXPECT_FALSE(sendAll(c.client, "more", 4, 1000));
  EXPECT_EQ(lastSocketError(), kErrConnectionReset);
}

// sendfile cannot be told to keep quiet as send can: a file sent to a peer
// that closed still fails without a signal ending the program (this test
// program does not ignore SIGPIPE).
TEST(SocketsTest, FileSentToAClosedPeerFailsWithoutASignal) {
  TempFolder folder;
  const std::string body(1 << 20, 'f');
  {
    std::FILE* file = std::fopen(folder.path("part").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(body.data(), 1, body.size(), file);
    std::fclose(file);
  }
  Listener listener;
  Connection c(listener);
  closeSocket(c.server);
  c.server = kInvalidSocket;
  int result = 1;
  for (int attempt = 0; attempt < 50 && result > 0; ++attempt) {
    result = sendFileContents(c.client, folder.programPath("part"), 2000);
  }
  EXPECT_EQ(result, -1);
  EXPECT_EQ(sendBytes(c.client, "after", 5), -1) << "the program lives on";
}

TEST(SocketsTest, CloseWakesBlockedCallsAndRetiresTheHandle) {
  Listener listener;
  Connection c(listener);
  Socket handle = c.client;
  auto receiver = runDetached([handle] {
    char buffer[16];
    int n = receiveBytes(handle, buffer, sizeof buffer);
    return std::make_pair(n, lastSocketError());
  });
  Socket listening = listener.socket();
  auto acceptor = runDetached([listening] {
    Socket s = acceptSocket(listening);
    return std::make_pair(s, lastSocketError());
  });
  EXPECT_TRUE(waitForBlockedCalls(kReceiveAndAcceptCalls, 2)) << "both calls should be blocked by now";
  closeSocket(handle);
  c.client = kInvalidSocket;
  closeSocket(listening);
  ASSERT_EQ(receiver.wait_for(kBound), std::future_status::ready);
  ASSERT_EQ(acceptor.wait_for(kBound), std::future_status::ready);
  auto received = receiver.get();
  EXPECT_EQ(received.first, -1);
  EXPECT_EQ(received.second, kErrNotSocket);
  auto accepted = acceptor.get();
  EXPECT_EQ(accepted.first, kInvalidSocket);
  EXPECT_EQ(accepted.second, kErrNotSocket);

  // The old handle never reaches a socket made afterwards.
  Socket fresh = tcpSocket();
  EXPECT_NE(fresh, handle);
  char byte;
  EXPECT_EQ(receiveBytes(handle, &byte, 1), -1);
  EXPECT_EQ(lastSocketError(), kErrNotSocket);
  EXPECT_EQ(sendBytes(handle, "x", 1), -1);
  EXPECT_EQ(lastSocketError(), kErrNotSocket);
  closeSocket(fresh);
}

TEST(SocketsTest, ConnectToClosedPortIsRefused) {
  Socket probe = tcpSocket();
  ASSERT_TRUE(bindSocket(probe, kLoopbackAddress, 0));
  int port = localPort(probe);
  closeSocket(probe);  // bound, never listened: nothing answers there now
  Socket s = tcpSocket();
  EXPECT_FALSE(connectSocket(s, "127.0.0.1", port, 5));
  EXPECT_EQ(lastSocketError(), kErrConnectionRefused);
  closeSocket(s);
}

TEST(SocketsTest, PortsOutsideTheRangeAreRefused) {
  for (int port : {-1, 65536, 70000}) {
    Socket s = tcpSocket();
    EXPECT_FALSE(bindSocket(s, kLoopbackAddress, port)) << port;
    EXPECT_EQ(lastSocketError(), kErrInvalid) << port;
    EXPECT_FALSE(connectSocket(s, "127.0.0.1", port, 5)) << port;
    EXPECT_EQ(lastSocketError(), kErrInvalid) << port;
    closeSocket(s);
  }
}

TEST(SocketsTest, PollReportsInvalidHandlesWithoutWaiting) {
  Listener listener;
  Connection c(listener);
  Socket closed = tcpSocket();
  closeSocket(closed);
  PollEntry entries[] = {{kInvalidSocket, kPollReadable, 0},
                         {closed, kPollReadable, 0},
                         {c.server, kPollReadable, 0}};
  auto polled = runDetached([copy = std::vector<PollEntry>(std::begin(entries), std::end(entries))]() mutable {
    int count = pollSockets(copy.data(), copy.size(), -1);
    return std::make_pair(count, copy);
  });
  ASSERT_EQ(polled.wait_for(kBound), std::future_status::ready) << "an invalid entry must end the wait";
  auto [count, result] = polled.get();
  EXPECT_EQ(count, 2);
  EXPECT_EQ(result[0].ready, kPollInvalid);
  EXPECT_EQ(result[1].ready, kPollInvalid);
  EXPECT_EQ(result[2].ready, 0);
}

TEST(SocketsTest, PollSeesDataAndHangup) {
  Listener listener;
  Connection c(listener);
  PollEntry entry{c.server, kPollReadable | kPollWritable, 0};
  ASSERT_EQ(pollSockets(&entry, 1, 5000), 1);
  EXPECT_EQ(entry.ready, kPollWritable);
  ASSERT_EQ(sendBytes(c.client, "a", 1), 1);
  entry.wanted = kPollReadable;
  ASSERT_EQ(pollSockets(&entry, 1, 5000), 1);
  EXPECT_EQ(entry.ready, kPollReadable);
  char byte;
  ASSERT_EQ(receiveBytes(c.server, &byte, 1), 1);
  ASSERT_TRUE(setLinger(c.client, true, 0));
  closeSocket(c.client);  // a reset
  c.client = kInvalidSocket;
  ASSERT_EQ(pollSockets(&entry, 1, 5000), 1);
  EXPECT_TRUE(entry.ready & kPollReadable);
}

TEST(SocketsTest, SendAllGivesUpWhenThePeerTakesNothing) {
  Listener listener;
  Connection c(listener);
  ASSERT_TRUE(setBufferSizes(c.client, 4096, 4096));
  std::string big(16 << 20, 'x');
  EXPECT_FALSE(sendAll(c.client, big.data(), big.size(), 200));
  EXPECT_EQ(lastSocketError(), kErrTimedOut);
}

TEST(SocketsTest, ErrnoMapsToWindowsNumbers) {
  const std::pair<int, int> cases[] = {
      {EINTR, 10004},        {EBADF, 10009},      {EAGAIN, 10035},       {EWOULDBLOCK, 10035},
      {ENOTSOCK, 10038},     {EADDRINUSE, 10048}, {ECONNABORTED, 10053}, {ECONNRESET, 10054},
      {EPIPE, 10054},        {ENOTCONN, 10057},   {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061},
      {EHOSTUNREACH, 10065}, {0, 0},
  };
  for (const auto& [systemError, expected] : cases) {
    EXPECT_EQ(socketErrorFromErrno(systemError), expected) << systemError;
  }
}

TEST(SocketsTest, NumericHostIsItsOwnOfficialName) {
  std::string name;
  EXPECT_EQ(officialHostName("127.0.0.1", name), 0);
  EXPECT_EQ(name, "127.0.0.1");
  EXPECT_TRUE(localHostName(name));
  EXPECT_FALSE(name.empty());
}

}  // namespace

namespace {

TEST(SocketsTest, SocketPairCarriesBytesAndWakesAPoll) {
  platform::Socket first, second;
  ASSERT_TRUE(platform::socketPair(first, second));
  auto woken = runDetached([second] {
    platform::PollEntry entry{second, platform::kPollReadable, 0};
    return platform::pollSockets(&entry, 1, -1) == 1 && entry.ready == platform::kPollReadable;
  });
  ASSERT_EQ(platform::sendBytes(first, "!", 1), 1);
  ASSERT_EQ(woken.wait_for(kBound), std::future_status::ready);
  EXPECT_TRUE(woken.get());
  char byte = 0;
  EXPECT_EQ(platform::receiveBytes(second, &byte, 1), 1);
  EXPECT_EQ(byte, '!');
  platform::closeSocket(first);
  platform::closeSocket(second);
}

}  // namespace
