#include "varlume/cache_bound.h"

#include <algorithm>
#include <mutex>

#include "foundation/decimal.h"
#include "foundation/strings.h"
#include "platform/files.h"
#include "varlume/cache_paths.h"

std::int64_t cacheBoundBytes = kDefaultCacheMegabytes * 1024 * 1024;

namespace {

constexpr char kTemporaryPrefix[] = ".vltmp";
constexpr char kMarkerName[] = "catchall.varlumepost";
// Far beyond any disk, and far from overflowing once made bytes.
constexpr std::int64_t kLargestMegabytes = std::int64_t{1} << 30;

bool allDigits(const std::string& text, std::size_t from, std::size_t to) {
  if (from >= to) return false;
  for (std::size_t i = from; i < to; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}

// What a walk of the cache folder found.
struct VLCacheCount {
  std::int64_t total = 0;
  std::vector<VLCacheCopy> copies;    // files that may be removed
  std::vector<std::string> folders;   // below the root, "\" form
};

// Walks the cache folder without following a link: a link is counted as
// itself and never entered. Names holding a "\" (which the "\"-form path
// would read as a separator) are passed over whole.
VLCacheCount countCache(bool removeLeftovers) {
  VLCacheCount count;
  std::string root = cacheRootPath();
  platform::FileStatus status;
  if (!platform::linkStatusOf(root.substr(0, root.size() - 1), status) || !status.isDirectory) return count;
  std::vector<std::string> pending{root};
  std::vector<platform::ListedEntry> entries;
  while (!pending.empty()) {
    const std::string folder = pending.back();
    pending.pop_back();
    if (!platform::listFolder(folder, entries)) continue;
    for (const platform::ListedEntry& entry : entries) {
      if (entry.name.find('\\') != std::string::npos) continue;
      const std::string path = folder + entry.name;
      if (entry.isDirectory) {
        pending.push_back(path + "\\");
        count.folders.push_back(path);
        count.total += kCacheBlockBytes;
        continue;
      }
      const std::int64_t footprint = diskFootprint(entry.size);
      if (isStoreTemporaryName(entry.name)) {
        // A store that runs now writes such a file; at start none runs.
        if (removeLeftovers && platform::linkStatusOf(path, status) && status.isRegular &&
            platform::removeFile(path)) {
          continue;
        }
        count.total += footprint;
        continue;
      }
      count.total += footprint;
      if (entry.name == kMarkerName) continue;
      count.copies.push_back({path, footprint, entry.modificationTime, entry.modificationNanoseconds});
    }
  }
  return count;
}

// Removes the chosen copies and then the folders left empty; the total after.
std::int64_t trimTo(VLCacheCount& count, std::int64_t target) {
  std::int64_t total = count.total;
  bool removed = false;
  for (std::size_t index : copiesToRemove(count.copies, total, target)) {
    const VLCacheCopy& copy = count.copies[index];
    platform::FileStatus status;
    if (!platform::linkStatusOf(copy.path, status) || !status.isRegular) continue;
    if (platform::removeFile(copy.path)) {
      total -= copy.footprint;
      removed = true;
    }
  }
  if (!removed) return total;
  // Deepest first, so a folder emptied by its sub-folders' removal goes too;
  // a folder that is not empty stays (the system refuses to remove it).
  std::sort(count.folders.begin(), count.folders.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& folder : count.folders) {
    if (platform::removeDirectory(folder)) total -= kCacheBlockBytes;
  }
  return total;
}

class VLCacheTally {
 public:
  // Adds a store; true when the cache is to be counted and trimmed.
  bool add(std::int64_t change) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (counting_) addedMeanwhile_ += change;
    if (total_ < 0) return true;
    total_ += change;
    return total_ > cacheBoundBytes;
  }
  bool over() {
    std::lock_guard<std::mutex> guard(mutex_);
    return total_ < 0 || total_ > cacheBoundBytes;
  }
  void beginCount() {
    std::lock_guard<std::mutex> guard(mutex_);
    counting_ = true;
    addedMeanwhile_ = 0;
  }
  // A walk may have missed the copies stored while it ran: they are added
  // again (counting one twice is the safe way to err).
  void endCount(std::int64_t total) {
    std::lock_guard<std::mutex> guard(mutex_);
    total_ = total + addedMeanwhile_;
    counting_ = false;
  }
  std::int64_t get() {
    std::lock_guard<std::mutex> guard(mutex_);
    return total_;
  }
  std::mutex& trimMutex() { return trim_; }

 private:
  std::mutex mutex_;
  std::int64_t total_ = -1;
  bool counting_ = false;
  std::int64_t addedMeanwhile_ = 0;
  std::mutex trim_;  // one count at a time
};

VLCacheTally& tally() {
  static VLCacheTally instance;
  return instance;
}

// The caller holds the trim mutex.
void countAndTrim(bool removeLeftovers) {
  tally().beginCount();
  VLCacheCount count = countCache(removeLeftovers);
  std::int64_t total = count.total;
  if (total > cacheBoundBytes) total = trimTo(count, cacheBoundBytes - cacheBoundBytes / 8);
  tally().endCount(total);
}

}  // namespace

