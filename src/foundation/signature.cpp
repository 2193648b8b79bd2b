#include "foundation/signature.h"

#include <algorithm>
#include <vector>

#include "platform/files.h"

namespace {

// Pieces of the data file, and the most of a signature file that is read.
constexpr std::size_t kPieceSize = 65536;
// A file verified in memory is read whole; larger ones are refused.
constexpr std::size_t kMaxVerifiedFileBytes = 64u * 1024 * 1024;

std::string normalisedPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// Only regular files are opened (File refuses anything else without
// blocking): a FIFO or device must never block the caller.
bool openRegularFile(const std::string& path, platform::File& file) {
  return file.open(path, platform::File::Read);
}

// Reads up to `length` bytes, fewer only at the end of the file; -1 on error.
long readUpTo(platform::File& file, unsigned char* buffer, std::size_t length) {
  std::size_t total = 0;
  while (total < length) {
    long n = file.read(buffer + total, length - total);
    if (n < 0) return -1;
    if (n == 0) break;
    total += static_cast<std::size_t>(n);
  }
  return static_cast<long>(total);
}

// Completes a check whose digest is in `context` with the signature in
// dataPath + ".sig".
bool finishWithSignatureFile(const std::string& dataPath, EVP_MD_CTX* context, EVP_PKEY* key) {
  platform::File signatureFile;
  if (!openRegularFile(dataPath + ".sig", signatureFile)) return false;
  std::vector<unsigned char> buffer(kPieceSize + 1, 0);
  long length = readUpTo(signatureFile, buffer.data(), kPieceSize);
  signatureFile.close();
  if (length < 0) return false;
  return EVP_VerifyFinal(context, buffer.data(), static_cast<unsigned int>(length), key) == 1;
}

}  // namespace

EVP_MD_CTX* signatureContext() {
  static EVP_MD_CTX* const context = EVP_MD_CTX_new();
  return context;
}

bool verifyFileSignature(const std::string& path, EVP_MD_CTX* context, EVP_PKEY* key) {
  if (context == nullptr || key == nullptr) return false;
  const std::string dataPath = normalisedPath(path);

  platform::File dataFile;
  if (!openRegularFile(dataPath, dataFile)) return false;
  std::int64_t remaining = dataFile.size();
  if (remaining < 0) return false;
  if (EVP_DigestInit(context, EVP_sha1()) != 1) return false;

  std::vector<unsigned char> buffer(kPieceSize + 1, 0);
  while (remaining > 0) {
    std::fill(buffer.begin(), buffer.end(), 0);
    std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(remaining, kPieceSize));
    long got = readUpTo(dataFile, buffer.data(), want);
    if (got < 0) return false;  // a read error is no signed content
    if (got == 0) break;        // the file shrank: the digest will not match
    remaining -= got;
    if (EVP_DigestUpdate(context, buffer.data(), static_cast<std::size_t>(got)) != 1) return false;
  }
  dataFile.close();

  return finishWithSignatureFile(dataPath, context, key);
}

bool verifySignature(const void* data, std::size_t size, const std::string& path,
                     EVP_MD_CTX* context, EVP_PKEY* key) {
  if (context == nullptr || key == nullptr || (data == nullptr && size > 0)) return false;
  if (EVP_DigestInit(context, EVP_sha1()) != 1) return false;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  for (std::size_t done = 0; done < size;) {
    std::size_t piece = std::min(size - done, kPieceSize);
    if (EVP_DigestUpdate(context, bytes + done, piece) != 1) return false;
    done += piece;
  }
  return finishWithSignatureFile(normalisedPath(path), context, key);
}

bool readVerifiedFile(const std::string& path, std::string& contents,
                      EVP_MD_CTX* context, EVP_PKEY* key) {
  const std::string dataPath = normalisedPath(path);
  std::string bytes;
  if (!platform::readFile(dataPath, bytes, kMaxVerifiedFileBytes + 1)) return false;
  if (bytes.size() > kMaxVerifiedFileBytes) return false;
  if (!verifySignature(bytes.data(), bytes.size(), dataPath, context, key)) return false;
  contents = std::move(bytes);
  return true;
}
