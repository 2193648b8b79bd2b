#include "varlume/service_programs.h"

#include "platform/process.h"

void startServicePrograms(const std::string& programFolder) {
  for (const char* name : {"varlumedb.exe", "varlumefile.exe", "varlumeimage.exe", "varlumeevent.exe"}) {
    platform::startProgram(programFolder + name);
  }
}