std::int64_t cacheBoundFromValue(const std::string& value) {
  std::int64_t megabytes = 0;
  if (!parseDigits(trim(value, true), megabytes)) megabytes = kDefaultCacheMegabytes;
  return std::min(megabytes, kLargestMegabytes) * 1024 * 1024;
}

std::int64_t diskFootprint(std::uint64_t size) {
  const std::uint64_t blocks = (size + kCacheBlockBytes - 1) / kCacheBlockBytes;
  return static_cast<std::int64_t>(std::max<std::uint64_t>(blocks, 1)) * kCacheBlockBytes;
}

bool cacheMayKeep(std::uint64_t bytes) {
  return cacheBoundBytes > 0 && bytes <= static_cast<std::uint64_t>(cacheBoundBytes / 8);
}

bool isStoreTemporaryName(const std::string& name) {
  const std::size_t prefix = sizeof kTemporaryPrefix - 1;
  if (name.compare(0, prefix, kTemporaryPrefix) != 0) return false;
  const std::size_t underscore = name.find('_', prefix);
  return underscore != std::string::npos && allDigits(name, prefix, underscore) &&
         allDigits(name, underscore + 1, name.size());
}

std::vector<std::size_t> copiesToRemove(const std::vector<VLCacheCopy>& copies, std::int64_t total,
                                        std::int64_t target) {
  std::vector<std::size_t> order(copies.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const VLCacheCopy& x = copies[a];
    const VLCacheCopy& y = copies[b];
    if (x.seconds != y.seconds) return x.seconds < y.seconds;
    if (x.nanoseconds != y.nanoseconds) return x.nanoseconds < y.nanoseconds;
    return x.path < y.path;
  });
  std::vector<std::size_t> chosen;
  for (std::size_t index : order) {
    if (total <= target) break;
    chosen.push_back(index);
    total -= copies[index].footprint;
  }
  return chosen;
}

VLCacheAddition planCacheCopy(const std::string& path, std::uint64_t bytes) {
  VLCacheAddition addition;
  addition.keep = cacheMayKeep(bytes);
  if (!addition.keep) return addition;
  addition.footprint = diskFootprint(bytes);
  platform::FileStatus old;
  if (platform::linkStatusOf(path, old) && old.isRegular) addition.footprint -= diskFootprint(old.size);
  const std::string root = cacheRootPath();
  const std::size_t cut = path.find_last_of('\\');
  std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut);
  while (folder.size() > root.size() && !platform::isDirectory(folder)) {
    addition.footprint += kCacheBlockBytes;
    folder.erase(folder.find_last_of('\\'));
  }
  return addition;
}

void cacheCopyStored(const VLCacheAddition& addition) {
  if (!tally().add(addition.footprint)) return;
  std::lock_guard<std::mutex> trimming(tally().trimMutex());
  // A trim that ran meanwhile may have brought the cache under its bound.
  if (tally().over()) countAndTrim(false);
}

void sweepCacheFolder() {
  std::lock_guard<std::mutex> trimming(tally().trimMutex());
  countAndTrim(true);
}

std::int64_t cacheBytesCounted() { return tally().get(); }
