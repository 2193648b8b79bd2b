// The upload and download codecs: %XX and Base64 decoding of an uploaded
// file and Base64 encoding of a served one, each from one file into a new
// temporary file, read and written in 64 KiB pieces so memory stays bounded.
// A write that fails removes the output and gives an empty path.
#include <string>

#include "foundation/base64.h"
#include "foundation/base_name.h"
#include "foundation/strings.h"
#include "platform/files.h"
#include "varlumefile/file_server.h"

namespace {

constexpr std::size_t kPieceBytes = 65536;

// Output buffered into pieces; `ok` false after the first failed write.
class PieceWriter {
 public:
  explicit PieceWriter(platform::File& file) : file_(file) { buffer_.reserve(kPieceBytes); }
  void put(char byte) {
    buffer_.push_back(byte);
    if (buffer_.size() >= kPieceBytes) flush();
  }
  void put(const char* bytes, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) put(bytes[i]);
  }
  bool finish() {
    flush();
    return ok_ && file_.close();
  }

 private:
  void flush() {
    if (!buffer_.empty() && ok_ && !file_.write(buffer_.data(), buffer_.size())) ok_ = false;
    buffer_.clear();
  }
  platform::File& file_;
  std::string buffer_;
  bool ok_ = true;
};

// Reads `file` to its end in pieces; `each(data, length)` per piece. False
// when a read fails.
template <class Each>
bool readPieces(platform::File& file, Each each) {
  std::string piece(kPieceBytes, '\0');
  for (;;) {
    const long got = file.read(piece.data(), piece.size());
    if (got < 0) return false;
    if (got == 0) return true;
    if (!each(piece.data(), static_cast<std::size_t>(got))) return true;
  }
}

// Opens `source` and a new temporary file named by `newName()`, runs
// `code(in, writer)` and gives the output's name; empty, with the output
// removed, when the source cannot be read or the output not written whole.
template <class NewName, class Code>
std::string codeIntoTempFile(const std::string& source, NewName newName, Code code) {
  platform::File in;
  if (source.empty() || !in.open(source, platform::File::Read)) return std::string();
  const std::string output = newName();
  platform::File out;
  if (!out.open(output, platform::File::Write)) return std::string();
  PieceWriter writer(out);
  const bool read = code(in, writer);
  if (!writer.finish() || !read) {
    platform::removeFile(output);
    return std::string();
  }
  return output;
}

// An upload's path with every "/" turned into "\".
std::string uploadSource(const std::string& path) {
  std::string source = path;
  replaceAll("/", "\\", source);
  return source;
}

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The warnings name the upload's temporary file by its name alone: no reason
// tells where the user's folders lie.
std::string shownFile(const std::string& path) { return std::string(baseName(std::string_view(path))); }

std::string paddingWarning(const char* mark, const std::string& path, std::int64_t position) {
  return std::string(mark) + ":Padding error in Base64 encoded file " + shownFile(path) + " at position " +
         std::to_string(position) + ". Decoded file is unreliable.";
}

}  // namespace

std::string VLFileHandler::unescapeUpload(const std::string& path, std::string& /*message*/, int& /*code*/) {
  return codeIntoTempFile(uploadSource(path), [this] { return makeTempFileName(); },
                          [&](platform::File& in, PieceWriter& writer) {
    // An escape may straddle two pieces: its digits are gathered across them.
    bool inEscape = false;
    std::string digits;
    const bool read = readPieces(in, [&](const char* data, std::size_t length) {
      for (std::size_t i = 0; i < length; ++i) {
        const char c = data[i];
        if (c == '\0') return false;  // decoding ends at the first NUL
        if (inEscape) {
          digits.push_back(c);
          if (digits.size() == 2) {
            writer.put(static_cast<char>(stringToInt(digits, 16) & 0xFF));
            inEscape = false;
            digits.clear();
          }
        } else if (c == '%') {
          inEscape = true;
        } else {
          writer.put(c);
        }
      }
      return true;
    });
    // A "%" near the end decodes what follows it.
    if (inEscape) writer.put(static_cast<char>(stringToInt(digits, 16) & 0xFF));
    return read;
  });
}

std::string VLFileHandler::decodeBase64File(const std::string& path, std::string& message, int& code) {
  return codeIntoTempFile(uploadSource(path), [this] { return makeTempFileName(); },
                          [&](platform::File& in, PieceWriter& writer) {
    std::int64_t position = 0;
    std::int64_t characters = 0;
    char group[4];
    int inGroup = 0;
    const bool read = readPieces(in, [&](const char* data, std::size_t length) {
      for (std::size_t i = 0; i < length; ++i) {
        ++position;
        const char c = data[i];
        if (c != '=' && base64Value(static_cast<unsigned char>(c)) < 0) continue;
        ++characters;
        group[inGroup++] = c;
        if (inGroup < 4) continue;
        inGroup = 0;
        std::uint32_t bits = 0;
        int padding = 0;
        for (int at = 0; at < 4; ++at) {
          if (at == 3 && group[3] != '=' && group[2] == '=') {
            message += paddingWarning("CP1", path, position);
            code = kBase64Padding;
          }
          int value = 0;
          if (group[at] == '=') {
            ++padding;
            if (at <= 1) {
              message += paddingWarning("CP2", path, position);
              code = kBase64Padding;
            }
          } else {
            value = base64Value(static_cast<unsigned char>(group[at]));
          }
          bits = (bits << 6) | static_cast<std::uint32_t>(value);
        }
        const char bytes[3] = {static_cast<char>(bits >> 16), static_cast<char>(bits >> 8),
                               static_cast<char>(bits)};
        if (padding < 3) writer.put(bytes, static_cast<std::size_t>(3 - padding));
      }
      return true;
    });
    if (characters % 4 != 0) {
      message += "Count of Base64 encoded characters in file " + shownFile(path) +
                 " must be a multiple of four. There were " + std::to_string(characters) +
                 " Base64 encoded characters in the file. Decoded file is unreliable.";
      code = kBase64Count;
    }
    return read;
  });
}

std::string VLFileHandler::encodeBase64File(const std::string& path) {
  return codeIntoTempFile(path, [this] { return makeTempFileName(); },
                          [&](platform::File& in, PieceWriter& writer) {
    unsigned char group[3];
    int inGroup = 0;
    int lineCount = 0;
    auto emit = [&](int bytes) {
      const std::uint32_t bits = (static_cast<std::uint32_t>(group[0]) << 16) |
                                 (static_cast<std::uint32_t>(bytes > 1 ? group[1] : 0) << 8) |
                                 static_cast<std::uint32_t>(bytes > 2 ? group[2] : 0);
      writer.put(kAlphabet[(bits >> 18) & 63]);
      writer.put(kAlphabet[(bits >> 12) & 63]);
      writer.put(bytes > 1 ? kAlphabet[(bits >> 6) & 63] : '=');
      writer.put(bytes > 2 ? kAlphabet[bits & 63] : '=');
      lineCount += 4;
      if (lineCount == 76) {
        writer.put("\r\n", 2);
        lineCount = 0;
      }
    };
    const bool read = readPieces(in, [&](const char* data, std::size_t length) {
      for (std::size_t i = 0; i < length; ++i) {
        group[inGroup++] = static_cast<unsigned char>(data[i]);
        if (inGroup == 3) {
          emit(3);
          inGroup = 0;
        }
      }
      return true;
    });
    if (inGroup > 0) emit(inGroup);
    // The last line ends with CR LF too, written once when it is also a full line.
    if (lineCount > 0) writer.put("\r\n", 2);
    return read;
  });
}
