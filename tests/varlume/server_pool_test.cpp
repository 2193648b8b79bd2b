// The listener's pool: entries taken lowest free first, each opening its
// notification listener once (from the first free port of its range) and
// keeping it; an entry that cannot open one is skipped; while all are busy
// further entries are made, up to a limit, and kept; request numbers
// start at 1, are shared by all connections and wrap from 99,999,999 to 1.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "platform/sockets.h"
#include "varlume/client_connection.h"
#include "varlume/server.h"
#include "varlume/settings.h"

namespace {

// A loopback port that nothing listens on, with `count` free ports after it;
// taken below the system's range of ephemeral ports (32768 and up), where the
// closed connections of other tests would block whole stretches.
int freeRange(int count) {
  const int offset = static_cast<int>(std::random_device()() % 400) * 25;
  for (int base = 20000 + offset; base + count < 32000; base += count + 1) {
    bool free = true;
    for (int port = base; port <= base + count && free; ++port) {
      const platform::Socket socket = platform::tcpSocket();
      free = platform::bindSocket(socket, platform::kLoopbackAddress, port);
      platform::closeSocket(socket);
    }
    if (free) return base;
  }
  return -1;
}

TEST(ServerPool, EntriesTakeTheLowestFreeSlotAndKeepTheirListener) {
  internalPort = freeRange(10);
  ASSERT_GT(internalPort, 0);
  internalRange = 10;
  auto server = std::make_unique<VLServer>(0);
  // Stand-ins for accepted sockets: entries are taken, never started here.
  EXPECT_EQ(server->takeConnectionSlot(101), 0);
  EXPECT_EQ(server->takeConnectionSlot(102), 1);
  EXPECT_EQ(server->takeConnectionSlot(103), 2);
  EXPECT_EQ(server->entry(0).notificationPort(), internalPort);
  EXPECT_EQ(server->entry(1).notificationPort(), internalPort + 1);
  EXPECT_EQ(server->entry(1).browserSocket(), 102);
  EXPECT_EQ(server->entry(1).owner(), server.get());

  // The freed entry 1 is the next one taken, with the listener it had.
  const platform::Socket listener = server->entry(1).notificationListener();
  server->entry(1).setInUse(false);
  EXPECT_EQ(server->takeConnectionSlot(104), 1);
  EXPECT_EQ(server->entry(1).notificationListener(), listener);
  EXPECT_EQ(server->entry(1).notificationPort(), internalPort + 1);
  for (int i = 0; i < 3; ++i) server->entry(i).setBrowserSocket(platform::kInvalidSocket);
}

TEST(ServerPool, EntryWithoutListenerIsSkippedAndTriedAgain) {
  internalPort = freeRange(1);
  ASSERT_GT(internalPort, 0);
  internalRange = 0;
  const platform::Socket occupier = platform::tcpSocket();
  ASSERT_TRUE(platform::bindSocket(occupier, platform::kLoopbackAddress, internalPort));
  ASSERT_TRUE(platform::listenSocket(occupier, 1));
  auto server = std::make_unique<VLServer>(0);
  EXPECT_EQ(server->takeConnectionSlot(101), -1);
  EXPECT_FALSE(server->entry(0).inUse());
  platform::closeSocket(occupier);
  EXPECT_EQ(server->takeConnectionSlot(101), 0);
  EXPECT_EQ(server->entry(0).notificationPort(), internalPort);
  server->entry(0).setBrowserSocket(platform::kInvalidSocket);
}

TEST(ServerPool, EntriesAreMadeWhileAllAreBusyUpToTheLimit) {
  internalPort = freeRange(VLServer::kPoolLimit);
  ASSERT_GT(internalPort, 0);
  internalRange = VLServer::kPoolLimit;
  auto server = std::make_unique<VLServer>(0);
  for (int i = 0; i < VLServer::kPoolCapacity; ++i) EXPECT_EQ(server->takeConnectionSlot(101 + i), i);
  EXPECT_EQ(server->takeConnectionSlot(200), -1);
  int made = 0;
  while (server->growPool()) {
    ++made;
    EXPECT_EQ(server->takeConnectionSlot(200 + made), VLServer::kPoolCapacity + made - 1);
  }
  EXPECT_EQ(server->poolSize(), VLServer::kPoolLimit);
  EXPECT_EQ(made, VLServer::kPoolLimit - VLServer::kPoolCapacity);
  // A made entry is kept: freed, it is taken again with its listener.
  const int last = VLServer::kPoolLimit - 1;
  const platform::Socket listener = server->entry(last).notificationListener();
  EXPECT_NE(listener, platform::kInvalidSocket);
  server->entry(last).setInUse(false);
  EXPECT_EQ(server->takeConnectionSlot(300), last);
  EXPECT_EQ(server->entry(last).notificationListener(), listener);
  for (int i = 0; i < server->poolSize(); ++i) server->entry(i).setBrowserSocket(platform::kInvalidSocket);
}

TEST(ServerPool, NoEntryIsMadeWithoutANoticePort) {
  // Ports for the 20 entries built with the server, and no more.
  internalPort = freeRange(VLServer::kPoolCapacity);
  ASSERT_GT(internalPort, 0);
  internalRange = VLServer::kPoolCapacity - 1;
  auto server = std::make_unique<VLServer>(0);
  for (int i = 0; i < VLServer::kPoolCapacity; ++i) EXPECT_EQ(server->takeConnectionSlot(101 + i), i);
  EXPECT_FALSE(server->growPool());
  EXPECT_EQ(server->poolSize(), VLServer::kPoolCapacity);
  EXPECT_EQ(server->takeConnectionSlot(200), -1);
  for (int i = 0; i < server->poolSize(); ++i) server->entry(i).setBrowserSocket(platform::kInvalidSocket);
}

TEST(ServerPool, RequestNumbersAreSharedAndWrapToOne) {
  VLServer server(0);
  EXPECT_EQ(server.nextSequence(), 1);
  EXPECT_EQ(server.nextSequence(), 2);
  int last = 2;
  for (int i = 3; i <= VLServer::kMaxSequence; ++i) last = server.nextSequence();
  EXPECT_EQ(last, VLServer::kMaxSequence);
  EXPECT_EQ(server.nextSequence(), 1);
}

}  // namespace
