// The parameter text of a request as the lookups see it: the text held in
// memory with the long values that stayed in the request's body file put back
// at their places. A value longer than one piece is never read into memory by
// the framework; a lookup reads the text piece by piece, and a value found
// can be written to a file piece by piece (or taken whole by a caller that
// wants it so).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform {
class File;
}

// A value of the parameters that stayed in the body file: its bytes stand at
// position `at` of the text in memory.
struct VLLongValue {
  std::size_t at = 0;
  std::int64_t offset = 0;  // in the body file
  std::int64_t length = 0;
};

// A stretch of the parameter text: pieces held in memory or in the body file.
class VLParameterValue {
 public:
  VLParameterValue() = default;
  explicit VLParameterValue(std::string bytes) { pieces_.push_back(Piece{std::move(bytes)}); }
  std::int64_t size() const;
  // The whole value in memory; empty when the body file cannot be read.
  std::string text() const;
  // Appends the value to `out`; false when a read or a write failed.
  bool writeTo(platform::File& out) const;

 private:
  friend class VLParameterText;
  struct Piece {
    std::string bytes;         // held in memory, or
    std::int64_t offset = -1;  // a range of the body file
    std::int64_t length = 0;
  };
  std::vector<Piece> pieces_;
  platform::File* source_ = nullptr;
};

// The text of `memory` with `values` (in order of their `at`) put back, read
// from `source` (the open body file). Valid while its three parts live.
class VLParameterText {
 public:
  VLParameterText(const std::string& memory, const std::vector<VLLongValue>& values, platform::File* source)
      : memory_(memory), values_(values), source_(source) {}

  // The value of the first "key=" found anywhere in the text (key trimmed of
  // blanks), up to the next "&" or the end; empty when absent. The rule of
  // queryValue, over the whole text.
  VLParameterValue valueOf(const std::string& key) const;
  // The whole text.
  VLParameterValue whole() const { return slice(0, size()); }

 private:
  std::int64_t size() const;
  // Calls `each(position, data, length)` for the text from `from` on, in
  // pieces of at most 64 KiB, until it returns false. False when the body
  // file could not be read.
  template <class Each>
  bool forEachPiece(std::int64_t from, Each each) const;
  std::int64_t find(const std::string& needle) const;
  std::int64_t findAmpersand(std::int64_t from) const;
  VLParameterValue slice(std::int64_t from, std::int64_t to) const;

  const std::string& memory_;
  const std::vector<VLLongValue>& values_;
  platform::File* source_;
};
