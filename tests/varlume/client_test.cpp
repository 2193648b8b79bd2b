// VLClient: connecting (service keywords, the upstream proxy, the proxy
// itself as upstream), sending, the record queue and the reuse tests.
#include "varlume/client.h"

#include <gtest/gtest.h>

#include "foundation/object.h"
#include "relay_support.h"
#include "varlume/settings.h"

namespace {

class Settings {
 public:
  Settings() {
    proxyHost.clear();
    proxyPort = -1;
    listeningPort = 8080;
    servicesPort = 0;
  }
  ~Settings() {
    proxyHost.clear();
    proxyPort = -1;
  }
};

// A service base port whose EVENT (+3) and PLUGIN (+5) ports are listening.
TEST(Client, ServiceKeywordsGoToTheServicePortsOnLoopback) {
  Settings settings;
  VLTestListener event;
  servicesPort = event.port() - 3;
  VLClient client;
  EXPECT_EQ(client.connectTo("eVeNt", 80), 1);
  EXPECT_EQ(client.port(), event.port());
  platform::Socket accepted = event.accept();
  EXPECT_NE(accepted, platform::kInvalidSocket);
  platform::closeSocket(accepted);
  EXPECT_EQ(client.connectTo("", 80), 0);
  EXPECT_EQ(client.connectTo("a.example", -1), 0);
}

TEST(Client, UpstreamProxyAndTheProxyItself) {
  Settings settings;
  VLTestListener upstream;
  VLTestListener target;
  proxyHost = "127.0.0.1";
  proxyPort = upstream.port();
  VLClient viaProxy("a.example", 8081);
  viaProxy.setMayReachThisMachine(false);
  EXPECT_EQ(viaProxy.connectForRequest(), 1);
  platform::Socket accepted = upstream.accept();
  EXPECT_NE(accepted, platform::kInvalidSocket);
  platform::closeSocket(accepted);
  // Connected through the proxy, the client names the proxy as its host and
  // port, yet it serves the target it was connected for, and connecting
  // again goes through the proxy for that target, never to the proxy's name.
  EXPECT_EQ(viaProxy.host(), "127.0.0.1");
  EXPECT_EQ(viaProxy.port(), upstream.port());
  EXPECT_TRUE(viaProxy.matchesTarget("A.example", 8081));
  EXPECT_FALSE(viaProxy.matchesTarget("127.0.0.1", upstream.port()));
  EXPECT_FALSE(viaProxy.matchesTarget("a.example", 80));
  EXPECT_EQ(viaProxy.connectForRequest(), 1);
  EXPECT_EQ(viaProxy.localRefusal(), VLLocalRefusal::None);
  accepted = upstream.accept();
  EXPECT_NE(accepted, platform::kInvalidSocket);
  platform::closeSocket(accepted);
  // Given another target, it serves that one.
  viaProxy.assignTarget(VLClient("b.example", 80));
  EXPECT_TRUE(viaProxy.matchesTarget("b.example", 80));
  EXPECT_FALSE(viaProxy.matchesTarget("a.example", 8081));
  // An upstream proxy that is this proxy (localhost or 127.x at the
  // listening port) is skipped: the request goes straight to its target.
  for (const char* self : {"localhost", "127.0.0.1"}) {
    proxyHost = self;
    proxyPort = listeningPort;
    VLClient direct("127.0.0.1", target.port());
    EXPECT_EQ(direct.connectForRequest(), 1) << self;
    EXPECT_NE(target.accept(), platform::kInvalidSocket) << self;
  }
}

// A web target on this machine: the proxy's own ports never, another port
// only when the request may reach this machine; decided by the address
// connected to, and by the name when the upstream proxy connects.
TEST(Client, AWebTargetOnThisMachineIsHeldToTheLocalRule) {
  Settings settings;
  VLTestListener own;
  VLTestListener other;
  servicesPort = own.port();
  for (const bool upstream : {false, true}) {
    VLTestListener proxy;
    proxyHost = upstream ? "127.0.0.1" : "";
    proxyPort = upstream ? proxy.port() : -1;
    const char* how = upstream ? "through the upstream proxy" : "direct";
    VLClient service("localhost", own.port());
    service.setMayReachThisMachine(true);
    EXPECT_EQ(service.connectForRequest(), 0) << how;
    EXPECT_EQ(service.localRefusal(), VLLocalRefusal::OwnPort) << how;
    VLClient undeclared("localhost", other.port());
    undeclared.setMayReachThisMachine(false);
    EXPECT_EQ(undeclared.connectForRequest(), 0) << how;
    EXPECT_EQ(undeclared.localRefusal(), VLLocalRefusal::Undeclared) << how;
    VLClient declared("localhost", other.port());
    declared.setMayReachThisMachine(true);
    EXPECT_EQ(declared.connectForRequest(), 1) << how;
    EXPECT_EQ(declared.localRefusal(), VLLocalRefusal::None) << how;
    EXPECT_TRUE(declared.targetOnThisMachine()) << how;
    platform::Socket accepted = (upstream ? proxy : other).accept();
    EXPECT_NE(accepted, platform::kInvalidSocket) << how;
    platform::closeSocket(accepted);
  }
}

TEST(Client, MatchesTargetIgnoresCaseAndBlanks) {
  VLClient client(" Site.Example\t", 8081);
  EXPECT_TRUE(client.matchesTarget("site.example", 8081));
  EXPECT_TRUE(client.matchesTarget("SITE.EXAMPLE ", 0));
  EXPECT_FALSE(client.matchesTarget("site.example", 80));
  EXPECT_FALSE(client.matchesTarget("other.example", 8081));
}

TEST(Client, QueueGrowsByAHundredAndMethodsQueueInOrder) {
  VLClient client;
  for (int id = 1; id <= 100; ++id) client.queueRequest(id, id == 2 ? "HEAD" : "GET");
  EXPECT_EQ(client.recordCapacity(), 100);
  client.queueRequest(101, "POST");
  EXPECT_EQ(client.recordCapacity(), 200);
  EXPECT_EQ(client.recordAt(100).getId(), 101);
  EXPECT_EQ(client.pendingMethods().substr(0, 12), "GET HEAD GET");
  EXPECT_FALSE(client.isQueueIdle(false));
  EXPECT_FALSE(client.prepareForReuse());  // its current record is pending
}

TEST(Client, ClaimsAndKeepAlive) {
  VLClient client;
  EXPECT_TRUE(client.claimIfQuiet());  // a new client is claimed at once
  EXPECT_FALSE(client.claimIfQuiet());
  EXPECT_TRUE(client.keepAliveOver());  // no keep-alive information
  client.setKeepAlive(100);
  EXPECT_FALSE(client.keepAliveOver());
  client.setKeepAlive(0);
  EXPECT_TRUE(client.keepAliveOver());
  EXPECT_TRUE(client.prepareForReuse());
}

TEST(Client, AFailedSendNeverContinuesOnANewConnection) {
  Settings settings;
  VLTestListener server;
  VLClient client("127.0.0.1", server.port());
  ASSERT_EQ(client.connectForRequest(), 1);
  platform::Socket accepted = server.accept();
  platform::setLinger(accepted, true, 0);
  platform::closeSocket(accepted);  // the server resets the connection
  std::string big(8 * 1024 * 1024, 'b');
  int first = client.sendRequest(big.data(), static_cast<int>(big.size()));
  int second = client.sendRequest(big.data(), 100);
  EXPECT_EQ(first, -1);
  EXPECT_EQ(second, -1);
  // Nothing of the request tried a new connection to the server.
  platform::PollEntry e{server.socket(), platform::kPollReadable, 0};
  EXPECT_EQ(platform::pollSockets(&e, 1, 200), 0);
  // A new request connects afresh.
  ASSERT_EQ(client.connectForRequest(), 1);
  EXPECT_EQ(client.sendRequest("GET / HTTP/1.1\r\n\r\n", 18), 18);
}

TEST(Client, NoReuseWhileTheRelayRuns) {
  Settings settings;
  VLRelayScratch scratch;
  VLTestListener server;
  VLTestListener notices;
  VLClient client("127.0.0.1", server.port());
  client.setNotificationPort(notices.port());
  ASSERT_EQ(client.connectForRequest(), 1);
  platform::Socket accepted = server.accept();
  client.queueRequest(1, "GET");
  client.queueRequest(2, "GET");
  ASSERT_TRUE(client.startRelay());
  platform::Socket noticeSide = notices.accept();
  sendText(accepted, "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx");
  EXPECT_EQ(receiveUpTo(noticeSide, 12), "00000001 1 0");
  // Request 2 is still due: the relay runs, and the client is not reused.
  ASSERT_TRUE(client.relayRunning());
  EXPECT_FALSE(client.prepareForReuse());
  // A third request joins the running relay instead of starting another.
  client.queueRequest(3, "GET");
  EXPECT_TRUE(client.startRelay());
  sendText(accepted, "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\ny"
                     "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nz");
  EXPECT_EQ(receiveUpTo(noticeSide, 24), "00000002 1 000000003 1 0");
  for (int i = 0; i < 500 && client.relayRunning(); ++i) VLObject::sleepFor(0, 10000);
  EXPECT_FALSE(client.relayRunning());
  EXPECT_TRUE(client.prepareForReuse());
  platform::closeSocket(accepted);
  platform::closeSocket(noticeSide);
}

}  // namespace
