// The real varlume started in a sandbox of folders: the start-up log byte for
// byte, varlume.config of successive users, options and upstream-proxy checks,
// default files, the temporary folder, the per-user lock, the service
// programs and a key that cannot be decoded; bad ports, failure statuses and
// standard error, a second start of a running user, a start that cannot
// listen, the warnings of a start that lacks what it needs, and a shared
// all-users folder that another user may change.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/sockets.h"
#include "support/proxy_process.h"
#include "support/sandbox.h"
#include "support/service_copies.h"
#include "support/service_process.h"
#include "support/startup_log_text.h"
#include "support/other_user.h"

namespace {

using sandbox::VLChildProgram;
using sandbox::VLSandbox;

const std::string kProgram = VARLUME_PROGRAM_DIR "/varlume";
const std::string kBrokenKeyProgram = VARLUME_BINARY_DIR "/testprograms/varlume_brokenkey";
constexpr int kStartLimitMs = 20000;

const std::string kFirstSet =
    "varlume=8080&proxyport=0&proxyhost=&varlumeservices=45000&varlumeinternal=50000&range=500\r\n";
const std::string kSecondSet =
    "varlume=8081&proxyport=0&proxyhost=&varlumeservices=45020&varlumeinternal=50500&range=500\r\n";
const std::string kThirdSet =
    "varlume=8082&proxyport=0&proxyhost=&varlumeservices=45040&varlumeinternal=51000&range=500\r\n";

const std::string kUsage =
    "\n"
    "varlumeimage.exe: 1.0.0, 2006-08-24\n"
    "usage: varlumeimage.exe\n"
    "-p port        - the port on which to listen, default 8080\n"
    "-x proxy       - the URI or IP address of the proxy to use\n"
    "-y port        - the port on the proxy to connect to\n"
    "-l             - increase the loglevel, default is 0\n"
    "-h             - display this usage help\n"
    "\n";

const std::string kLogStart = "Varlume startup log.\n";

struct Configuration {
  Configuration(int port, int servicesPort = 45000, int internalPort = 50000)
      : listening(port), services(servicesPort), internal(internalPort) {}
  int listening;
  int services = 45000;
  int internal = 50000;
  int range = 500;
  std::string host;
  int proxyPort = 0;
};

struct StartResult {
  bool ended = false;  // the program ended by itself (else it serves)
  int status = -1;
  std::string log;       // without its warning lines
  std::string warnings;  // the warning lines
  std::string output;    // standard output and error
};

class Startup : public ::testing::Test {
 protected:
  Startup() : work(box.makeFolder("work")) {}

  const sandbox::VLSandboxUser& user(int index = 0) { return box.user(index); }
  std::string userFolder(int index = 0) { return user(index).localAppData + "/Varlume/"; }
  std::string allUsersFolder() { return box.commonAppData() + "/Varlume/"; }
  std::string logPath(int index = 0) { return user(index).documents + "/VarlumeStartupLog.txt"; }

  // Starts the program for user `index` and waits until it ended or its log
  // shows the complete configuration (it then serves, and is stopped).
  StartResult run(const std::vector<std::string>& arguments, int index = 0,
                  const std::string& program = kProgram) {
    StartResult result;
    // A log left from an earlier start: it must be emptied, and must not count.
    sandbox::writeFile(logPath(index), "an earlier start's log\n");
    VLChildProgram child;
    if (!child.start(program, arguments, work, box.environment(index),
                     box.root() + "/output.txt")) {
      ADD_FAILURE() << "cannot start " << program;
      return result;
    }
    const std::string path = logPath(index);
    sandbox::waitUntil([&] {
      if (!child.running()) return true;
      auto log = sandbox::readFile(path);
      return log && log->find("\n  Temp Path:") != std::string::npos && log->back() == '\n';
    }, kStartLimitMs);
    result.ended = child.waitForExit(0, &result.status);
    if (!result.ended) child.stop();
    const std::string log = sandbox::readFile(path).value_or("<no log>");
    result.log = startuplog::withoutWarnings(log);
    result.warnings = startuplog::warnings(log);
    result.output = sandbox::readFile(box.root() + "/output.txt").value_or("");
    return result;
  }

