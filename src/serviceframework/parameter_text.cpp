#include "serviceframework/parameter_text.h"

#include <algorithm>
#include <cstring>

#include "foundation/strings.h"
#include "platform/files.h"

namespace {

constexpr std::size_t kPieceBytes = 65536;

// Reads `length` bytes at `offset` of `file` into `out` (resized to the count read).
bool readRange(platform::File& file, std::int64_t offset, std::size_t length, std::string& out) {
  out.resize(length);
  if (!file.seek(offset)) return false;
  std::size_t done = 0;
  while (done < length) {
    const long got = file.read(out.data() + done, length - done);
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

}  // namespace

std::int64_t VLParameterValue::size() const {
  std::int64_t total = 0;
  for (const Piece& piece : pieces_) {
    total += piece.offset < 0 ? static_cast<std::int64_t>(piece.bytes.size()) : piece.length;
  }
  return total;
}

std::string VLParameterValue::text() const {
  std::string whole;
  for (const Piece& piece : pieces_) {
    if (piece.offset < 0) {
      whole += piece.bytes;
      continue;
    }
    std::string bytes;
    if (source_ == nullptr || !readRange(*source_, piece.offset, static_cast<std::size_t>(piece.length), bytes)) {
      return std::string();
    }
    whole += bytes;
  }
  return whole;
}

bool VLParameterValue::writeTo(platform::File& out) const {
  std::string bytes;
  for (const Piece& piece : pieces_) {
    if (piece.offset < 0) {
      if (!piece.bytes.empty() && !out.write(piece.bytes)) return false;
      continue;
    }
    for (std::int64_t done = 0; done < piece.length;) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(piece.length - done, kPieceBytes));
      if (source_ == nullptr || !readRange(*source_, piece.offset + done, want, bytes)) return false;
      if (!out.write(bytes)) return false;
      done += static_cast<std::int64_t>(want);
    }
  }
  return true;
}

std::int64_t VLParameterText::size() const {
  std::int64_t total = static_cast<std::int64_t>(memory_.size());
  for (const VLLongValue& value : values_) total += value.length;
  return total;
}

template <class Each>
bool VLParameterText::forEachPiece(std::int64_t from, Each each) const {
  std::int64_t position = 0;  // of the text
  std::size_t inMemory = 0;   // of memory_
  std::string bytes;
  auto memoryUpTo = [&](std::size_t end) {
    // The memory text before `end`, from `from` on.
    while (inMemory < end) {
      const std::size_t length = std::min(end - inMemory, kPieceBytes);
      if (position + static_cast<std::int64_t>(length) > from) {
        const std::size_t skip = position < from ? static_cast<std::size_t>(from - position) : 0;
        if (!each(position + static_cast<std::int64_t>(skip), memory_.data() + inMemory + skip, length - skip)) {
          return false;
        }
      }
      inMemory += length;
      position += static_cast<std::int64_t>(length);
    }
    return true;
  };
  for (const VLLongValue& value : values_) {
    if (!memoryUpTo(value.at)) return true;
    for (std::int64_t done = 0; done < value.length;) {
      const std::size_t length = static_cast<std::size_t>(std::min<std::int64_t>(value.length - done, kPieceBytes));
      if (position + static_cast<std::int64_t>(length) > from) {
        if (source_ == nullptr || !readRange(*source_, value.offset + done, length, bytes)) return false;
        const std::size_t skip = position < from ? static_cast<std::size_t>(from - position) : 0;
        if (!each(position + static_cast<std::int64_t>(skip), bytes.data() + skip, length - skip)) return true;
      }
      done += static_cast<std::int64_t>(length);
      position += static_cast<std::int64_t>(length);
    }
  }
  memoryUpTo(memory_.size());
  return true;
}

std::int64_t VLParameterText::find(const std::string& needle) const {
  if (needle.empty()) return 0;
  std::string window;  // the carried tail of the text read so far, then the piece
  std::int64_t windowStart = 0;
  std::int64_t found = -1;
  forEachPiece(0, [&](std::int64_t position, const char* data, std::size_t length) {
    if (window.empty()) windowStart = position;
    window.append(data, length);
    const std::size_t at = window.find(needle);
    if (at != std::string::npos) {
      found = windowStart + static_cast<std::int64_t>(at);
      return false;
    }
    const std::size_t keep = std::min(window.size(), needle.size() - 1);
    windowStart += static_cast<std::int64_t>(window.size() - keep);
    window.erase(0, window.size() - keep);
    return true;
  });
  return found;
}

std::int64_t VLParameterText::findAmpersand(std::int64_t from) const {
  std::int64_t found = -1;
  forEachPiece(from, [&](std::int64_t position, const char* data, std::size_t length) {
    const void* at = std::memchr(data, '&', length);
    if (at == nullptr) return true;
    found = position + (static_cast<const char*>(at) - data);
    return false;
  });
  return found;
}

VLParameterValue VLParameterText::slice(std::int64_t from, std::int64_t to) const {
  VLParameterValue value;
  value.source_ = source_;
  std::int64_t position = 0;
  std::size_t inMemory = 0;
  auto take = [&](std::int64_t start, std::int64_t length, bool memory, std::int64_t offset) {
    // The part of [start, start + length) that lies in [from, to).
    const std::int64_t begin = std::max(start, from);
    const std::int64_t end = std::min(start + length, to);
    if (begin >= end) return;
    VLParameterValue::Piece piece;
    if (memory) {
      piece.bytes = memory_.substr(static_cast<std::size_t>(offset + (begin - start)),
                                   static_cast<std::size_t>(end - begin));
    } else {
      piece.offset = offset + (begin - start);
      piece.length = end - begin;
    }
    value.pieces_.push_back(std::move(piece));
  };
  for (const VLLongValue& longValue : values_) {
    const std::int64_t length = static_cast<std::int64_t>(longValue.at - inMemory);
    take(position, length, true, static_cast<std::int64_t>(inMemory));
    position += length;
    inMemory = longValue.at;
    take(position, longValue.length, false, longValue.offset);
    position += longValue.length;
  }
  take(position, static_cast<std::int64_t>(memory_.size() - inMemory), true, static_cast<std::int64_t>(inMemory));
  return value;
}

VLParameterValue VLParameterText::valueOf(const std::string& key) const {
  const std::string wanted = trim(key, false) + "=";
  const std::int64_t found = find(wanted);
  if (found < 0) return VLParameterValue();
  const std::int64_t begin = found + static_cast<std::int64_t>(wanted.size());
  const std::int64_t total = size();
  if (begin >= total) return VLParameterValue();
  std::int64_t end = findAmpersand(begin);
  if (end < 0) end = total;
  return slice(begin, end);
}
