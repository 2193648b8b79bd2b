// Reading one request: the head line by line, the method, Host, path and
// query, and a POST or PROPFIND body into a temporary file.
#include <climits>
#include <exception>
#include <string_view>

#include "foundation/script_command.h"
#include "foundation/strings.h"
#include "platform/files.h"
#include "serviceframework/generic_handler.h"

namespace {

constexpr const char* kMethods[] = {"GET", "POST", "HEAD", "OPTIONS", "PUT", "DELETE", "TRACE", "PROPFIND"};

bool startsWith(const std::string& text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool isEmptyLine(const std::string& line) { return line == "\n" || line == "\r\n"; }

// text[from, to) where `to` before `from` reads as "to the end".
std::string slice(const std::string& text, std::size_t from, std::size_t to) {
  if (from > text.size()) return std::string();
  if (to < from) return text.substr(from);
  return text.substr(from, to - from);
}

}  // namespace

int VLGenericHandler::fillReceiveBuffer() {
  if (socket == platform::kInvalidSocket) return 0;
  platform::PollEntry entry{socket, platform::kPollReadable, 0};
  for (;;) {
    int ready = platform::pollSockets(&entry, 1, byteWaitMilliseconds);
    if (ready < 0 && platform::lastSocketError() == platform::kErrInterrupted) continue;
    if (ready <= 0) return -1;
    break;
  }
  if (receiveBuffer.size() != kWindowBytes) receiveBuffer.assign(kWindowBytes, '\0');
  int received = platform::receiveBytes(socket, receiveBuffer.data(), receiveBuffer.size());
  if (received <= 0) return 0;
  receiveStart = 0;
  receiveEnd = static_cast<std::size_t>(received);
  return 1;
}

int VLGenericHandler::receiveByte(char* byte) {
  if (socket == platform::kInvalidSocket) return 0;
  if (receiveStart == receiveEnd) {
    int result = fillReceiveBuffer();
    if (result < 1) return result;
  }
  *byte = receiveBuffer[receiveStart++];
  return 1;
}

int VLGenericHandler::receiveBody(std::int64_t count, platform::File& file, bool& stored) {
  if (!file.isOpen()) stored = false;
  while (count > 0) {
    if (receiveStart == receiveEnd) {
      int result = fillReceiveBuffer();
      if (result < 1) return result;
    }
    std::size_t available = receiveEnd - receiveStart;
    std::size_t take = static_cast<std::uint64_t>(count) < available ? static_cast<std::size_t>(count)
                                                                     : available;
    if (stored && !file.write(receiveBuffer.data() + receiveStart, take)) stored = false;
    receiveStart += take;
    count -= static_cast<std::int64_t>(take);
  }
  return 1;
}

std::string VLGenericHandler::parseMethod(const std::string& line) {
  std::string upper = toUpper(line);
  for (const char* known : kMethods) {
    if (startsWith(upper, known)) return line.substr(0, std::string_view(known).size());
  }
  return std::string();
}

std::string VLGenericHandler::parseRequestLine(const std::string& line) {
  path.clear();
  parameters.clear();
  std::size_t slash = line.find('/');
  if (slash == std::string::npos) return path;  // no path: both stay empty
  std::size_t question = line.find('?');
  std::size_t version = toUpper(line).rfind(" HTTP/");
  if (version == std::string::npos) version = line.size();
  if (question == std::string::npos) {
    path = trim(slice(line, slash, version), true);
  } else {
    path = trim(slice(line, slash, question), true);
    parameters = trim(slice(line, question + 1, version), true);
  }
  return path;
}

std::int64_t VLGenericHandler::contentLengthOf(const std::string& line) {
  // The number stands from the 16th character on, whatever the line's name.
  std::string text = line.size() > 15 ? trim(line.substr(15), true) : std::string();
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) value = INT_MAX;  // clamped, never overflowing
  }
  return negative ? 0 : value;
}

