// The foundation tests' own program main: it records what the entry hands it.
#include <string>
#include <vector>

#include "foundation/app.h"

std::vector<std::string> recordedArguments;
bool recordedNullTerminator = false;
int recordedMainCalls = 0;
int mainResultForTests = 0;

int VLApp::main(int argc, char** argv) {
  recordedArguments.assign(argv, argv + argc);
  recordedNullTerminator = argv[argc] == nullptr;
  ++recordedMainCalls;
  return mainResultForTests;
}
