#include "foundation/options.h"

#include <cstring>
#include <string>

int optionIndex = 1;
int optionPosition = 0;
char optionValue[kOptionValueSize] = {};

VLOptionLetters splitOptionLetters(const char* optionString) {
  VLOptionLetters letters;
  for (const char* p = optionString; p != nullptr && *p != 0; ++p) {
    if (*p == ':' || *p == '-') continue;
    if (p[1] == ':') {
      letters.withValue += *p;
    } else {
      letters.plain += *p;
    }
  }
  return letters;
}

char optionCharacterAt(char** argv, int index, int position) {
  const char* word = argv[index];
  if (word == nullptr || position < 0) return 0;
  std::size_t length = std::strlen(word);
  return static_cast<std::size_t>(position) < length ? word[position] : 0;
}

int takeOptionValue(int argc, char** argv, char letter) {
  ++optionIndex;
  if (optionIndex >= argc || argv[optionIndex] == nullptr) return '?';
  std::size_t length = std::strlen(argv[optionIndex]);
  if (length >= static_cast<std::size_t>(kOptionValueSize)) return '?';  // would not fit
  std::memcpy(optionValue, argv[optionIndex], length + 1);
  ++optionIndex;
  return static_cast<unsigned char>(letter);
}

int getOption(int argc, char** argv, const char* optionString) {
  optionValue[0] = '\0';

  const VLOptionLetters letters = splitOptionLetters(optionString);
  const std::string& plainLetters = letters.plain;
  const std::string& valueLetters = letters.withValue;

  if (argv == nullptr || optionIndex >= argc) return -1;

  // Plain letters at the current position of the current word.
  for (std::size_t k = 0; k < plainLetters.size();) {
    char c = optionCharacterAt(argv, optionIndex, optionPosition);
    if (c == 0) {
      ++optionIndex;
      optionPosition = 0;
      if (optionIndex >= argc) return -1;
      break;  // the next word is looked at for value letters only
    }
    if (c == '-') {
      ++optionPosition;
      continue;  // the same letter against the next character
    }
    if (c == plainLetters[k]) {
      ++optionPosition;
      return static_cast<unsigned char>(c);
    }
    ++k;
  }

  // Value letters stand at index 1 of the current word; the value is the next word.
  char letter = optionCharacterAt(argv, optionIndex, 1);
  if (letter != 0 && valueLetters.find(letter) != std::string::npos) {
    return takeOptionValue(argc, argv, letter);
  }
  return '?';
}

void resetOptionScanner() {
  optionIndex = 1;
  optionPosition = 0;
  optionValue[0] = '\0';
}
