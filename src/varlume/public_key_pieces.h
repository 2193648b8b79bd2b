// The program's RSA public key as Base64 text (a PKCS #1 RSAPublicKey of 1024
// bits, 188 characters) in fixed pieces, joined in this order at start-up.
// The build generates the pieces from its signing key.
#pragma once

inline constexpr int kPublicKeyPieceCount = 4;
extern const char* const kPublicKeyPieces[kPublicKeyPieceCount];
