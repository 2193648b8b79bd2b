#include "varlume/service_programs.h"

#include "platform/process.h"

namespace {

// How long a service may take to end on request before it is killed.
constexpr int kStopGraceMs = 2000;

}  // namespace

VLStartedServices startServicePrograms(const std::string& programFolder) {
  struct Program {
    const char* name;
    bool ownService;
  };
  VLStartedServices started;
  for (const Program& program : {Program{"varlumedb.exe", false}, Program{"varlumefile.exe", true},
                                 Program{"varlumeimage.exe", false}, Program{"varlumeevent.exe", true}}) {
    const std::string path = programFolder + program.name;
    long id = 0;
    if (platform::startProgram(path, &id)) {
      started.processIds.push_back(id);
    } else if (program.ownService) {
      std::string name = program.name;
      started.missing.push_back(name.substr(0, name.size() - 4));
    }
  }
  return started;
}

void stopServicePrograms(const VLStartedServices& started) {
  for (long id : started.processIds) platform::stopProgram(id, kStopGraceMs);
}
