// Uploads and string files over real sockets: multipart parts as sent, in
// Base64 or %XX form, stored byte-identical; names that exist already; whole
// names only in the look-up; the decoders' warnings; no temporary file left;
// many uploads at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/file_service_fixture.h"
#include "support/other_file_system.h"

namespace {

namespace fs = std::filesystem;
using filetest::errorXml;
using filetest::FileServiceTest;
using filetest::successXml;
using filetest::Upload;

class FileUploads : public FileServiceTest {};

std::string binaryBytes() {
  static const char kStart[] = "\0\x01--\r\n--not a boundary\r\n\xff\xfe";
  std::string bytes(kStart, sizeof kStart - 1);
  for (int i = 0; i < 70000; ++i) bytes += static_cast<char>((i * 131) & 0xFF);
  return bytes + "\r\n--";
}

std::string base64Of(const std::string& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t n = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(n >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[n & 63] : '=';
    if (out.size() % 78 == 76) out += "\r\n";
  }
  return out;
}

std::string escapedOf(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    out += '%';
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

TEST_F(FileUploads, PartsAreStoredByteIdenticalInEveryEncoding) {
  const std::string bytes = binaryBytes();
  EXPECT_EQ(upload("/SAVEFILE?Path=up/plain", {{"a.bin", bytes}, {"b.txt", "bee"}, {"c.txt", ""}}).body,
            successXml());
  EXPECT_EQ(stored("up/plain/a.bin"), bytes);
  EXPECT_EQ(stored("up/plain/b.txt"), "bee");
  EXPECT_EQ(stored("up/plain/c.txt"), "");
  EXPECT_EQ(upload("/SAVEFILE?Path=up/b64&Encoding=base64", {{"a.bin", base64Of(bytes)}}).body, successXml());
  EXPECT_EQ(stored("up/b64/a.bin"), bytes);
  // %XX decoding ends at a NUL, so the escaped form carries the NUL as %00.
  EXPECT_EQ(upload("/SAVEFILE?Path=up/esc&Encoding=ESCAPED", {{"a.bin", escapedOf(bytes)}}).body, successXml());
  EXPECT_EQ(stored("up/esc/a.bin"), bytes);
  EXPECT_EQ(upload("/SAVEFILE?Path=up/none", {}).body, successXml());
  EXPECT_TRUE(fs::is_directory(home() + "/up/none"));
  expectNoTempFilesLeft();
}

TEST_F(FileUploads, NamesThatExistAlreadyAreNotSaved) {
  const std::vector<Upload> files = {{"a.txt", "1"}, {"b.txt", "2"}, {"c.txt", "3"}};
  EXPECT_EQ(upload("/SAVEFILE?Path=d", files).body, successXml());
  const std::vector<Upload> again = {{"a.txt", "x"}, {"b.txt", "y"}, {"c.txt", "z"}};
  EXPECT_EQ(upload("/SAVEFILE?Path=d", again).body, errorXml("1080", "3 files not saved. "));
  EXPECT_EQ(stored("d/a.txt") + stored("d/b.txt") + stored("d/c.txt"), "123");
  EXPECT_EQ(upload("/SAVEFILE?Path=d&Encoding=BASE64", {{"a.txt", "eA=="}}).body,
            errorXml("1080", "1 files not saved. "));
  expectNoTempFilesLeft();
}

TEST_F(FileUploads, TheLookUpMatchesWholeNamesOnly) {
  EXPECT_EQ(upload("/SAVEFILE?Path=w", {{"ba.txt", "long name"}, {"a.txt", "short name"}}).body, successXml());
  EXPECT_EQ(stored("w/ba.txt"), "long name");
  EXPECT_EQ(stored("w/a.txt"), "short name");
  // Names holding the parameter syntax are names like any other.
  EXPECT_EQ(upload("/SAVEFILE?Path=w", {{"x=y&z.txt", "syntax"}, {"z.txt", "plain"}}).body, successXml());
  EXPECT_EQ(stored("w/x=y&z.txt"), "syntax");
  EXPECT_EQ(stored("w/z.txt"), "plain");
  // Names are cleaned and kept inside the folder: separators, drives, dots.
  // The last two name folders that do not exist: the renames find no parent.
  const std::string reply =
      upload("/SAVEFILE?Path=w", {{"..\\..\\x.txt", "x"}, {"c:\\y.txt", "y"}, {"sub%2Fz.txt", "z"}}).body;
  EXPECT_EQ(reply.rfind(errorXml("1080", "2 files not saved. A  directory component in ").substr(0, 90), 0), 0u)
      << reply;
  EXPECT_EQ(stored("w/x.txt"), "x");
  EXPECT_EQ(stored("w/c/y.txt"), "<none>");
  EXPECT_EQ(stored("w/sub/z.txt"), "<none>");
  expectNoTempFilesLeft();
}

TEST_F(FileUploads, DecoderWarningsAreReportedAndTheFileKept) {
  const testsupport::HttpResponse response =
      upload("/SAVEFILE?Path=warn&Encoding=BASE64", {{"w.bin", "YWJjYWJ"}});
  const std::string prefix =
      "<Varlume><ErrorCode>1080</ErrorCode><ErrorReason>0 files not saved. Count of Base64 encoded characters in file ";
  EXPECT_EQ(response.body.rfind(prefix, 0), 0u) << response.body;
  EXPECT_NE(response.body.find(".vlfile must be a multiple of four. There were 7 Base64 encoded characters in the "
                               "file. Decoded file is unreliable.</ErrorReason>"),
            std::string::npos)
      << response.body;
  EXPECT_EQ(stored("warn/w.bin"), "abc");
  const std::string padding = upload("/SAVEFILE?Path=warn&Encoding=BASE64", {{"p.bin", "YW=j"}}).body;
  EXPECT_NE(padding.find("0 files not saved. CP1:Padding error in Base64 encoded file "), std::string::npos);
  EXPECT_NE(padding.find(" at position 4. Decoded file is unreliable."), std::string::npos);
  expectNoTempFilesLeft();
}

TEST_F(FileUploads, StringFiles) {
  EXPECT_EQ(xml("/STRINGFILE?Path=s&Name=plain.txt&Data=a%20b+c"), successXml());
  EXPECT_EQ(stored("s/plain.txt"), "a%20b+c");
  EXPECT_EQ(xml("/STRINGFILE?Path=s&Name=esc.txt&Data=a%20b%41&Encoding=escaped"), successXml());
  EXPECT_EQ(stored("s/esc.txt"), "a bA");
  EXPECT_EQ(xml("/STRINGFILE?Path=s&Name=b64.txt&Data=YWJj&Encoding=Base64"), successXml());
  EXPECT_EQ(stored("s/b64.txt"), "abc");
  EXPECT_EQ(xml("/STRINGFILE?Path=s&Name=empty.txt&Data="), successXml());
  EXPECT_EQ(stored("s/empty.txt"), "");
  EXPECT_EQ(xml("/STRINGFILE?Path=s&Name=plain.txt&Data=again"), errorXml("1080", "String file not saved. "));
  EXPECT_EQ(stored("s/plain.txt"), "a%20b+c");
  EXPECT_EQ(xml("/STRINGFILE?Path=s&Name=&Data=x"), errorXml("1080", "String file not saved. "));
  sandbox::writeFile(home() + "/afile", "f");
  EXPECT_EQ(xml("/STRINGFILE?Path=afile&Name=x&Data=x").substr(0, 36), errorXml("1010", "").substr(0, 36));
  expectNoTempFilesLeft();
}

TEST_F(FileUploads, ThirtyUploadsAtOnceAllArriveIntact) {
  std::vector<std::thread> senders;
  std::vector<std::string> replies(30);
  for (int i = 0; i < 30; ++i) {
    senders.emplace_back([this, i, &replies] {
      const std::string bytes = std::string(20000 + i, static_cast<char>('a' + i % 26)) + std::to_string(i);
      replies[static_cast<std::size_t>(i)] =
          upload("/SAVEFILE?Path=many", {{"f" + std::to_string(i) + ".bin", bytes}}).body;
    });
  }
  for (std::thread& sender : senders) sender.join();
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(replies[static_cast<std::size_t>(i)], successXml()) << i;
    EXPECT_EQ(stored("many/f" + std::to_string(i) + ".bin"),
              std::string(20000 + i, static_cast<char>('a' + i % 26)) + std::to_string(i));
  }
  expectNoTempFilesLeft();
}

// Bytes a form's value may hold as they are (no "&", no NUL).
std::string formBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (char& c : bytes) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
    if (c == '&' || c == '\0') c = 'x';
  }
  return bytes;
}

