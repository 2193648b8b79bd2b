#include "varlume/mirror_files.h"

#include <vector>

#include "foundation/directory_texts.h"
#include "foundation/strings.h"
#include "platform/files.h"
#include "varlume/cache_bound.h"
#include "varlume/mirror_names.h"
#include "varlume/part_files.h"
#include "varlume/responder.h"
#include "varlume/response_parts.h"
#include "varlume/settings.h"
#include "varlume/startup_folders.h"

namespace {

constexpr char kNotAvailable[] = "Requested mirror file not available from host. File not mirrored.";
constexpr char kNoHead[] = "Failed to find header in response from web-site.";

void removeParts(int id, int from, int to) {
  for (int k = from; k <= to; ++k) platform::removeFile(partFilePath(tempPath, id, k));
}

std::string folderOf(const std::string& path) {
  const std::size_t cut = path.rfind('\\');
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

// The head lines, upper-cased, each without its line end.
std::vector<std::string> upperLines(const std::string& head) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < head.size()) {
    std::size_t end = head.find('\n', start);
    if (end == std::string::npos) end = head.size();
    lines.push_back(toUpper(trim(head.substr(start, end - start), true)));
    start = end + 1;
  }
  return lines;
}

// A copy may be kept: the server allows it, and its end is framed, so a hit
// on a kept-alive connection ends where the response ends.
bool mayKeep(const std::string& head) {
  bool framed = false;
  for (const std::string& line : upperLines(head)) {
    if (line.rfind("SET-COOKIE", 0) == 0) return false;
    if (line.rfind("CACHE-CONTROL:", 0) == 0 && line.find("NO-STORE") != std::string::npos) {
      return false;
    }
    if (line.rfind("CONTENT-LENGTH:", 0) == 0) framed = true;
    if (line.rfind("TRANSFER-ENCODING:", 0) == 0 && line.find("CHUNKED") != std::string::npos) {
      framed = true;
    }
  }
  return framed;
}

enum class Copied { Whole, ReadFailed, WriteFailed };

// Writes `first` and the rest of the stream into `out`.
Copied copyRest(VLResponseParts& parts, const std::string& first, platform::ReplacingFile& out) {
  if (!out.write(first.data(), first.size())) return Copied::WriteFailed;
  std::vector<char> buffer(VLResponseParts::kPiece);
  for (;;) {
    const long got = parts.read(buffer.data());
    if (got < 0) return Copied::ReadFailed;
    if (got == 0) return Copied::Whole;
    if (!out.write(buffer.data(), static_cast<std::size_t>(got))) return Copied::WriteFailed;
  }
}

// The bytes of the record's part files (its interim heads included).
std::uint64_t partBytes(const VLRequestRecord& record) {
  std::uint64_t bytes = 0;
  for (int k = 0; k < record.getPartsWritten(); ++k) {
    platform::FileStatus status;
    if (platform::statPath(partFilePath(tempPath, record.getId(), k), status)) bytes += status.size;
  }
  return bytes;
}

bool storeCopy(const VLRequestRecord& record, const std::string& path) {
  const VLCacheAddition addition = planCacheCopy(path, partBytes(record));
  if (!addition.keep) return false;
  VLResponseParts parts(record.getId(), record.getPartsWritten());
  const VLFinalHead head = readFinalHead(parts);
  if (!head.headEnd || head.status != 200 || !mayKeep(head.head)) return false;
  if (!makeFolderPath(folderOf(path))) return false;
  platform::ReplacingFile out;
  if (!out.open(path)) return false;
  if (copyRest(parts, head.head + head.rest, out) != Copied::Whole) return false;
  if (!out.commit()) return false;
  cacheCopyStored(addition);
  return true;
}

// The reason of a failed step; the helper gives no text for some errors.
std::string failureText(const std::string& text) { return text.empty() ? kNotAvailable : text; }

// A path as the mirror's reasons name it: relative to the data root ("\"
// form), so that no answer tells a page where the user's files are.
std::string shownPath(const std::string& path) {
  std::string root = basePath;
  ensureTrailingSlash(root);
  replaceAll("/", "\\", root);
  std::string shown = path;
  replaceAll("/", "\\", shown);
  if (shown.compare(0, root.size(), root) == 0) shown.erase(0, root.size());
  return shown;
}

// Saves the body; an empty result means success, anything else is the
// reason for the browser.
std::string saveMirror(const VLRequestRecord& record) {
  std::string path;
  if (!mirrorFilePath(record.getHost(), record.getUrl(), path)) return kNotAvailable;
  // Nothing is written through a link: it could lead out of the host's folder.
  if (!platform::isLinkFreeBelow(basePath, path)) return kNotAvailable;
  VLResponseParts parts(record.getId(), record.getPartsWritten());
  const VLFinalHead head = readFinalHead(parts);
  if (head.readFailed || head.status != 200) return kNotAvailable;
  if (!head.headEnd) return kNoHead;
  std::string message;
  if (!makeFolderPath(folderOf(path), message)) return failureText(message);
  const std::string shown = shownPath(path);
  if (platform::isDirectory(path)) return notAFileText(shown);
  platform::ReplacingFile out;
  if (!out.open(path)) {
    return failureText(renameFailureText(platform::lastFileError(), shownPath(folderOf(path)), shown));
  }
  const std::string temporary = shownPath(out.temporaryPath());
  const Copied copied = copyRest(parts, head.rest, out);
  if (copied == Copied::ReadFailed) return kNotAvailable;
  if (copied == Copied::WriteFailed) {
    return failureText(renameFailureText(platform::lastFileError(), temporary, shown));
  }
  if (!out.commit()) return failureText(renameFailureText(platform::lastFileError(), temporary, shown));
  return std::string();
}

}  // namespace

void storeInCache(const VLRequestRecord& record) {
  const std::string& path = record.getCachePath();
  // Without a whole copy the stale one goes too, so the next GET reaches the site.
  if (!path.empty() && !storeCopy(record, path)) platform::removeFile(path);
  removeParts(record.getId(), 0, record.getPartsSent() - 1);
}

bool mirrorResponse(VLResponder& responder, const VLRequestRecord& record, std::string& out) {
  const std::string reason = saveMirror(record);
  // Every part the relay may have opened, the last one included.
  removeParts(record.getId(), 0, record.getPartsWritten());
  out = reason.empty() ? responder.writeSuccessResponse(record)
                       : responder.writeMessageResponse(record, reason);
  return reason.empty();
}
