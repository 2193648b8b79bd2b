// The upload and download codecs: the documented examples, the warning texts
// with their positions, and escapes and groups split across read pieces.
#include <gtest/gtest.h>

#include <string>

#include "platform/paths.h"
#include "scratch_folder.h"
#include "support/file_size_limit.h"
#include "varlumefile/file_server.h"

namespace {

class Codecs : public ::testing::Test {
 protected:
  std::string input(const std::string& bytes, const std::string& name = "input.bin") {
    const std::string path = scratch.path(name);
    ScratchFolder::write(path, bytes);
    return platform::fromSystemPath(path);
  }
  std::string encode(const std::string& bytes) {
    const std::string out = handler.encodeBase64File(input(bytes));
    EXPECT_FALSE(out.empty());
    return ScratchFolder::read(platform::toSystemPath(out));
  }
  std::string decode(const std::string& text, std::string* message = nullptr, int* code = nullptr) {
    std::string warnings;
    int warning = 0;
    const std::string out = handler.decodeBase64File(input(text), warnings, warning);
    EXPECT_FALSE(out.empty());
    if (message) *message = warnings;
    if (code) *code = warning;
    return ScratchFolder::read(platform::toSystemPath(out));
  }
  std::string unescape(const std::string& text) {
    std::string ignored;
    int code = 0;
    const std::string out = handler.unescapeUpload(input(text), ignored, code);
    EXPECT_FALSE(out.empty());
    return ScratchFolder::read(platform::toSystemPath(out));
  }

  ScratchFolder scratch;
  VLFileHandler handler;
};

TEST_F(Codecs, EncodingGivesLinesOf76WithAFinalLineEnd) {
  EXPECT_EQ(encode("abc"), "YWJj\r\n");
  EXPECT_EQ(encode("ab"), "YWI=\r\n");
  EXPECT_EQ(encode("a"), "YQ==\r\n");
  EXPECT_EQ(encode(""), "");
  const std::string line57 = encode(std::string(57, 'x'));
  EXPECT_EQ(line57.size(), 78u);
  EXPECT_EQ(line57.substr(76), "\r\n");
  const std::string line58 = encode(std::string(58, 'x'));
  EXPECT_EQ(line58.size(), 78u + 6u);
  EXPECT_EQ(line58.substr(78), "eA==\r\n");
}

TEST_F(Codecs, EncodingThenDecodingGivesTheBytesBackAcrossPieces) {
  std::string bytes;
  for (int i = 0; i < 200000; ++i) bytes += static_cast<char>((i * 7919) & 0xFF);
  const std::string text = encode(bytes);
  std::string message;
  int code = 0;
  EXPECT_EQ(decode(text, &message, &code), bytes);
  EXPECT_EQ(message, "");
  EXPECT_EQ(code, 0);
}

TEST_F(Codecs, SeparatorsAnywhereAreSkipped) {
  EXPECT_EQ(decode("YW\r\nJj"), "abc");
  EXPECT_EQ(decode(" Y W J j \t"), "abc");
  EXPECT_EQ(decode("YWI=YWJj"), std::string("ab") + "abc");  // data after padding goes on
}

TEST_F(Codecs, PaddingAndCountWarningsNameTheirPositions) {
  const std::string path = input("");
  // A warning names the file alone, never the folder it lies in.
  const std::string name = "input.bin";
  struct WarningCase {
    std::string text;
    std::string bytes;
    std::string message;
    int code;
  };
  const WarningCase cases[] = {
      {"YW=j", "a`",
       "CP1:Padding error in Base64 encoded file " + name + " at position 4. Decoded file is unreliable.",
       1110},
      {"\r\n =WJj", std::string("\x01\x62", 2),
       "CP2:Padding error in Base64 encoded file " + name + " at position 7. Decoded file is unreliable.",
       1110},
      {"=W=j", std::string(1, '\x01'),
       "CP2:Padding error in Base64 encoded file " + name + " at position 4. Decoded file is unreliable."
       "CP1:Padding error in Base64 encoded file " + name + " at position 4. Decoded file is unreliable.",
       1110},
      {"YWJjYWJ", "abc",
       "Count of Base64 encoded characters in file " + name +
           " must be a multiple of four. There were 7 Base64 encoded characters in the file. Decoded file "
           "is unreliable.",
       1100},
  };
  for (const WarningCase& c : cases) {
    std::string warnings;
    int warning = 0;
    ScratchFolder::write(platform::toSystemPath(path), c.text);
    const std::string out = handler.decodeBase64File(path, warnings, warning);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(warnings, c.message) << c.text;
    EXPECT_EQ(warning, c.code) << c.text;
    EXPECT_EQ(ScratchFolder::read(platform::toSystemPath(out)), c.bytes) << c.text;
  }
}

TEST_F(Codecs, UnescapingFollowsTheDecoderRules) {
  EXPECT_EQ(unescape("plain text, no escapes + more"), "plain text, no escapes + more");
  EXPECT_EQ(unescape("a%41b%2fc"), "aAb/c");
  EXPECT_EQ(unescape(std::string("up to\0here", 10)), "up to");
  EXPECT_EQ(unescape("%3."), std::string(1, static_cast<char>((3 * 16 + ('.' - 48)) & 0xFF)));
  EXPECT_EQ(unescape("end%4"), "end\x04");
}

TEST_F(Codecs, AnEscapeSplitAcrossTwoPiecesDecodesAsOne) {
  for (std::size_t shift : {1u, 2u}) {
    std::string text(65536 - shift, 'x');
    text += "%41%42tail";
    EXPECT_EQ(unescape(text), std::string(65536 - shift, 'x') + "ABtail") << shift;
  }
}

TEST_F(Codecs, MissingInputGivesNoOutput) {
  std::string message;
  int code = 0;
  EXPECT_EQ(handler.decodeBase64File("", message, code), "");
  EXPECT_EQ(handler.unescapeUpload(platform::fromSystemPath(scratch.path("missing")), message, code), "");
  EXPECT_EQ(handler.encodeBase64File(platform::fromSystemPath(scratch.path("missing"))), "");
  EXPECT_EQ(message, "");
  EXPECT_EQ(scratch.tempFileCount(), 0);
}

}  // namespace

namespace {

TEST_F(Codecs, AnOutputThatCannotBeWrittenWholeIsNoOutput) {
  const std::string bytes(300000, 'z');
  const std::string text = encode(bytes);  // its output stays in the temporary folder
  const std::string path = input(bytes, "plain.bin");
  const std::string encodedPath = input(text, "encoded.txt");
  testsupport::FileSizeLimit limit(200000);
  std::string message;
  int code = 0;
  EXPECT_EQ(handler.encodeBase64File(path), "");
  EXPECT_EQ(handler.decodeBase64File(encodedPath, message, code), "");
  EXPECT_EQ(handler.unescapeUpload(path, message, code), "");
  EXPECT_EQ(scratch.tempFileCount(), 1);  // no partial output is left
}

}  // namespace