TEST_F(FileUploads, LargeFormsAndUploadsAtOnceAreStoredByteForByte) {
  struct Sent {
    std::string stored;  // the bytes the file must hold
    std::string body;
    bool form;
  };
  std::vector<Sent> sent;
  for (unsigned i = 0; i < 4; ++i) {
    const std::string data = formBytes((3u << 20) + i, i);
    sent.push_back({data, "Path=big&Name=form" + std::to_string(i) + ".bin&Data=" + data, true});
  }
  const std::string raw = binaryBytes() + formBytes(1u << 20, 9);
  sent.push_back({raw, "Path=big&Name=escaped.bin&Encoding=ESCAPED&Data=" + escapedOf(raw), true});
  sent.push_back({raw, "Encoding=BASE64&Data=" + base64Of(raw) + "&Name=base64.bin&Path=big", true});
  for (unsigned i = 0; i < 4; ++i) sent.push_back({formBytes((8u << 20) + i, 20 + i) + binaryBytes(), "", false});

  std::vector<std::string> replies(sent.size());
  std::vector<std::thread> senders;
  for (std::size_t i = 0; i < sent.size(); ++i) {
    senders.emplace_back([this, i, &sent, &replies] {
      if (sent[i].form) {
        replies[i] = request("POST", "/STRINGFILE", "site.example",
                             "Content-Type: application/x-www-form-urlencoded\r\n", sent[i].body, 60000)
                         .body;
      } else {
        replies[i] = upload("/SAVEFILE?Path=big", {{"part" + std::to_string(i) + ".bin", sent[i].stored}}).body;
      }
    });
  }
  for (std::thread& sender : senders) sender.join();
  const std::vector<std::string> names = {"form0.bin", "form1.bin", "form2.bin", "form3.bin", "escaped.bin",
                                          "base64.bin", "part6.bin", "part7.bin", "part8.bin", "part9.bin"};
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(replies[i], successXml()) << names[i];
    EXPECT_TRUE(stored("big/" + names[i]) == sent[i].stored) << names[i] << " differs";
  }
  expectNoTempFilesLeft();
}

