// The body of a request after it is on disk: an url-encoded form goes into
// the parameters; a multipart body is split at its boundary into form fields
// (into the parameters) and file parts (each into a temporary file of its own).
#include <algorithm>

#include "foundation/strings.h"
#include "platform/files.h"
#include "serviceframework/generic_handler.h"

namespace {

// Reads up to `length` bytes at the file's position; the count read.
std::size_t readUpTo(platform::File& file, char* buffer, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    long got = file.read(buffer + done, length - done);
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

void cutAtNul(std::string& text) {
  std::size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
}

// The name that starts at `from` (one leading quote or apostrophe skipped)
// and ends before the first ";", quote or apostrophe. False without an end.
bool delimitedName(const std::string& line, std::size_t from, std::string& name) {
  std::size_t start = from;
  if (start < line.size() && (line[start] == '"' || line[start] == '\'')) ++start;
  if (start > line.size()) return false;
  std::size_t end = line.find_first_of(";\"'", start);
  if (end == std::string::npos) return false;
  name = line.substr(start, end - start);
  return true;
}

// The NAME= of a file part (the one that is not part of FILENAME=).
std::string fieldNameOf(const std::string& line, const std::string& upper) {
  std::string name;
  for (std::size_t at = upper.find("NAME="); at != std::string::npos; at = upper.find("NAME=", at + 5)) {
    if (at >= 4 && upper.compare(at - 4, 4, "FILE") == 0) continue;
    delimitedName(line, at + 5, name);
    break;
  }
  return name;
}

}  // namespace

bool VLGenericHandler::withinParameterBound(std::size_t moreBytes) const {
  std::size_t used = parameters.size() + uploadRecordBytes;
  return used <= kMaxParameterBytes && moreBytes <= kMaxParameterBytes - used;
}

void VLGenericHandler::appendParameter(const std::string& text) {
  if (text.empty()) return;  // an "&" stands only between non-empty parts
  if (!parameters.empty()) parameters += '&';
  parameters += text;
}

VLGenericHandler::BodyResult VLGenericHandler::appendFormBody() {
  if (bodyFile.empty()) return BodyResult::Stored;
  std::string text;
  if (!platform::readFile(bodyFile, text, kMaxParameterBytes + 1)) return BodyResult::Unreadable;
  if (text.size() > kMaxParameterBytes) return BodyResult::Refused;
  cutAtNul(text);
  if (!withinParameterBound(text.size() + 1)) return BodyResult::Refused;
  appendParameter(text);
  return BodyResult::Stored;
}

std::int64_t VLGenericHandler::findBoundary(platform::File& file, std::int64_t offset) {
  // An empty boundary would be found at every offset.
  if (offset < 0 || boundary.empty() || !file.isOpen() || !file.seek(offset)) return -1;
  std::string window(kWindowBytes, '\0');
  // The tail of what was read that may still begin an occurrence, and where it starts.
  std::string carry;
  std::int64_t carryStart = offset;
  for (;;) {
    long got = file.read(window.data(), window.size());
    if (got <= 0) return -1;
    std::string text = carry;
    text.append(window.data(), static_cast<std::size_t>(got));
    std::size_t at = text.find(boundary);
    if (at != std::string::npos) return carryStart + static_cast<std::int64_t>(at);
    std::size_t keep = std::min(text.size(), boundary.size() - 1);
    carryStart += static_cast<std::int64_t>(text.size() - keep);
    carry = text.substr(text.size() - keep);
  }
}

bool VLGenericHandler::storeFilePart(platform::File& body, const std::string& clientName,
                                     const std::string& fieldName, std::int64_t start,
                                     std::int64_t length) {
  std::string tempPath = makeTempFileName();
  std::size_t recordBytes = clientName.size() + fieldName.size() + tempPath.size() + sizeof(VLUploadedFile);
  if (!withinParameterBound(recordBytes)) return false;

  platform::File out;
  bool complete = out.open(tempPath, platform::File::Write);
  if (length > 0) {
    complete = complete && body.seek(start);
    std::string piece(kWindowBytes, '\0');
    std::int64_t left = complete ? length : 0;
    while (left > 0) {
      std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(left, kWindowBytes));
      std::size_t got = readUpTo(body, piece.data(), want);
      if (got == 0 || !out.write(piece.data(), got)) {
        complete = false;  // a part that is not on disk whole never counts as stored
        break;
      }
      left -= static_cast<std::int64_t>(got);
    }
  }
  complete = out.close() && complete;
  uploadedFiles.push_back(VLUploadedFile{fieldName, clientName, tempPath, complete});
  uploadRecordBytes += recordBytes;
  return true;
}

