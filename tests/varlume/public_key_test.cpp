// The program's public key: the build's pieces decode to the public half of
// the build's signing key, and texts that are no key give no key.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>

#include "support/build_signature.h"
#include "varlume/public_key.h"
#include "varlume/public_key_pieces.h"
#include "varlume/settings.h"

namespace {

using testsupport::signWithBuildKey;

bool verifies(EVP_PKEY* key, const std::string& data, const std::string& signature) {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  bool okay = EVP_DigestVerifyInit(context, nullptr, EVP_sha1(), nullptr, key) == 1 &&
              EVP_DigestVerify(context, reinterpret_cast<const unsigned char*>(signature.data()),
                               signature.size(),
                               reinterpret_cast<const unsigned char*>(data.data()),
                               data.size()) == 1;
  EVP_MD_CTX_free(context);
  return okay;
}

TEST(PublicKey, BuildKeyChecksWhatTheBuildsPrivateKeySigned) {
  std::string text;
  for (const char* piece : kPublicKeyPieces) text += piece;
  EXPECT_EQ(text.size(), 188u);

  ASSERT_TRUE(loadPublicKey());
  ASSERT_NE(publicKey, nullptr);
  EXPECT_EQ(EVP_PKEY_get_bits(publicKey), 1024);
  const std::string data = "IE.browser\r\nFILE(x)write(y)\r\n";
  const std::string signature = signWithBuildKey(data);
  ASSERT_FALSE(signature.empty());
  EXPECT_TRUE(verifies(publicKey, data, signature));
  EXPECT_FALSE(verifies(publicKey, data + " ", signature));
  EVP_PKEY_free(publicKey);
  publicKey = nullptr;
}

TEST(PublicKey, TextsThatAreNoKeyGiveNoKey) {
  std::string good;
  for (const char* piece : kPublicKeyPieces) good += piece;
  std::string badCharacter = good;
  badCharacter[10] = '*';
  std::string flipped = good;
  flipped[0] = flipped[0] == 'A' ? 'B' : 'A';  // no longer a DER sequence
  const std::string cases[] = {
      "",
      good.substr(0, 187),                // ends inside a group of four
      badCharacter,
      flipped,
      std::string(187, 'A') + "=",        // Base64, but no key
      "=" + good.substr(1),               // misplaced padding
      good + good,                        // longer than any key text
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(text);
    const char* pieces[] = {text.c_str()};
    EVP_PKEY* key = decodePublicKey(pieces, 1);
    EXPECT_EQ(key, nullptr);
    EVP_PKEY_free(key);
  }
  const char* split[] = {good.c_str(), ""};
  EVP_PKEY* key = decodePublicKey(split, 2);
  EXPECT_NE(key, nullptr);
  EVP_PKEY_free(key);
}

}  // namespace
