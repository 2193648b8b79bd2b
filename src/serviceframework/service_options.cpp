#include "serviceframework/service_options.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "foundation/options.h"


int getServiceOption(int argc, char** argv, const char* optionString) {
  optionValue[0] = '\0';

  const VLOptionLetters letters = splitOptionLetters(optionString);
  const std::string& flagLetters = letters.plain;
  const std::string& valueLetters = letters.withValue;

  if (argv == nullptr || optionIndex >= argc) return -1;

  if (!flagLetters.empty()) {
    for (;;) {
      char c = optionCharacterAt(argv, optionIndex, optionPosition);
      if (c == 0) {
        // Used up: the next argument is looked at for value letters only.
        ++optionIndex;
        optionPosition = 0;
        if (optionIndex >= argc) return -1;
        break;
      }
      if (c == '-') {
        ++optionPosition;
        continue;
      }
      if (flagLetters.find(c) != std::string::npos) {
        ++optionPosition;
        return static_cast<unsigned char>(c);
      }
      break;
    }
  }

  if (!valueLetters.empty()) {
    char letter = optionCharacterAt(argv, optionIndex, 0);
    if (letter != 0 && valueLetters.find(letter) != std::string::npos) {
      return takeOptionValue(argc, argv, letter);
    }
  }
  return '?';
}

int formatText(char* buffer, const char* format, ...) {
  if (buffer == nullptr || format == nullptr) return -1;
  va_list arguments;
  va_start(arguments, format);
  int length = std::vsnprintf(buffer, kFormatTextSize, format, arguments);
  va_end(arguments);
  if (length < 0) {
    buffer[0] = '\0';
    return -1;
  }
  if (static_cast<std::size_t>(length) >= kFormatTextSize) return -1;
  return length;
}