  // The log of a start that reached the listener.
  std::string completeLog(int index, const Configuration& c) {
    const std::string documents = sandbox::programsForm(user(index).documents);
    const std::string local = sandbox::programsForm(user(index).localAppData);
    return kLogStart +
           "Varlume initialisation complete. Listening for browser connections.\n"
           "Active configuration is:\n"
           "  Listening Port:     " + std::to_string(c.listening) + "\n" +
           "  Internal Port:      " + std::to_string(c.internal) + "\n" +
           "  Internal Range:     " + std::to_string(c.range) + "\n" +
           "  Base Services Port: " + std::to_string(c.services) + "\n" +
           "  Proxy Host:         " + c.host + "\n" +
           "  Proxy Port:         " + std::to_string(c.proxyPort) + "\n" +
           "  Base Path:          " + documents + "\\Varlume\\\n" +
           "  Temp Path:          " + local + "\\Varlume\\Temp\\\n";
  }

  int freePort() { return sandbox::freeLoopbackPorts(1).at(0); }

  VLSandbox box;
  std::string work;  // the working folder; empty unless a test fills it
};

TEST_F(Startup, FirstStartOfTheMachineTakesTheFirstSet) {
  const int port = freePort();
  StartResult result = run({"-p", std::to_string(port)});
  EXPECT_EQ(result.log, completeLog(0, {port}));
  if (result.ended) {
    EXPECT_EQ(result.status, 0);
  }
  EXPECT_EQ(sandbox::readFile(userFolder() + "varlume.config"), kFirstSet);
  EXPECT_EQ(sandbox::readFile(allUsersFolder() + "varlume.config"), kSecondSet);
  EXPECT_TRUE(sandbox::isFolder(userFolder() + "Temp"));
}

TEST_F(Startup, EachNewUserTakesTheNextSetAndKeepsIt) {
  run({"-p", std::to_string(freePort())}, 0);
  const int port = freePort();
  StartResult second = run({"-p", std::to_string(port)}, 1);
  EXPECT_EQ(second.log, completeLog(1, {port, 45020, 50500}));
  EXPECT_EQ(sandbox::readFile(userFolder(1) + "varlume.config"), kSecondSet);
  EXPECT_EQ(sandbox::readFile(allUsersFolder() + "varlume.config"), kThirdSet);

  // A user with a file keeps it; the all-users file does not move.
  StartResult again = run({"-p", std::to_string(port)}, 0);
  EXPECT_EQ(again.log, completeLog(0, {port}));
  EXPECT_EQ(sandbox::readFile(userFolder(0) + "varlume.config"), kFirstSet);
  EXPECT_EQ(sandbox::readFile(allUsersFolder() + "varlume.config"), kThirdSet);
}

TEST_F(Startup, FirstStartsAtTheSameTimeTakeDistinctSets) {
  constexpr int kUsers = 4;
  std::vector<int> ports = sandbox::freeLoopbackPorts(kUsers);
  ASSERT_EQ(ports.size(), static_cast<std::size_t>(kUsers));
  // With the shipped seed beside the program, as installed: its copy into the
  // all-users folder must not undo another start's advance.
  std::filesystem::copy_file(VARLUME_SOURCE_DIR "/data/varlume.config", work + "/varlume.config");
  std::vector<std::unique_ptr<VLChildProgram>> children;
  for (int i = 0; i < kUsers; ++i) {
    children.push_back(std::make_unique<VLChildProgram>());
    ASSERT_TRUE(children.back()->start(kProgram, {"-p", std::to_string(ports[i])}, work,
                                       box.environment(i)));
  }
  for (int i = 0; i < kUsers; ++i) {
    sandbox::waitUntil([&] {
      if (!children[i]->running()) return true;
      auto log = sandbox::readFile(logPath(i));
      return log && log->find("\n  Temp Path:") != std::string::npos;
    }, kStartLimitMs);
  }
  std::vector<std::string> files;
  for (int i = 0; i < kUsers; ++i) {
    files.push_back(sandbox::readFile(userFolder(i) + "varlume.config").value_or(""));
  }
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{
                       kFirstSet, kSecondSet, kThirdSet,
                       "varlume=8083&proxyport=0&proxyhost=&varlumeservices=45060&"
                       "varlumeinternal=51500&range=500\r\n"}));
  EXPECT_EQ(sandbox::readFile(allUsersFolder() + "varlume.config"),
            "varlume=8084&proxyport=0&proxyhost=&varlumeservices=45080&varlumeinternal=52000&"
            "range=500\r\n");
}

