// The whole road: varlume starts the event service from its program folder,
// and a page's /varlume/event/ URL reaches it through the proxy.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/event_service.h"
#include "support/proxy_process.h"

namespace {

namespace fs = std::filesystem;

// The process whose program is `path`, or -1.
pid_t processOf(const std::string& path) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code ignored;
    if (fs::read_symlink(entry.path() / "exe", ignored) == path) return static_cast<pid_t>(std::stol(name));
  }
  return -1;
}

// Ends the service the proxy started (the proxy never stops its services).
struct StartedService {
  std::string path;
  ~StartedService() {
    const pid_t pid = processOf(path);
    if (pid > 0) ::kill(pid, SIGKILL);
  }
};

TEST(EventThroughProxy, APageReachesTheStartedEventService) {
  sandbox::VLSandbox box;
  const std::string folder = box.programFiles() + "/Varlume";
  fs::create_directories(folder);
  StartedService started{folder + "/varlumeevent"};
  fs::copy_file(VARLUME_PROGRAM_DIR "/varlumeevent", started.path);

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
