// Which outgoing connection a browser connection uses for a target: a
// request is never sent on a client made for another target; a service's
// client is found by its name whatever port it holds; a client with work or
// claimed in the last 10 seconds is not taken again; with every client busy
// there is none.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "varlume/client_connection.h"
#include "varlume/settings.h"

namespace {

class ClientChoice : public ::testing::Test {
 protected:
  ClientChoice() : connection(std::make_unique<VLClientConnection>()) { servicesPort = 45000; }

  // Gives client `slot` a target without connecting it.
  void target(int slot, const std::string& host, int port, int keepAliveSeconds = 0) {
    VLClient& client = connection->client(slot);
    client.assignTarget(VLClient(host, port));
    client.setKeepAlive(keepAliveSeconds);
  }

  std::unique_ptr<VLClientConnection> connection;
};

TEST_F(ClientChoice, ServiceClientIsFoundByNameNotPort) {
  // The service's client holds the service port and keeps its connection
  // alive; the forwarding code asks for port 80.
  target(0, "a.example", 80, 100);
  target(1, "file", 45000, 100);
  int slot = -1;
  VLClient* client = connection->clientFor("file", 80, slot);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(slot, 1);
  EXPECT_EQ(connection->client(0).host(), "a.example");
}

TEST_F(ClientChoice, BusyOrRecentlyClaimedClientsAreNotTakenAgain) {
  int first = -1;
  ASSERT_NE(connection->clientFor("a.example", 80, first), nullptr);
  // Claimed a moment ago: the same target takes another client.
  int second = -1;
  VLClient* client = connection->clientFor("a.example", 80, second);
  ASSERT_NE(client, nullptr);
  EXPECT_NE(second, first);
  EXPECT_TRUE(client->matchesTarget("a.example", 80));

  // A client with a request in its queue is never re-targeted.
  connection->client(second).queueRequest(7, "GET");
  int third = -1;
  client = connection->clientFor("b.example", 80, third);
  ASSERT_NE(client, nullptr);
  EXPECT_NE(third, second);
  EXPECT_TRUE(connection->client(second).matchesTarget("a.example", 80));
  EXPECT_TRUE(client->matchesTarget("b.example", 80));
}

TEST_F(ClientChoice, EveryClientBusyGivesNone) {
  for (int slot = 0; slot < VLClientConnection::kClientCount; ++slot) {
    target(slot, "a" + std::to_string(slot) + ".example", 80, 100);
    connection->client(slot).queueRequest(slot + 1, "GET");
  }
  int slot = 5;
  EXPECT_EQ(connection->clientFor("b.example", 80, slot), nullptr);
  EXPECT_EQ(slot, -1);
  for (int i = 0; i < VLClientConnection::kClientCount; ++i) {
    EXPECT_TRUE(connection->client(i).matchesTarget("a" + std::to_string(i) + ".example", 80));
  }
}

TEST_F(ClientChoice, KeptAliveClientsOfOtherTargetsYieldOnlyWhenIdle) {
  // Every client still within its keep-alive time: an idle one takes the
  // new target rather than sending it down another target's connection.
  for (int slot = 0; slot < VLClientConnection::kClientCount; ++slot) {
    target(slot, "a" + std::to_string(slot) + ".example", 80, 100);
  }
  connection->client(0).queueRequest(1, "GET");
  int slot = -1;
  VLClient* client = connection->clientFor("b.example", 8080, slot);
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(slot, 1);
  EXPECT_TRUE(client->matchesTarget("b.example", 8080));
  EXPECT_TRUE(connection->client(0).matchesTarget("a0.example", 80));
}

}  // namespace