TEST_F(Startup, BadOptionsWriteTheUsageTextAndEndWithOne) {
  const std::vector<std::vector<std::string>> cases = {
      {"-h"}, {"-?"}, {"-z"}, {"-p"}, {"-p8080"}, {"-l", "-h"}, {"-p", "9000", "-x"}};
  // Steps after the checks never run: a file in the temporary folder stays.
  sandbox::writeFile(userFolder() + "varlume.config", kFirstSet);
  sandbox::writeFile(userFolder() + "Temp/left.tmp", "x");
  for (const auto& arguments : cases) {
    SCOPED_TRACE(arguments.front());
    StartResult result = run(arguments);
    EXPECT_TRUE(result.ended);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.log, kLogStart + kUsage);
  }
  EXPECT_TRUE(sandbox::isFile(userFolder() + "Temp/left.tmp"));
}

TEST_F(Startup, UpstreamProxyChecks) {
  const int port = freePort();
  const std::string p = std::to_string(port);
  struct Case {
    const char* what;
    std::vector<std::string> arguments;
    std::string userFile;
    std::string tail;  // what follows "Varlume startup log."
  } cases[] = {
      {"host without a port", {"-x", "127.0.0.1", "-y", "-1"}, "",
       kUsage + "Proxy specified but no port on proxy specified. Varlume aborting.\n"},
      {"port without a host", {"-y", "3128"}, "",
       kUsage + "Proxy not specified but proxy port specified. Varlume aborting.\n"},
      {"port without a host, from the file", {"-p", p},
       "varlume=8080&proxyport=3128&proxyhost=&varlumeservices=45000&varlumeinternal=50000&"
       "range=500\r\n",
       kUsage + "Proxy not specified but proxy port specified. Varlume aborting.\n"},
      {"host at the end of the file without a port", {"-p", p},
       "varlume=8080&proxyport=-1&varlumeservices=45000&varlumeinternal=50000&range=500&"
       "proxyhost=up.invalid\r\n",
       kUsage + "Proxy specified but no port on proxy specified. Varlume aborting.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(userFolder());
    if (!c.userFile.empty()) sandbox::writeFile(userFolder() + "varlume.config", c.userFile);
    StartResult result = run(c.arguments);
    EXPECT_TRUE(result.ended);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.log, kLogStart + c.tail);
  }

  // The same port on a numeric host: its official name is not this machine's.
  sandbox::writeFile(userFolder() + "varlume.config", kFirstSet);
  StartResult passes = run({"-p", p, "-x", "127.0.0.1", "-y", p});
  Configuration expected{port};
  expected.host = "127.0.0.1";
  expected.proxyPort = port;
  EXPECT_EQ(passes.log, completeLog(0, expected));
}

TEST_F(Startup, AnUpstreamProxyOnThisMachineAndPortIsRefused) {
  std::string name, official;
  if (!platform::localHostName(name) || platform::officialHostName(name, official) != 0) {
    GTEST_SKIP() << "this machine's own name does not resolve";
  }
  const std::string p = std::to_string(freePort());
  StartResult result = run({"-p", p, "-x", name, "-y", p});
  EXPECT_TRUE(result.ended);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.log, kLogStart +
                            "A proxy hosted on the same (v)machine as varlume cannot listen on "
                            "the same port as varlume. Cannot continue.\n");
}

