// The body of a request after it is on disk: an url-encoded form goes into
// the parameters; a multipart body is split at its boundary into form fields
// (into the parameters) and file parts (each into a temporary file of its own).
// A value longer than one window stays in the body file (see parameter_text.h).
#include <algorithm>
#include <cstring>

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
  platform::File body;
  if (!body.open(bodyFile, platform::File::Read)) return BodyResult::Unreadable;
  const std::int64_t size = body.size();
  if (size < 0) return BodyResult::Unreadable;
  if (size > static_cast<std::int64_t>(kMaxParameterBytes)) return BodyResult::Refused;
  // The text is the body up to its first NUL, read in pieces: each pair goes
  // into memory, except that a pair longer than a piece keeps only its key
  // and "=" there and leaves its value in the body file.
  std::string pair;
  bool first = true;
  bool spilling = false;
  std::int64_t position = 0;  // of the next byte in the body file
  std::int64_t spillStart = 0;
  auto endPair = [&] {
    if (spilling) {
      longValues.push_back(VLLongValue{parameters.size(), spillStart, position - spillStart});
      spilling = false;
    } else {
      parameters += pair;
    }
    pair.clear();
  };
  std::string piece(kWindowBytes, '\0');
  bool ended = false;
  while (!ended) {
    const long got = body.read(piece.data(), piece.size());
    if (got < 0) return BodyResult::Unreadable;
    if (got == 0) break;
    std::size_t length = static_cast<std::size_t>(got);
    const void* nul = std::memchr(piece.data(), '\0', length);
    if (nul != nullptr) {
      length = static_cast<std::size_t>(static_cast<const char*>(nul) - piece.data());
      ended = true;
    }
    if (first && length > 0) {
      // An "&" stands only between non-empty parts.
      if (!parameters.empty()) parameters += '&';
      first = false;
    }
    for (std::size_t i = 0; i < length;) {
      if (spilling) {
        const void* amp = std::memchr(piece.data() + i, '&', length - i);
        const std::size_t run = amp == nullptr ? length - i : static_cast<std::size_t>(static_cast<const char*>(amp) - (piece.data() + i));
        i += run;
        position += static_cast<std::int64_t>(run);
        if (amp == nullptr) break;
      }
      const char c = piece[i++];
      if (c == '&') {
        endPair();  // the value ends before its "&"
        parameters += '&';
        ++position;
        continue;
      }
      ++position;
      pair += c;
      if (pair.size() > kWindowBytes) {
        const std::size_t equals = pair.find('=');
        const std::size_t kept = equals == std::string::npos ? 0 : equals + 1;
        parameters.append(pair, 0, kept);
        spillStart = position - static_cast<std::int64_t>(pair.size() - kept);
        spilling = true;
        pair.clear();
      }
    }
  }
  endPair();
  std::int64_t kept = 0;
  for (const VLLongValue& value : longValues) kept += value.length;
  if (!withinParameterBound(static_cast<std::size_t>(kept))) return BodyResult::Refused;
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
    if (inWindow < 0 || inWindow + length > static_cast<std::int64_t>(window.size())) {
      // A long value, or one past the window: from the body file.
      return appendFieldValue(body, name, start, length);
    }
    value = window.substr(static_cast<std::size_t>(inWindow), static_cast<std::size_t>(length));
    cutAtNul(value);
  }
  if (!withinParameterBound(name.size() + value.size() + 2)) return BodyResult::Refused;
  appendParameter(name + "=" + value);
  return BodyResult::Stored;
}

VLGenericHandler::BodyResult VLGenericHandler::appendFieldValue(platform::File& body, const std::string& name,
                                                                std::int64_t start, std::int64_t length) {
  // The value ends at its first NUL.
  if (!body.seek(start)) return BodyResult::Unreadable;
  std::string piece(kWindowBytes, '\0');
  std::int64_t end = start;
  while (end < start + length) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(start + length - end, kWindowBytes));
    const std::size_t got = readUpTo(body, piece.data(), want);
    const void* nul = std::memchr(piece.data(), '\0', got);
    if (nul != nullptr) {
      end += static_cast<const char*>(nul) - piece.data();
      break;
    }
    end += static_cast<std::int64_t>(got);
    if (got < want) break;
  }
  if (!withinParameterBound(name.size() + 2)) return BodyResult::Refused;
  if (end - start <= static_cast<std::int64_t>(kWindowBytes)) {
    std::string value(static_cast<std::size_t>(end - start), '\0');
    if (!body.seek(start)) return BodyResult::Unreadable;
    value.resize(readUpTo(body, value.data(), value.size()));
    if (!withinParameterBound(name.size() + value.size() + 2)) return BodyResult::Refused;
    appendParameter(name + "=" + value);
    return BodyResult::Stored;
  }
  appendParameter(name + "=");
  longValues.push_back(VLLongValue{parameters.size(), start, end - start});
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
