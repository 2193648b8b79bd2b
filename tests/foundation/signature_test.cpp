#include "foundation/signature.h"

#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <ostream>

#include "foundation/base64.h"
#include "foundation/object.h"
#include "platform/paths.h"

namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeAll(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

// Throw-away keys made with the openssl command; the public key travels as
// the 188-character Base64 text of its PKCS #1 DER form, as the programs keep it.
class SignatureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = fs::temp_directory_path() / ("vl_sig_" + std::to_string(std::random_device()()));
    fs::create_directories(folder_);
    for (const char* name : {"key", "other"}) {
      std::string pem = (folder_ / (std::string(name) + ".pem")).string();
      std::string b64 = (folder_ / (std::string(name) + ".b64")).string();
      if (!run("openssl genrsa -out '" + pem + "' 1024 2>/dev/null") ||
          !run("openssl rsa -in '" + pem + "' -RSAPublicKey_out -outform DER 2>/dev/null | base64 -w0 > '" + b64 + "'")) {
        return;
      }
    }
    keyText_ = readAll(folder_ / "key.b64");
    key_ = decodeKey(keyText_);
  }

  static void TearDownTestSuite() {
    EVP_PKEY_free(key_);
    key_ = nullptr;
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  void SetUp() override { ASSERT_NE(key_, nullptr) << "no test key could be made"; }

  static EVP_PKEY* decodeKey(const std::string& text) {
    unsigned char der[1024];
    int length = base64Decode(text.c_str(), der, sizeof der);
    if (length <= 0) return nullptr;
    const unsigned char* p = der;
    return d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, length);
  }

  static fs::path file(const std::string& name) { return folder_ / name; }

  // Writes `data` to `name` and signs it into name + ".sig" with `keyName`.
  static bool makeSigned(const std::string& name, const std::string& data,
                         const char* keyName = "key") {
    writeAll(file(name), data);
    return run("openssl dgst -sha1 -sign '" + file(std::string(keyName) + ".pem").string() +
               "' -out '" + file(name + ".sig").string() + "' '" + file(name).string() + "'");
  }

  static inline fs::path folder_;
  static inline std::string keyText_;
  static inline EVP_PKEY* key_ = nullptr;
};

TEST_F(SignatureTest, KeyTextIsTheProgramsForm) {
  EXPECT_EQ(keyText_.size(), 188u);
  unsigned char der[1024];
  EXPECT_EQ(base64Decode(keyText_.c_str(), der, sizeof der), 140);
}

enum class Tamper { None, DataByte, LastDataByte, SignatureByte, NoSignature, SignatureNewline,
                    EmptySignature, OtherKey };

struct SignatureCase {
  const char* name;
  std::string data;
  Tamper tamper;
  bool expected;
};

class SignatureCaseTest : public SignatureTest,
                          public ::testing::WithParamInterface<SignatureCase> {};

// The file check, the check of bytes already read and the read-once check agree.
TEST_P(SignatureCaseTest, Verifies) {
  const SignatureCase& c = GetParam();
  const std::string name = std::string(c.name) + ".txt";
  ASSERT_TRUE(makeSigned(name, c.data, c.tamper == Tamper::OtherKey ? "other" : "key"));
  const fs::path data = file(name), signature = file(name + ".sig");
  std::string bytes = c.data;
  switch (c.tamper) {
    case Tamper::DataByte: bytes[0] ^= 1; break;
    case Tamper::LastDataByte: bytes.back() ^= 0x80; break;
    case Tamper::SignatureByte: {
      std::string sig = readAll(signature);
      sig[sig.size() / 2] ^= 1;
      writeAll(signature, sig);
      break;
    }
    case Tamper::NoSignature: fs::remove(signature); break;
    case Tamper::SignatureNewline: writeAll(signature, readAll(signature) + "\n"); break;
    case Tamper::EmptySignature: writeAll(signature, ""); break;
    default: break;
  }
  writeAll(data, bytes);

  EXPECT_EQ(verifyFileSignature(data.string(), signatureContext(), key_), c.expected);
  EXPECT_EQ(verifySignature(bytes.data(), bytes.size(), data.string(), signatureContext(), key_),
            c.expected);
  std::string contents = "untouched";
  EXPECT_EQ(readVerifiedFile(data.string(), contents, signatureContext(), key_), c.expected);
  EXPECT_EQ(contents, c.expected ? bytes : "untouched");
}

std::string largeData() {
  std::string text;
  for (int i = 0; text.size() < 200000; ++i) text += "line " + std::to_string(i) + "\r\n";
  return text;
}