VLGenericHandler::BodyResult VLGenericHandler::storeFieldPart(platform::File& body, const std::string& name,
                                                              const std::string& window,
                                                              std::int64_t windowStart, std::int64_t start,
                                                              std::int64_t length) {
  std::string value;
  if (length >= 1) {
    std::int64_t inWindow = start - windowStart;
    if (inWindow >= 0 && inWindow + length <= static_cast<std::int64_t>(window.size())) {
      value = window.substr(static_cast<std::size_t>(inWindow), static_cast<std::size_t>(length));
    } else {
      // A long value, or one past the window: read it from the body file.
      if (!withinParameterBound(static_cast<std::uint64_t>(length))) return BodyResult::Refused;
      if (!body.seek(start)) return BodyResult::Unreadable;
      value.resize(static_cast<std::size_t>(length));
      value.resize(readUpTo(body, value.data(), value.size()));
    }
    cutAtNul(value);
  }
  if (!withinParameterBound(name.size() + value.size() + 2)) return BodyResult::Refused;
  appendParameter(name + "=" + value);
  return BodyResult::Stored;
}

VLGenericHandler::BodyResult VLGenericHandler::parseMultipart() {
  platform::File body;
  if (!body.open(bodyFile, platform::File::Read)) return BodyResult::Unreadable;
  std::int64_t size = body.size();
  if (size < 0) return BodyResult::Unreadable;
  std::size_t windowSize = static_cast<std::size_t>(std::min<std::int64_t>(size, kWindowBytes));
  const std::string closingMark = boundary + "--";
  const std::string closingLine = closingMark + "\r\n";

  std::int64_t h = findBoundary(body, 0);  // anything before the first boundary is skipped
  int parts = 0;
  while (h != -1) {
    // Each part costs a window read: a body of countless empty parts is refused.
    if (++parts > kMaxMultipartParts) return BodyResult::Refused;
    std::string window(windowSize, '\0');
    if (!body.seek(h)) return BodyResult::Unreadable;
    window.resize(readUpTo(body, window.data(), window.size()));

    // The closing delimiter, with or without its line end or padding.
    const bool closing = window.compare(0, closingMark.size(), closingMark) == 0;

    // The rest of the boundary line, the part's header lines and the empty line.
    std::vector<std::string> headerLines;
    std::size_t k = 0;
    bool ended = false;
    while (k < window.size()) {
      std::size_t lineFeed = window.find('\n', k);
      if (lineFeed == std::string::npos) break;
      std::string headerLine = window.substr(k, lineFeed + 1 - k);
      k = lineFeed + 1;
      bool last = headerLine == closingLine || headerLine == "\r\n";
      headerLines.push_back(std::move(headerLine));
      if (last) {
        ended = true;
        break;
      }
    }
    if (!ended) {
      // Only the closing delimiter may end the body without a line end;
      // anything else whose header block does not end in its window is no part.
      if (closing) break;
      return BodyResult::Refused;
    }

    std::int64_t n = findBoundary(body, h + static_cast<std::int64_t>(boundary.size()));
    // A part that no boundary closes was cut short: storing the rest would
    // report a partial upload as a whole one.
    if (n == -1 && !closing) return BodyResult::Refused;
    if (n != -1 && n > h) {
      // The data ends before the CR, LF and two hyphens that precede the next boundary.
      std::int64_t start = h + static_cast<std::int64_t>(k);
      std::int64_t length = n - h - static_cast<std::int64_t>(k) - 4;
      for (const std::string& headerLine : headerLines) {
        std::string upper = toUpper(headerLine);
        if (upper.find("CONTENT-DISPOSITION:") == std::string::npos) continue;
        std::size_t at = upper.find("FILENAME=");
        if (at != std::string::npos) {
          std::string clientName;
          if (!delimitedName(headerLine, at + 9, clientName)) continue;
          if (!storeFilePart(body, clientName, fieldNameOf(headerLine, upper), start, length)) {
            return BodyResult::Refused;
          }
        } else if ((at = upper.find("NAME=")) != std::string::npos) {
          std::string name;
          if (!delimitedName(headerLine, at + 5, name)) continue;
          BodyResult field = storeFieldPart(body, name, window, h, start, length);
          if (field != BodyResult::Stored) return field;
        }
      }
    }
    h = (n == -1) ? -1 : findBoundary(body, n);
  }
  return BodyResult::Stored;
}