TEST_F(Startup, DefaultFilesAreInstalledWhenMissingAndNeverOverwritten) {
  const std::vector<std::string> allUsersFiles = {
      "IE.browser", "Firefox.browser", "IE.browser.sig", "Firefox.browser.sig",
      "CacheDomains.txt", "CacheTypes.txt"};
  const std::vector<std::string> images = {
      "sqlite.gif", "imagemagik.jpg", "varlumeLogoMedium.png", "flourish_one_vertical_01.png"};
  auto content = [](const std::string& name) { return name + std::string("\r\n\0\xff", 4); };
  for (const auto& name : allUsersFiles) sandbox::writeFile(work + "/" + name, content(name));
  for (const auto& name : images) sandbox::writeFile(work + "/" + name, content(name));
  sandbox::writeFile(work + "/varlumeportal.html", content("varlumeportal.html"));
  // The shipped all-users seed.
  std::filesystem::copy_file(VARLUME_SOURCE_DIR "/data/varlume.config", work + "/varlume.config");
  // The stand-in scripts are unsigned: done copies keep them from running.
  sandbox::writeFile(userFolder() + "IE.browser", content("IE.browser"));
  sandbox::writeFile(userFolder() + "Firefox.browser", content("Firefox.browser"));

  const int port = freePort();
  StartResult result = run({"-p", std::to_string(port)});
  EXPECT_EQ(result.log, completeLog(0, {port}));
  const std::string privileged = user().documents + "/Varlume/varlume.internal/";
  for (const auto& name : allUsersFiles) {
    EXPECT_EQ(sandbox::readFile(allUsersFolder() + name), content(name)) << name;
  }
  for (const auto& name : images) {
    EXPECT_EQ(sandbox::readFile(privileged + "images/" + name), content(name)) << name;
  }
  EXPECT_EQ(sandbox::readFile(privileged + "varlumeportal.html"), content("varlumeportal.html"));
  // The seed was the first set: this user took it, the next user gets the second.
  EXPECT_EQ(sandbox::readFile(userFolder() + "varlume.config"), kFirstSet);
  EXPECT_EQ(sandbox::readFile(allUsersFolder() + "varlume.config"), kSecondSet);

  // A changed file stays; a deleted one comes back.
  sandbox::writeFile(allUsersFolder() + "CacheTypes.txt", "changed");
  std::filesystem::remove(privileged + "images/sqlite.gif");
  run({"-p", std::to_string(port)});
  EXPECT_EQ(sandbox::readFile(allUsersFolder() + "CacheTypes.txt"), "changed");
  EXPECT_EQ(sandbox::readFile(privileged + "images/sqlite.gif"), content("sqlite.gif"));
  EXPECT_EQ(sandbox::readFile(allUsersFolder() + "varlume.config"), kSecondSet);
  // Nothing but the files themselves: no copy left half-way.
  EXPECT_EQ(sandbox::folderNames(privileged + "images"),
            (std::vector<std::string>{"flourish_one_vertical_01.png", "imagemagik.jpg",
                                      "sqlite.gif", "varlumeLogoMedium.png"}));
}

TEST_F(Startup, TheTemporaryFolderIsEmptiedAndItsSubFoldersKept) {
  sandbox::writeFile(userFolder() + "varlume.config", kFirstSet);
  const int port = freePort();
  run({"-p", std::to_string(port)});
  EXPECT_TRUE(sandbox::isFolder(userFolder() + "Temp"));  // made although the file existed

  const std::string temp = userFolder() + "Temp/";
  sandbox::writeFile(temp + "vl1_0.tmp", "part");
  sandbox::writeFile(temp + "body_3.vlfile", "body");
  sandbox::writeFile(temp + "sub/inner.tmp", "inner");
  StartResult result = run({"-p", std::to_string(port)});
  EXPECT_EQ(result.log, completeLog(0, {port}));
  EXPECT_EQ(sandbox::folderNames(temp), std::vector<std::string>{"sub"});
  EXPECT_EQ(sandbox::readFile(temp + "sub/inner.tmp"), "inner");
}

TEST_F(Startup, ASecondInstanceOfTheUserLeavesTheTemporaryFolderAlone) {
  sandbox::writeFile(userFolder() + "varlume.config", kFirstSet);
  sandbox::writeFile(userFolder() + "Temp/vl7_0.tmp", "part of the running instance");
  platform::FileLock running;  // the lock of the instance that runs
  ASSERT_TRUE(running.tryLock(userFolder() + "varlume.lock"));
  const int port = freePort();
  run({"-p", std::to_string(port)});
  EXPECT_EQ(sandbox::readFile(userFolder() + "Temp/vl7_0.tmp"), "part of the running instance");

  running.unlock();
  run({"-p", std::to_string(port)});
  EXPECT_FALSE(sandbox::isFile(userFolder() + "Temp/vl7_0.tmp"));
}