// A failure names the case, not its bytes.
void PrintTo(const SignatureCase& c, std::ostream* os) {
  *os << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SignatureCaseTest,
    ::testing::Values(
        SignatureCase{"Good", "SETKEY a=b\r\n", Tamper::None, true},
        SignatureCase{"EmptyDataFile", "", Tamper::None, true},
        SignatureCase{"SeveralPieces", largeData(), Tamper::None, true},
        SignatureCase{"ChangedLastByteOfLastPiece", largeData(), Tamper::LastDataByte, false},
        SignatureCase{"ChangedDataByte", "SETKEY a=b\r\n", Tamper::DataByte, false},
        SignatureCase{"ChangedSignatureByte", "SETKEY a=b\r\n", Tamper::SignatureByte, false},
        SignatureCase{"MissingSignature", "SETKEY a=b\r\n", Tamper::NoSignature, false},
        SignatureCase{"SignatureWithNewline", "SETKEY a=b\r\n", Tamper::SignatureNewline, false},
        SignatureCase{"EmptySignature", "SETKEY a=b\r\n", Tamper::EmptySignature, false},
        SignatureCase{"OtherKey", "SETKEY a=b\r\n", Tamper::OtherKey, false}),
    [](const ::testing::TestParamInfo<SignatureCase>& info) { return std::string(info.param.name); });

TEST_F(SignatureTest, EitherSeparatorFindsTheSameFiles) {
  ASSERT_TRUE(makeSigned("sep.txt", "data"));
  const std::string slashes = file("sep.txt").string();
  const std::string backslashes = platform::fromSystemPath(slashes);
  ASSERT_NE(slashes, backslashes);
  std::string contents;
  for (const std::string& path : {slashes, backslashes}) {
    SCOPED_TRACE(path);
    EXPECT_TRUE(verifyFileSignature(path, signatureContext(), key_));
    EXPECT_TRUE(verifySignature("data", 4, path, signatureContext(), key_));
    EXPECT_TRUE(readVerifiedFile(path, contents, signatureContext(), key_));
  }
  // %XX is not decoded: "%73ep.txt" names no file.
  EXPECT_FALSE(verifyFileSignature(file("%73ep.txt").string(), signatureContext(), key_));
}

TEST_F(SignatureTest, MissingContextOrKeyFails) {
  ASSERT_TRUE(makeSigned("plain.txt", "data"));
  const std::string path = file("plain.txt").string();
  EXPECT_FALSE(verifyFileSignature(path, nullptr, key_));
  EXPECT_FALSE(verifyFileSignature(path, signatureContext(), nullptr));
  EXPECT_FALSE(verifySignature("data", 4, path, nullptr, key_));
  EXPECT_EQ(signatureContext(), signatureContext());
}

// A FIFO in place of the data file or its signature fails at once instead of
// blocking the caller on an open that waits for a writer.
TEST_F(SignatureTest, FifoFailsWithoutBlocking) {
  ASSERT_TRUE(makeSigned("fifo-sig.txt", "data"));
  fs::remove(file("fifo-sig.txt.sig"));
  ASSERT_TRUE(run("mkfifo '" + file("fifo-sig.txt.sig").string() + "'"));
  ASSERT_TRUE(run("mkfifo '" + file("fifo-data.txt").string() + "'"));
  ASSERT_TRUE(makeSigned("fifo-data-source.txt", "data"));
  fs::rename(file("fifo-data-source.txt.sig"), file("fifo-data.txt.sig"));

  struct Outcome {
    std::atomic<int> done{0};
    std::atomic<int> passed{0};
  };
  auto outcome = std::make_shared<Outcome>();
  EVP_PKEY* key = key_;
  const std::string dataFifo = file("fifo-data.txt").string();
  const std::string sigFifo = file("fifo-sig.txt").string();
  std::thread checker([outcome, key, dataFifo, sigFifo] {
    std::string contents;
    outcome->passed += verifyFileSignature(dataFifo, signatureContext(), key);
    outcome->passed += readVerifiedFile(dataFifo, contents, signatureContext(), key);
    outcome->passed += verifyFileSignature(sigFifo, signatureContext(), key);
    outcome->passed += verifySignature("data", 4, sigFifo, signatureContext(), key);
    outcome->done = 1;
  });
  checker.detach();  // a blocked check fails the bounded wait instead of hanging
  for (int i = 0; i < 10000 && outcome->done == 0; ++i) VLObject::sleepFor(0, 1000);
  ASSERT_EQ(outcome->done, 1) << "a check blocked on a FIFO";
  EXPECT_EQ(outcome->passed, 0);
}

}  // namespace
