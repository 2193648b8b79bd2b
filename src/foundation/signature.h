// RSA signature check of data files: the signature of file P lies in P + ".sig"
// (raw PKCS #1 v1.5 bytes over the SHA-1 digest of the whole file; only its
// first 65,536 bytes are read). Paths take "/" or "\" separators and are not
// %XX-decoded; only regular files are read. The one digest context is shared
// by the process, so checks must not run at the same time.
#pragma once
#include <openssl/evp.h>

#include <cstddef>
#include <string>

// The process's digest context, created on first use, never freed; null only
// when it could not be created.
EVP_MD_CTX* signatureContext();

// True only when P + ".sig" holds a valid signature of the bytes of P.
bool verifyFileSignature(const std::string& path, EVP_MD_CTX* context, EVP_PKEY* key);

// The same check over bytes already read from the data file `path`: true only
// when path + ".sig" signs exactly these bytes.
bool verifySignature(const void* data, std::size_t size, const std::string& path,
                     EVP_MD_CTX* context, EVP_PKEY* key);

// Reads the data file once and checks those bytes, so a caller can use the
// very bytes that were verified. `contents` is filled only on success.
bool readVerifiedFile(const std::string& path, std::string& contents,
                      EVP_MD_CTX* context, EVP_PKEY* key);
