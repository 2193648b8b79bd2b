// The C runtime's entry of every program: private file modes, the descriptor
// limit raised, signal set-up, the one command line from argv[1..], then the
// foundation's programEntry.
#include <signal.h>

#include <cstring>
#include <string>

#include "platform/descriptor_limit.h"
#include "platform/entry.h"
#include "platform/file_modes.h"

int main(int argc, char** argv) {
  // Each user's files are that user's alone: the cache, the site data, the
  // part files of waiting answers and the configuration.
  platform::makeNewFilesPrivate();
  // Every browser connection, outgoing connection and part file takes a
  // descriptor: a server takes all the system allows this user.
  platform::raiseDescriptorLimit();
  struct sigaction ignore;
  std::memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
  // Ignored SIGCHLD: the kernel reaps every child, none stays a zombie.
  ::sigaction(SIGCHLD, &ignore, nullptr);

  std::string commandLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) commandLine += ' ';
    commandLine += argv[i];
  }
  return programEntry(commandLine);
}
