// The program entry: builds the argument vector and calls vlApp.main.
#include <memory>
#include <string>
#include <vector>

#include "foundation/app.h"
#include "foundation/command_line.h"
#include "platform/entry.h"
#include "platform/paths.h"

namespace {
constexpr std::size_t kFullPathBufferSize = 4096;
}

std::string imageArgument() {
  char buffer[kFullPathBufferSize] = {};
  std::size_t length = platform::fullPathName(kImageFileName, buffer, sizeof buffer);
  if (length == 0) return kImageFileName;
  // A result that does not fit leaves the zero-filled buffer untouched.
  buffer[kFullPathBufferSize - 1] = '\0';
  return buffer;
}

std::vector<std::string> splitCommandLine(const std::string& text) {
  std::vector<std::string> arguments;
  std::string current;
  bool pending = false;
  for (char c : text) {
    if (c == ' ') {
      arguments.push_back(current);
      current.clear();
      pending = false;
    } else {
      current += c;
      pending = true;
    }
  }
  if (pending) arguments.push_back(current);
  return arguments;
}

void signalHandler(int signal) { vlApp.onSignal(signal); }

VLSignalHandler installSignalHandler(int, VLSignalHandler handler) { return handler; }

int programEntry(const std::string& commandLine) {
  std::vector<std::string> arguments;
  arguments.push_back(imageArgument());
  for (std::string& argument : splitCommandLine(commandLine)) arguments.push_back(std::move(argument));

  // Each argument in a zero-terminated buffer of its own; element argc is null.
  std::vector<std::unique_ptr<char[]>> copies;
  std::vector<char*> argv;
  for (const std::string& argument : arguments) {
    copies.push_back(std::make_unique<char[]>(argument.size() + 1));
    argument.copy(copies.back().get(), argument.size());
    copies.back()[argument.size()] = '\0';
    argv.push_back(copies.back().get());
  }
  argv.push_back(nullptr);

  installSignalHandler(2, signalHandler);
  installSignalHandler(15, signalHandler);

  return vlApp.main(static_cast<int>(arguments.size()), argv.data());
}