bool VLGenericHandler::noteHeaderLine(const std::string& line, HeadNotes& notes) {
  std::string upper = toUpper(line);
  if (line.size() > 13 && startsWith(upper, "CONTENT-TYPE:")) {
    if (upper.find("MULTIPART/FORM-DATA") != std::string::npos) {
      notes.multipart = true;
      std::size_t at = upper.find("BOUNDARY=");
      if (at == std::string::npos) return false;
      std::string value = line.substr(at + 9);
      if (value.size() >= 2 && value.compare(value.size() - 2, 2, "\r\n") == 0) {
        value.resize(value.size() - 2);
      } else if (!value.empty() && value.back() == '\n') {
        value.pop_back();
      }
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
      }
      // An empty boundary would match everywhere; a long one is no boundary.
      if (value.empty() || value.size() > kMaxBoundaryBytes) return false;
      boundary = value;
    }
  } else if (line.size() > 21 && startsWith(upper, "VARLUMESUBDOMAINHOME:")) {
    subdomainHome = trim(line.substr(21), true);
  } else if (line.size() > 27 && startsWith(upper, "VARLUMESUBDOMAINCOMMONHOME:")) {
    commonHome = trim(line.substr(27), true);
  }
  if (startsWith(upper, "ORIGIN:")) origins.push_back(trim(line.substr(7), true));
  if (startsWith(upper, "REFERER:")) referers.push_back(trim(line.substr(8), true));
  if (isScriptCommandLine(line)) scriptCommand = true;
  if (startsWith(upper, "HOST:")) {
    std::string value = trim(line.substr(5), true);
    // Two Host lines that disagree leave no host at all: the later one would
    // otherwise win, whoever put it into the head.
    if (notes.hostSeen && toLower(value) != toLower(notes.hostValue)) notes.hostConflict = true;
    notes.hostSeen = true;
    notes.hostValue = value;
  }
  // Only a line named Content-Length gives the body's length: a value that
  // merely holds the words would let a body be read as a second request.
  if (startsWith(upper, "CONTENT-LENGTH:")) notes.contentLengthLine = line;
  return true;
}

int VLGenericHandler::readRequest() {
  // Nothing of an earlier request may leak into this one, even when a reply
  // path forgot its reset.
  reset();
  spoilt = false;
  std::string requestLine;
  bool started = false;  // the request line has arrived
  std::string line;
  HeadNotes notes;
  int linesSeen = 0;

  for (;;) {
    char byte = 0;
    int result = receiveByte(&byte);
    if (result < 1) {
      // Bytes of this request arrived and it stays unanswered: the connection is lost.
      spoilt = started || (!line.empty() && line != "\r");
      reset();
      return result;
    }
    if (byte != '\n') {
      if (line.size() >= kMaxHeaderLineBytes) {
        spoilt = true;
        reset();
        return 0;
      }
      line += byte;
      continue;
    }
    line += byte;
    std::string text = line.substr(0, line.find('\0'));
    line.clear();
    if (++linesSeen > kMaxHeaderLines) {
      spoilt = true;
      reset();
      return 0;
    }
    // Empty lines before the request line (a CR LF after a body) are skipped.
    if (!started && isEmptyLine(text)) continue;
    if (!noteHeaderLine(text, notes)) {
      spoilt = true;
      reset();
      return 0;
    }
    if (!started) {
      requestLine = text;
      started = true;
    } else if (isEmptyLine(text)) {
      break;
    }
  }

  method = parseMethod(requestLine);
  host = notes.hostConflict ? std::string() : notes.hostValue;
  parseRequestLine(requestLine);

  int stored = 1;
  try {
    stored = storeBody(requestLine, notes);
  } catch (const std::exception&) {
    return 1;
  }
  if (stored < 1) {
    spoilt = true;
    reset();
  }
  return stored;
}

int VLGenericHandler::storeBody(const std::string& requestLine, const HeadNotes& notes) {
  std::int64_t length =
      notes.contentLengthLine.empty() ? 0 : contentLengthOf(notes.contentLengthLine);
  bodyFile.clear();
  bodyFileRemoved = false;
  std::string upper = toUpper(requestLine);
  if (!startsWith(upper, "POST") && !startsWith(upper, "PROPFIND")) return 1;

  // A form body beyond the bound is not taken.
  if (!notes.multipart && length > static_cast<std::int64_t>(kMaxParameterBytes)) return 0;

  bodyFile = makeTempFileName();
  platform::File file;
  file.open(bodyFile, platform::File::Write);
  bool stored = true;
  if (length > 0) {
    int result = receiveBody(length, file, stored);
    if (result < 1) return result;
  } else if (!file.isOpen()) {
    stored = false;
  }
  if (!file.close()) stored = false;
  // A body that did not reach its file whole is refused like one over the
  // bound: a command must never run as if less had been sent.
  if (!stored) return 0;
  if (length <= 0) return 1;

  BodyResult body = notes.multipart ? parseMultipart() : appendFormBody();
  if (body != BodyResult::Stored) return 0;
  // The long values are read from the body file while the request lives.
  if (!longValues.empty() && !bodyReader.open(bodyFile, platform::File::Read)) return 0;
  return 1;
}
