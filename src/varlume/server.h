// VLServer: the proxy's front door. Listens on 127.0.0.1 at the listening
// port, hands each accepted browser connection to a free entry of its pool of
// 20 VLClientConnection objects and starts that entry's thread; while every
// entry is busy it makes further entries, up to 64, so connections held by a
// slow or hostile origin never keep other browsing out. It also hands
// out the request numbers shared by all connections: 1, 2, ... 99,999,999 and
// then 1 again, so every number fits the 12-byte notices.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/sockets.h"
#include "varlume/cache_rules.h"
#include "varlume/cross_site_table.h"

class VLClientConnection;

class VLServer {
 public:
  // Entries built with the server, and the most there may ever be.
  static constexpr int kPoolCapacity = 20;
  static constexpr int kPoolLimit = 64;
  static constexpr int kMaxSequence = 99999999;

  // Builds the 20 entries; mutexIndex guards the pool and the request numbers.
  explicit VLServer(int mutexIndex);
  virtual ~VLServer();
  VLServer(const VLServer&) = delete;
  VLServer& operator=(const VLServer&) = delete;

  // The accept loop on the listener openListener opened; returns the
  // listening socket once `running` is 0 (only the destructor clears it), or
  // at once when no listener is open. The arguments play no part: the
  // listener is open already and the notification listeners take their
  // ports from the start-up settings.
  platform::Socket serve(int listenPort, int internalPort);
  // The listening socket on 127.0.0.1:port, on which serve then accepts;
  // false on any failure (the caller logs the failure and ends the process).
  bool openListener(int port);
  // One accepted connection, blocking; kInvalidSocket when none was taken.
  platform::Socket acceptConnection(platform::Socket listener);
  // Binds an accepted socket to the first free entry and returns its index,
  // or -1 when no entry is free. The caller holds the mutex `mutexIndex`.
  int takeConnectionSlot(platform::Socket socket);
  // Makes one more entry with its notification listener (kept for the
  // server's life, like the first 20); false at kPoolLimit or when no port
  // of the notice range is left. Called by the accept thread only, without
  // the mutex, which it takes to add the entry.
  bool growPool();
  // The next request number (under the mutex).
  int nextSequence();
  // The cross-site records, under mutex 0: storeCrossSite keeps a copy;
  // findCrossSite copies the current record of the pair into `out` (false,
  // and `out` reset, when there is none or it has expired).
  void storeCrossSite(const VLCrossSiteRecord& record);
  bool findCrossSite(VLCrossSiteRecord& out, const std::string& pageHost, const std::string& domain);
  // A pause, the same as VLObject::sleepFor.
  void waitFor(int seconds, int microseconds);
  // An entry's connection ended: wakes the accept loop when it waits for one.
  void entryFreed();

  // An entry is free when it serves no browser and neither its connection
  // thread nor its responder thread is still inside its body.
  bool isEntryFree(int index) const;
  // Entries 0 to poolSize() - 1 exist.
  VLClientConnection& entry(int index) { return *pool_[index]; }
  int poolCapacity() const { return kPoolCapacity; }
  int poolSize() const { return poolSize_.load(); }
  platform::Socket listenSocket() const { return listenSocket_; }
  int listenPort() const { return listenPort_; }
  int mutexIndex() const { return mutexIndex_; }

  // The cache rules (server_cache_rules.cpp), loaded at start-up before
  // serve and read-only afterwards. Each load is false when the file
  // cannot be read, and then changes nothing.
  bool loadCacheTypes(const std::string& path);
  bool loadCacheDomains(const std::string& path);
  // Seconds a response may be kept: -1 with no age limit, 0 not at all.
  // url is in origin form with its query; key receives the cache key.
  int cacheLifetime(const std::string& pageHost, const std::string& url, std::string& key) const;
  // `extension` upper-case, without the dot.
  bool isCacheForeverType(const std::string& extension) const;

  // Extension -> forever flag, from "CacheTypes.txt".
  std::map<std::string, bool> cacheTypes;
  VLCacheRules cacheRules;

 private:
  platform::Socket listenSocket_ = platform::kInvalidSocket;
  int listenPort_ = 0;
  volatile int running_ = 1;
  std::unique_ptr<VLClientConnection> pool_[kPoolLimit];
  std::atomic<int> poolSize_{0};  // grows under the mutex, by the accept thread
  int mutexIndex_;
  int sequence_ = 0;
  VLCrossSiteTable crossSites_;  // mutex 0
  // Ends of connections, counted, for the accept loop's wait.
  std::mutex freedMutex_;
  std::condition_variable freed_;
  std::uint64_t freedCount_ = 0;
};
