// Who is at the other end of a loopback connection: this process's user
// (open or already closed), or another user (which needs root to try).
#include "platform/peer_user.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "platform/sockets.h"

namespace {

using namespace platform;

constexpr uid_t kOtherUser = 65534;  // nobody

sockaddr_in loopback(int port) {
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(kLoopbackAddress);
  return address;
}

class PeerUser : public ::testing::Test {
 protected:
  void SetUp() override {
    listener = tcpSocket();
    ASSERT_TRUE(bindSocket(listener, kLoopbackAddress, 0));
    ASSERT_TRUE(listenSocket(listener, 8));
    port = localPort(listener);
  }
  void TearDown() override { closeSocket(listener); }

  // The next connection on the listener (waits at most 5 s).
  Socket acceptNext() {
    PollEntry wait{listener, kPollReadable, 0};
    if (pollSockets(&wait, 1, 5000) != 1) return kInvalidSocket;
    return acceptSocket(listener);
  }

  // A child process that connects as `uid`, sends a byte, and then either
  // waits for the parent's close or closes at once. Returns its pid.
  pid_t connectAs(uid_t uid, bool closeAtOnce) {
    const pid_t child = ::fork();
    if (child != 0) return child;
    // Only plain system calls from here on.
    if (::setgid(uid) != 0 || ::setuid(uid) != 0) ::_exit(2);
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) ::_exit(3);
    if (::write(fd, "x", 1) != 1) ::_exit(4);
    if (!closeAtOnce) {
      char byte;
      while (::read(fd, &byte, 1) > 0) {
      }
    }
    ::close(fd);
    ::_exit(0);
  }

  static int exitCode(pid_t child) {
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  Socket listener = kInvalidSocket;
  int port = 0;
};

// Made with a plain connect, so only the kernel can tell who made it.
TEST_F(PeerUser, AConnectionOfThisUserIsTheSameUser) {
  const int client = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(client, 0);
  const sockaddr_in address = loopback(port);
  ASSERT_EQ(::connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const Socket accepted = acceptNext();
  ASSERT_NE(accepted, kInvalidSocket);
  EXPECT_TRUE(peerIsSameUser(accepted));
  closeSocket(accepted);
  ::close(client);
}

// A relay that sent its notice and closed before the listener looked: the
// kernel no longer names an owner, but this process made the connection.
TEST_F(PeerUser, AConnectionThisProcessMadeAndClosedIsStillTheSameUser) {
  const Socket client = tcpSocket();
  ASSERT_TRUE(connectSocket(client, "127.0.0.1", port, 5));
  ASSERT_EQ(sendBytes(client, "x", 1), 1);
  closeSocket(client);
  ::usleep(50000);  // the closed side reaches its time-wait
  const Socket accepted = acceptNext();
  ASSERT_NE(accepted, kInvalidSocket);
  EXPECT_TRUE(peerIsSameUser(accepted));
  closeSocket(accepted);
}

// Under load the process makes many loopback connections (to servers, to
// its own listeners) before a listener gets to look at a closed one.
TEST_F(PeerUser, AClosedConnectionIsKnownAfterTenThousandMore) {
  const Socket client = tcpSocket();
  ASSERT_TRUE(connectSocket(client, "127.0.0.1", port, 5));
  closeSocket(client);
  for (int i = 0; i < 10000; ++i) {
    noteOwnConnection({kLoopbackAddress, 1024 + i % 60000}, {kLoopbackAddress + 1, 9});
  }
  ::usleep(50000);
  const Socket accepted = acceptNext();
  ASSERT_NE(accepted, kInvalidSocket);
  EXPECT_TRUE(peerIsSameUser(accepted));
  closeSocket(accepted);
}

TEST_F(PeerUser, AConnectionOfAnotherUserIsNot) {
  if (::geteuid() != 0) GTEST_SKIP() << "connecting as another user needs root";
  const pid_t child = connectAs(kOtherUser, false);
  ASSERT_GT(child, 0);
  const Socket accepted = acceptNext();
  ASSERT_NE(accepted, kInvalidSocket);
  EXPECT_FALSE(peerIsSameUser(accepted));
  closeSocket(accepted);
  EXPECT_EQ(exitCode(child), 0);
}

// Another user's process that sends and closes before the check: its
// socket no longer names an owner, and this process never made it.
TEST_F(PeerUser, AClosedConnectionOfAnotherUserIsNot) {
  if (::geteuid() != 0) GTEST_SKIP() << "connecting as another user needs root";
  const pid_t child = connectAs(kOtherUser, true);
  ASSERT_GT(child, 0);
  ASSERT_EQ(exitCode(child), 0);
  ::usleep(50000);
  const Socket accepted = acceptNext();
  ASSERT_NE(accepted, kInvalidSocket);
  EXPECT_FALSE(peerIsSameUser(accepted));
  closeSocket(accepted);
}

// The listener a connection reached: this process's own, until it closes.
TEST_F(PeerUser, TheListenerOfAConnectionMadeHereIsThisUsers) {
  const Socket connection = tcpSocket();
  ASSERT_TRUE(connectSocket(connection, "127.0.0.1", port, 5));
  EXPECT_TRUE(listenerIsSameUser(connection));
  closeSocket(listener);
  listener = tcpSocket();  // TearDown closes this one
  EXPECT_FALSE(listenerIsSameUser(connection));
  closeSocket(connection);
}

}  // namespace
