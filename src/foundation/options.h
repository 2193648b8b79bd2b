// The main program's command-line option scanner. Its position lives in three
// process-wide variables (a program scans one argument vector, once); tests
// reset them with resetOptionScanner().
#pragma once
#include <string>

inline constexpr int kOptionValueSize = 4096;

extern int optionIndex;      // argument being scanned; starts at 1
extern int optionPosition;   // next character inside it; starts at 0
extern char optionValue[kOptionValueSize];  // value of the last value option

// Scans for the letters of `optionString` ("lh?p:x:y:": plain l, h, ?; value
// letters p, x, y whose value is the next word). Returns the letter found,
// '?' (unknown option, a word that is no option, a missing value, or a value
// of 4,096 bytes or more, which is refused) or -1 at the end. optionValue is
// emptied at every call.
int getOption(int argc, char** argv, const char* optionString);

// optionIndex 1, optionPosition 0, optionValue empty.
void resetOptionScanner();

// For the scanners: the letters of an option string, split into the plain
// ones and those that take a value (":" after them); ":" and "-" are skipped.
struct VLOptionLetters {
  std::string plain;
  std::string withValue;
};
VLOptionLetters splitOptionLetters(const char* optionString);
// For the letter of a value option at the current word: the value is the
// next word, copied into optionValue, and the scan moves past it. Returns
// the letter, or '?' when the value is missing or of 4,096 bytes or more.
int takeOptionValue(int argc, char** argv, char letter);
// The character at `position` of argument `index`; 0 at or past its end.
char optionCharacterAt(char** argv, int index, int position);
