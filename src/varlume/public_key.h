// The program's public key: assembled from its Base64 pieces, decoded and
// parsed as an RSA public key (DER, PKCS #1). It checks the signatures of the
// browser-configuration scripts.
#pragma once
#include <openssl/types.h>

// The key from `count` pieces, joined in order; null when the text is too
// long, is not Base64, or does not hold an RSA public key.
EVP_PKEY* decodePublicKey(const char* const* pieces, int count);

// Stores the program's own key in publicKey; false when it cannot be decoded.
bool loadPublicKey();
