// The bound on the cache folder's size on disk: the key cachemegabytes of
// varlume.config, in MiB (a missing key, or a value that is not a plain
// number, means kDefaultCacheMegabytes; 0 keeps nothing). Every file counts
// as its size in whole 4 KiB blocks (at least one), every folder as one
// block. A copy larger than an eighth of the bound is never kept. When a
// stored copy takes the cache past the bound, the copies with the oldest
// times go first (a hit renews a copy's time) until the cache holds at most
// seven eighths of the bound; folders left empty go with them. POST markers
// and files being written are never removed; links are never followed, and
// only regular files are removed.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

inline constexpr char kCacheBoundKey[] = "cachemegabytes";
inline constexpr std::int64_t kDefaultCacheMegabytes = 1024;
inline constexpr std::int64_t kCacheBlockBytes = 4096;

// The bound in bytes: a start-up setting, written by parseConfiguration.
extern std::int64_t cacheBoundBytes;

// The bound for the key's value (see above).
std::int64_t cacheBoundFromValue(const std::string& value);
// What a file of `size` bytes takes by this count.
std::int64_t diskFootprint(std::uint64_t size);
// False for a copy of `bytes` larger than an eighth of the bound.
bool cacheMayKeep(std::uint64_t bytes);
// The temporary name a store gives a copy until it is whole: ".vltmp" +
// digits + "_" + digits.
bool isStoreTemporaryName(const std::string& name);

// A stored copy as the trimming sees it.
struct VLCacheCopy {
  std::string path;
  std::int64_t footprint = 0;
  std::int64_t seconds = 0;      // modification time
  std::int64_t nanoseconds = 0;
};
// The copies to remove, oldest first (ties by path), so that `total` comes
// to at most `target`; indexes into `copies`.
std::vector<std::size_t> copiesToRemove(const std::vector<VLCacheCopy>& copies, std::int64_t total,
                                        std::int64_t target);

// What storing a copy of `bytes` at `path` (a cache file path) does to the
// cache: whether it may be kept at all, and the blocks it adds (its own,
// less those of the copy it replaces, plus the folders still to be made).
struct VLCacheAddition {
  bool keep = false;
  std::int64_t footprint = 0;
};
VLCacheAddition planCacheCopy(const std::string& path, std::uint64_t bytes);
// After the planned copy was stored: counts it and trims the cache when it
// is past its bound (or was never counted). Any thread; one trim at a time.
void cacheCopyStored(const VLCacheAddition& addition);
// At start, before any store: removes what interrupted stores left (files
// of the temporary name, anywhere below the cache folder), counts the cache
// and trims it to the bound.
void sweepCacheFolder();
// The cache's size as last counted; -1 before the first count.
std::int64_t cacheBytesCounted();
