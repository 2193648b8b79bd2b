#include "support/whole_system.h"

#include <vector>

#include "support/service_process.h"

namespace servicetest {

namespace {

constexpr int kServiceStartMs = 30000;

}  // namespace

bool VLWholeSystem::start(int upstreamPort) {
  if (!services_.copy(box_, {"varlumefile", "varlumeevent"})) return false;
  // The portal page and its images get installed from here.
  const std::string work = box_.makeFolder("work");
  for (const std::string& name : sandbox::folderNames(VARLUME_PROGRAM_DIR)) {
    const std::string path = std::string(VARLUME_PROGRAM_DIR) + "/" + name;
    if (name.find('.') == std::string::npos || !sandbox::isFile(path)) continue;  // the programs
    if (!sandbox::writeFile(work + "/" + name, sandbox::readFile(path).value_or(""))) return false;
  }
  base_ = proxytest::freeServicesBase({0, 1, 2, 3});
  if (base_ <= 0) return false;
  std::vector<std::string> arguments;
  if (upstreamPort > 0) arguments = {"-x", "127.0.0.1", "-y", std::to_string(upstreamPort)};
  if (!proxy_.start(box_, base_, arguments)) return false;
  return sandbox::waitUntil(
      [&] { return isListening(base_ + kFileOffset) && isListening(base_ + kEventOffset); },
      kServiceStartMs);
}

}  // namespace servicetest