// The documents folder on another file system than the temporary folder (a
// second partition, a USB disk, a network mount): here a tmpfs.
class UploadsOnAnotherDisk : public FileServiceTest {
 protected:
  void SetUp() override {
    other_ = std::make_unique<testsupport::OtherFileSystem>(box.root() + "/other-disk", box.user(0).localAppData);
    if (other_->path().empty()) GTEST_SKIP() << other_->why();
    FileServiceTest::SetUp();
  }
  std::string documentsFolder() override {
    fs::create_directories(other_->path() + "/Documents");
    return other_->path() + "/Documents";
  }
  // Files below the home that are none of `kept`: copies left half-way.
  std::vector<std::string> strayFiles(const std::vector<std::string>& kept) const {
    std::vector<std::string> stray;
    for (const auto& entry : fs::recursive_directory_iterator(home())) {
      const std::string name = fs::relative(entry.path(), home()).string();
      if (entry.is_regular_file() && std::find(kept.begin(), kept.end(), name) == kept.end()) stray.push_back(name);
    }
    return stray;
  }

  std::unique_ptr<testsupport::OtherFileSystem> other_;
};

TEST_F(UploadsOnAnotherDisk, EveryUploadIsStoredAndNoReasonTellsWhereTheFoldersLie) {
  const std::string bytes = binaryBytes();
  EXPECT_EQ(upload("/SAVEFILE?Path=up", {{"a.bin", bytes}, {"b.txt", "bee"}}).body, successXml());
  EXPECT_EQ(upload("/SAVEFILE?Path=up&Encoding=BASE64", {{"c.bin", base64Of(bytes)}}).body, successXml());
  EXPECT_EQ(upload("/SAVEFILE?Path=up&Encoding=escaped", {{"d.txt", "%41%42c"}}).body, successXml());
  EXPECT_EQ(xml("/STRINGFILE?Path=s&Name=plain.txt&Data=a%20b"), successXml());
  EXPECT_EQ(xml("/STRINGFILE?Path=s&Name=decoded.txt&Data=YWJj&Encoding=Base64"), successXml());
  EXPECT_EQ(stored("up/a.bin"), bytes);
  EXPECT_EQ(stored("up/b.txt"), "bee");
  EXPECT_EQ(stored("up/c.bin"), bytes);
  EXPECT_EQ(stored("up/d.txt"), "ABc");
  EXPECT_EQ(stored("s/plain.txt"), "a%20b");
  EXPECT_EQ(stored("s/decoded.txt"), "abc");

  // Failures still count, and their reasons name neither folder's place.
  const std::string notSaved = "<Varlume><ErrorCode>1080</ErrorCode><ErrorReason>";
  const std::string again = upload("/SAVEFILE?Path=up", {{"b.txt", "again"}, {"new/x.txt", "x"}}).body;
  EXPECT_EQ(again.rfind(notSaved + "2 files not saved. A  directory component in ", 0), 0u) << again;
  const std::string warned = upload("/SAVEFILE?Path=up&Encoding=BASE64", {{"w.bin", "YWJjYWJ"}}).body;
  EXPECT_EQ(warned.rfind(notSaved + "0 files not saved. Count of Base64 encoded characters in file ", 0), 0u)
      << warned;
  for (const std::string& reply : {again, warned, xml("/STRINGFILE?Path=s&Name=plain.txt&Data=again")}) {
    EXPECT_EQ(reply.find(shown(box.root())), std::string::npos) << reply;
    EXPECT_EQ(reply.find(box.root()), std::string::npos) << reply;
  }
  EXPECT_EQ(stored("up/b.txt"), "bee");
  EXPECT_EQ(stored("s/plain.txt"), "a%20b");
  EXPECT_EQ(strayFiles({"up/a.bin", "up/b.txt", "up/c.bin", "up/d.txt", "up/w.bin", "s/plain.txt", "s/decoded.txt"}),
            std::vector<std::string>{});
  expectNoTempFilesLeft();
}

}  // namespace
