#include "varlume/public_key.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>

#include "foundation/base64.h"
#include "varlume/public_key_pieces.h"
#include "varlume/settings.h"

namespace {

constexpr std::size_t kKeyTextSize = 256;   // the text is 188 characters
constexpr int kDecodedKeySize = 1024;

}  // namespace

EVP_PKEY* decodePublicKey(const char* const* pieces, int count) {
  char text[kKeyTextSize] = {};
  std::size_t length = 0;
  for (int i = 0; i < count; ++i) {
    std::size_t pieceLength = std::strlen(pieces[i]);
    if (length + pieceLength >= sizeof text) return nullptr;
    std::memcpy(text + length, pieces[i], pieceLength);
    length += pieceLength;
  }
  text[length] = '\0';

  unsigned char decoded[kDecodedKeySize];
  int decodedLength = base64Decode(text, decoded, sizeof decoded);
  if (decodedLength <= 0) return nullptr;  // -1 must never become a length
  const unsigned char* cursor = decoded;  // d2i moves its pointer
  return d2i_PublicKey(EVP_PKEY_RSA, nullptr, &cursor, decodedLength);
}

bool loadPublicKey() {
  // OpenSSL 3 loads its error strings by itself.
  publicKey = decodePublicKey(kPublicKeyPieces, kPublicKeyPieceCount);
  return publicKey != nullptr;
}
