// Signs test fixtures in memory (SHA-1, PKCS #1 v1.5), with the build's
// private key as the build signs the shipped data files, or with another
// key. Test programs that use it link OpenSSL's libcrypto; signWithBuildKey
// needs VARLUME_SIGNING_KEY_FILE.
#pragma once
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <string>

namespace testsupport {

// The signature of `data` by `key`; empty on failure.
inline std::string signWithKey(const std::string& data, EVP_PKEY* key) {
  if (key == nullptr) return "";
  std::string signature(EVP_PKEY_get_size(key), '\0');
  std::size_t length = signature.size();
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  bool signedOkay = EVP_DigestSignInit(context, nullptr, EVP_sha1(), nullptr, key) == 1 &&
                    EVP_DigestSign(context, reinterpret_cast<unsigned char*>(signature.data()),
                                   &length, reinterpret_cast<const unsigned char*>(data.data()),
                                   data.size()) == 1;
  EVP_MD_CTX_free(context);
  if (!signedOkay) return "";
  signature.resize(length);
  return signature;
}

// The same with the private key of a PEM file.
inline std::string signWithKeyFile(const std::string& data, const char* keyFile) {
  std::FILE* file = std::fopen(keyFile, "r");
  if (file == nullptr) return "";
  EVP_PKEY* key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
  std::fclose(file);
  std::string signature = signWithKey(data, key);
  EVP_PKEY_free(key);
  return signature;
}

#ifdef VARLUME_SIGNING_KEY_FILE
inline std::string signWithBuildKey(const std::string& data) {
  return signWithKeyFile(data, VARLUME_SIGNING_KEY_FILE);
}
#endif

}  // namespace testsupport