TEST_F(Startup, ServiceProgramsStartWithoutArguments) {
  // Stand-ins for the services; the image service is missing, which must not
  // keep the others from starting.
  const std::string programs = box.programFiles() + "/Varlume/";
  for (const char* name : {"varlumedb", "varlumefile", "varlumeevent"}) {
    const std::string script = programs + name;
    sandbox::writeFile(script, std::string("#!/bin/sh\necho \"$#\" > \"$VARLUME_DOCUMENTS_DIR/") +
                                   name + ".started\"\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  }
  run({"-p", std::to_string(freePort())});
  for (const char* name : {"varlumedb", "varlumefile", "varlumeevent"}) {
    const std::string marker = user().documents + "/" + name + ".started";
    EXPECT_TRUE(sandbox::waitUntil(
        [&] { return sandbox::readFile(marker).value_or("") == "0\n"; }, kStartLimitMs))
        << name;
  }
}

TEST_F(Startup, AKeyThatCannotBeDecodedEndsWithOne) {
  StartResult result = run({}, 0, kBrokenKeyProgram);
  EXPECT_TRUE(result.ended);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.log,
            kLogStart + "Failed to load the mandatory cryptography strings. Varlume aborting.\n");
  EXPECT_FALSE(sandbox::isFolder(userFolder()));  // the configuration was never reached
}

// A user configuration with every key; the listening port given.
std::string configurationText(int listening, int services, int internal) {
  return "varlume=" + std::to_string(listening) + "&proxyport=0&proxyhost=&varlumeservices=" +
         std::to_string(services) + "&varlumeinternal=" + std::to_string(internal) + "&range=500\r\n";
}

TEST_F(Startup, PortsOutsideOneTo65535EndStartUpWithALineNamingTheSetting) {
  const std::string file = "[" + sandbox::programsForm(userFolder()) + "varlume.config]";
  const std::string p = std::to_string(freePort());
  const std::string listening = " gives the listening port 0; it must be 1 to 65535. Varlume aborting.";
  struct Case {
    const char* what;
    std::string userFile;
    std::vector<std::string> arguments;
    std::string line;
  } cases[] = {
      {"an empty file", "", {}, "The setting varlume (missing) in " + file + listening},
      {"garbage", "garbage\r\n", {}, "The setting varlume (missing) in " + file + listening},
      {"a value without digits", "varlume=abc&varlumeservices=45000&varlumeinternal=50000&range=500", {},
       "The setting varlume=abc in " + file + listening},
      {"-p without digits", configurationText(8080, 45000, 50000), {"-p", "abc"},
       "The option -p abc on the command line" + listening},
      {"-p beyond the last port", configurationText(8080, 45000, 50000), {"-p", "65536"},
       "The option -p 65536 on the command line gives the listening port 65536; it must be 1 to 65535. "
       "Varlume aborting."},
      {"no services base", "varlume=8080&varlumeinternal=50000&range=500", {"-p", p},
       "The setting varlumeservices (missing) in " + file +
           " gives the service ports 0 to 5; they must be 1 to 65535. Varlume aborting."},
      {"services above the last port", configurationText(8080, 65531, 50000), {"-p", p},
       "The setting varlumeservices=65531 in " + file +
           " gives the service ports 65531 to 65536; they must be 1 to 65535. Varlume aborting."},
      {"no range", "varlume=8080&varlumeservices=45000&varlumeinternal=50000", {"-p", p},
       "The setting range (missing) in " + file + " gives 0 notification ports; it must be 1 or more. "
       "Varlume aborting."},
      {"notification ports beyond the last port", configurationText(8080, 45000, 65100), {"-p", p},
       "The setting varlumeinternal=65100 in " + file +
           " gives, with range 500, the notification ports 65100 to 65599; they must be 1 to 65535. "
           "Varlume aborting."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sandbox::writeFile(userFolder() + "varlume.config", c.userFile);
    StartResult result = run(c.arguments);
    EXPECT_TRUE(result.ended);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.log, kLogStart + c.line + "\n");
    EXPECT_NE(result.output.find(c.line + "\n"), std::string::npos) << result.output;
    EXPECT_EQ(result.warnings, "");  // it ended before looking for what it needs
  }
}

TEST_F(Startup, EveryFailureThatEndsStartUpEndsNonZeroAndSaysWhyOnStandardError) {
  // A file where the user folder should be: it cannot be made.
  sandbox::writeFile(user().localAppData + "/Varlume", "not a folder");
  StartResult noFolder = run({});
  const std::string line =
      "Failed to create directory [" + sandbox::programsForm(userFolder()) + "]. Varlume aborting.";
  EXPECT_TRUE(noFolder.ended);
  EXPECT_EQ(noFolder.status, 1);
  EXPECT_EQ(noFolder.log, kLogStart + line + "\n");
  EXPECT_NE(noFolder.output.find(line + "\n"), std::string::npos) << noFolder.output;

  std::filesystem::remove(user().localAppData + "/Varlume");
  StartResult help = run({"-h"});
  EXPECT_EQ(help.status, 1);
  EXPECT_NE(help.output.find(kUsage), std::string::npos) << help.output;

  StartResult upstream = run({"-y", "3128"});
  EXPECT_EQ(upstream.status, 1);
  EXPECT_NE(upstream.output.find(kUsage + "Proxy not specified but proxy port specified. Varlume aborting.\n"),
            std::string::npos)
      << upstream.output;
}

TEST_F(Startup, ASecondStartOfTheUserLeavesTheRunningInstanceAlone) {
  const int port = freePort();
  sandbox::writeFile(userFolder() + "varlume.config", kFirstSet);
  VLChildProgram running;
  ASSERT_TRUE(running.start(kProgram, {"-p", std::to_string(port)}, work, box.environment(0)));
  ASSERT_TRUE(sandbox::waitUntil([&] {
    auto log = sandbox::readFile(logPath());
    return log && log->find("\n  Temp Path:") != std::string::npos && log->back() == '\n';
  }, kStartLimitMs));
  const std::string runningLog = sandbox::readFile(logPath()).value_or("");

  VLChildProgram second;
  const std::string output = box.root() + "/second.txt";
  ASSERT_TRUE(second.start(kProgram, {"-p", std::to_string(freePort())}, work, box.environment(0), output));
  int status = -1;
  ASSERT_TRUE(second.waitForExit(kStartLimitMs, &status));
  EXPECT_EQ(status, 1);
  EXPECT_EQ(sandbox::readFile(output),
            "Varlume is already running for this user, listening on 127.0.0.1 port " + std::to_string(port) +
                ". This start ends; the running instance is left as it is.\n");
  EXPECT_EQ(sandbox::readFile(logPath()), runningLog);
  EXPECT_TRUE(running.running());
  const int client = proxytest::connectLoopback(port);
  EXPECT_GE(client, 0);
  proxytest::closeConnection(client);
}

TEST_F(Startup, AStartThatCannotListenStopsTheServicesItBegan) {
  servicetest::VLServiceCopies services;
  ASSERT_TRUE(services.copy(box, {"varlumefile", "varlumeevent"}));
  const platform::Socket taken = platform::tcpSocket();
  ASSERT_TRUE(platform::bindSocket(taken, platform::kLoopbackAddress, 0));
  ASSERT_TRUE(platform::listenSocket(taken, 1));
  const int port = platform::localPort(taken);
  const int base = proxytest::freeServicesBase({0, 3});
  sandbox::writeFile(userFolder() + "varlume.config", configurationText(port, base, freePort()));

  StartResult result = run({});
  EXPECT_TRUE(result.ended);
  EXPECT_EQ(result.status, 1);
  const std::string line =
      "Could not listen for browser connections on 127.0.0.1 port " + std::to_string(port) + ". Varlume aborting.";
  EXPECT_EQ(result.log, kLogStart + line + "\n");
  EXPECT_NE(result.output.find(line), std::string::npos) << result.output;
  // The services it began are gone, and their ports are free again.
  EXPECT_TRUE(sandbox::waitUntil([&] { return !services.anyRunning(); }, 10000));
  EXPECT_FALSE(servicetest::isListening(base));
  EXPECT_FALSE(servicetest::isListening(base + 3));
  platform::closeSocket(taken);
}

TEST_F(Startup, AStartWarnsOfEachFileAndServiceItLacksAndGoesOn) {
  const int port = freePort();
  const std::string local = sandbox::programsForm(userFolder());
  const std::string common = sandbox::programsForm(allUsersFolder());
  const std::string programs = sandbox::programsForm(box.programFiles()) + "\\Varlume\\";
  const std::string portal =
      sandbox::programsForm(user().documents) + "\\Varlume\\varlume.internal\\varlumeportal.html";
  StartResult bare = run({"-p", std::to_string(port)});
  EXPECT_FALSE(bare.ended);
  EXPECT_EQ(bare.log, completeLog(0, {port}));
  EXPECT_EQ(bare.warnings,
            "Warning: the portal page [" + portal +
                "] is missing: a site that cannot be reached gets no portal page. Start-up goes on.\n"
                "Warning: the service program varlumefile is missing from [" + programs +
                "]: pages get no answer from its service. Start-up goes on.\n"
                "Warning: the service program varlumeevent is missing from [" + programs +
                "]: pages get no answer from its service. Start-up goes on.\n"
                "Warning: the cache rule file CacheTypes.txt is missing from [" + local + "] and [" + common +
                "]: the built-in cache rules apply. Start-up goes on.\n"
                "Warning: the cache rule file CacheDomains.txt is missing from [" + local + "] and [" + common +
                "]: the built-in cache rules apply. Start-up goes on.\n");

  // Installed as shipped: the data files beside the program, the services in
  // the program folder.
  servicetest::VLServiceCopies services;
  ASSERT_TRUE(services.copy(box, {"varlumefile", "varlumeevent"}));
  for (const char* name : {"varlumeportal.html", "CacheTypes.txt", "CacheDomains.txt"}) {
    std::filesystem::copy_file(std::string(VARLUME_SOURCE_DIR "/data/") + name, work + "/" + name);
  }
  // The real services then run: on ports nobody else uses.
  const int base = proxytest::freeServicesBase({0, 3});
  sandbox::writeFile(userFolder() + "varlume.config", configurationText(port, base, 50000));
  StartResult installed = run({"-p", std::to_string(port)});
  EXPECT_EQ(installed.log, completeLog(0, {port, base}));
  EXPECT_EQ(installed.warnings, "");
}

// How another user of the machine may change a file of the all-users folder.
struct SharedCase {
  const char* name;
  bool needsRoot;  // takes another user's id
  // Applied to the all-users folder and to each file in it.
  bool (*share)(const std::string& folder, const std::string& file);
};

void PrintTo(const SharedCase& c, std::ostream* out) { *out << c.name; }

const SharedCase kSharedCases[] = {
    {"GroupWritableFile", false,
     [](const std::string&, const std::string& file) { return ::chmod(file.c_str(), 0664) == 0; }},
    {"OtherWritableFile", false,
     [](const std::string&, const std::string& file) { return ::chmod(file.c_str(), 0646) == 0; }},
    {"GroupWritableFolder", false,
     [](const std::string& folder, const std::string&) { return ::chmod(folder.c_str(), 02775) == 0; }},
    {"AnotherUsersFile", true,
     [](const std::string&, const std::string& file) {
       return ::chown(file.c_str(), testsupport::kOtherUser, testsupport::kOtherUser) == 0;
     }},
};

class SharedAllUsersFolder : public Startup, public ::testing::WithParamInterface<SharedCase> {};

// Another user's varlume.config never gives this user an upstream proxy (it
// would see every request): a first start takes only its port set. Another
// user's rule file is not read; the warning line says so.
TEST_P(SharedAllUsersFolder, AFirstStartTakesOnlyThePortSetAndNoRuleFile) {
  const SharedCase& c = GetParam();
  if (c.needsRoot && ::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  const int port = freePort();
  const int upstream = freePort();
  const std::string seeded = "varlume=" + std::to_string(port) + "&proxyport=" +
                             std::to_string(upstream) +
                             "&proxyhost=127.0.0.1&varlumeservices=45000&varlumeinternal=50000&range=500\r\n";
  const std::string folder = allUsersFolder();
  ASSERT_TRUE(sandbox::writeFile(folder + "varlume.config", seeded));
  ASSERT_TRUE(sandbox::writeFile(folder + "CacheTypes.txt", "JS=TRUE\r\n"));
  ASSERT_TRUE(sandbox::writeFile(work + "/CacheTypes.txt", "GIF\r\n"));  // the shipped copy
  for (const char* name : {"varlume.config", "CacheTypes.txt"}) {
    ASSERT_TRUE(c.share(folder, folder + name)) << name;
  }

  StartResult result = run({});
  EXPECT_FALSE(result.ended) << result.output;
  EXPECT_EQ(result.log, completeLog(0, {port}));
  EXPECT_EQ(sandbox::readFile(userFolder() + "varlume.config"), configurationText(port, 45000, 50000));
  const std::string common = sandbox::programsForm(folder);
  EXPECT_NE(result.warnings.find("Warning: the cache rule file [" + common +
                                 "CacheTypes.txt] can be changed by other users: the shipped copy "
                                 "is read in its place. Start-up goes on.\n"),
            std::string::npos)
      << result.warnings;
  ::chmod(folder.c_str(), 0755);
}

INSTANTIATE_TEST_SUITE_P(AnotherUser, SharedAllUsersFolder, ::testing::ValuesIn(kSharedCases),
                         [](const ::testing::TestParamInfo<SharedCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
