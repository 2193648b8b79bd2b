// The whole road: varlume starts the event service from its program folder,
// and a page's /varlume/event/ URL reaches it through the proxy.
#include <gtest/gtest.h>

#include <string>

#include "support/event_service.h"
#include "support/proxy_process.h"
#include "support/service_copies.h"

namespace {

TEST(EventThroughProxy, APageReachesTheStartedEventService) {
  sandbox::VLSandbox box;
  servicetest::VLServiceCopies services;
  ASSERT_TRUE(services.copy(box, {"varlumeevent"}));

  proxytest::VLProxyProcess proxy;
  const int base = proxytest::freeServicesBase({0, 1, 2, 3});
  ASSERT_GT(base, 0);
  ASSERT_TRUE(proxy.start(box, base));
  ASSERT_TRUE(sandbox::waitUntil([&] { return servicetest::isListening(base + 3); }, 20000));

  eventtest::HttpResponse response;
  ASSERT_TRUE(eventtest::exchange(
      proxy.port(), "GET http://site.example/varlume/event/GETVERSION HTTP/1.1\r\nHost: site.example\r\n\r\n",
      response));
  EXPECT_EQ(response.head.compare(0, 22, "HTTP/1.1 200 Success\r\n"), 0) << response.head;
  EXPECT_EQ(response.body,
            "<Varlume><ErrorCode> 0 </ErrorCode><ErrorReason>Success</ErrorReason><VarlumeEvent>varlumeevent 1.0.0, "
            "2006-08-24</VarlumeEvent></Varlume>");
  EXPECT_TRUE(sandbox::isFile(box.user(0).documents + "/Varlume/site.example/EventDatabase.db"));
}

}  // namespace
