// TCP sockets behind a table of handles. Each open handle owns a shared entry
// that holds the descriptor; every call takes a reference for its duration,
// so closing a handle shuts the socket down at once (waking blocked calls)
// while the descriptor itself is closed only when the last call has left.
#include "platform/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/peer_user.h"

namespace platform {
namespace {

thread_local int lastError = kSocketOk;
constexpr useconds_t kOutOfDescriptorsPauseMicroseconds = 10000;

struct SocketEntry {
  explicit SocketEntry(int fd) : descriptor(fd) {}
  ~SocketEntry() { ::close(descriptor); }
  SocketEntry(const SocketEntry&) = delete;
  SocketEntry& operator=(const SocketEntry&) = delete;

  const int descriptor;
  std::atomic<bool> closed{false};       // closeSocket was called
  std::atomic<bool> sendShutdown{false};  // shutdownSocket(Send or Both)
};
using EntryRef = std::shared_ptr<SocketEntry>;

// Never destroyed: detached threads may still use sockets while the process
// ends.
class HandleTable {
 public:
  Socket add(int descriptor) {
    EntryRef entry;
    try {
      entry = std::make_shared<SocketEntry>(descriptor);
    } catch (...) {
      ::close(descriptor);
      return kInvalidSocket;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    Socket handle;
    do {
      handle = next_;
      next_ = next_ == 0x7FFFFFFF ? 1 : next_ + 1;
    } while (open_.count(handle) != 0);
    open_.emplace(handle, std::move(entry));
    return handle;
  }

  EntryRef find(Socket handle) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto found = open_.find(handle);
    return found == open_.end() ? EntryRef() : found->second;
  }

  EntryRef remove(Socket handle) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto found = open_.find(handle);
    if (found == open_.end()) return EntryRef();
    EntryRef entry = std::move(found->second);
    open_.erase(found);
    return entry;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<Socket, EntryRef> open_;
  Socket next_ = 1;
};

HandleTable& table() {
  static HandleTable* instance = new HandleTable;
  return *instance;
}

// The entry of an open handle, or null with kErrNotSocket.
EntryRef acquire(Socket handle) {
  EntryRef entry = handle == kInvalidSocket ? EntryRef() : table().find(handle);
  if (!entry) setLastSocketError(kErrNotSocket);
  return entry;
}

bool failWithErrno() {
  setLastSocketError(socketErrorFromErrno(errno));
  return false;
}

bool failWith(int error) {
  setLastSocketError(error);
  return false;
}

// A call that came back while the handle was being closed reports the
// handle as gone rather than whatever the shutdown made of it.
bool closedUnderCall(const EntryRef& entry) {
  if (!entry->closed.load()) return false;
  setLastSocketError(kErrNotSocket);
  return true;
}

bool validPort(int port) { return port >= 0 && port <= 65535; }

int remainingMs(std::int64_t deadline) {
  std::int64_t left = deadline - monotonicMilliseconds();
  if (left <= 0) return 0;
  return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

// SIGPIPE blocked for the calling thread, once per thread.
void holdPipeSignalOnThisThread() {
  thread_local bool held = false;
  if (held) return;
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  held = pthread_sigmask(SIG_BLOCK, &pipe, nullptr) == 0;
}

// A SIGPIPE waiting on the calling thread (which holds it blocked) is
// taken away unseen.
void takeBackPipeSignal() {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  const timespec none = {0, 0};
  while (sigtimedwait(&pipe, nullptr, &none) < 0 && errno == EINTR) {
  }
}

int resolverError(int code) {
  switch (code) {
    case EAI_NONAME: return kErrHostNotFound;
#ifdef EAI_NODATA
    case EAI_NODATA: return kErrNoData;
#endif
    case EAI_AGAIN: return kErrTryAgain;
    case EAI_FAIL: return kErrNoRecovery;
    case EAI_MEMORY: return kErrNoBuffers;
    case EAI_SYSTEM: return socketErrorFromErrno(errno);
    default: return kErrOther;
  }
}

bool resolve(const std::string& host, int port, sockaddr_in& address) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICSERV;
  std::string service = std::to_string(port);
  addrinfo* found = nullptr;
  int code = ::getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found);
  if (code != 0) return failWith(resolverError(code));
  bool okay = false;
  for (addrinfo* item = found; item != nullptr; item = item->ai_next) {
    if (item->ai_family == AF_INET && item->ai_addrlen >= sizeof(sockaddr_in)) {
      std::memcpy(&address, item->ai_addr, sizeof(sockaddr_in));
      okay = true;
      break;
    }
  }
  ::freeaddrinfo(found);
  return okay || failWith(kErrHostNotFound);
}

}  // namespace

int socketsStartup(int /*requestedVersion*/, int* grantedVersion) {
  if (grantedVersion != nullptr) *grantedVersion = 0x0202;
  return 0;
}

void socketsCleanup() {}

int lastSocketError() { return lastError; }

void setLastSocketError(int error) { lastError = error; }

int socketErrorFromErrno(int systemError) {
  switch (systemError) {
    case 0: return kSocketOk;
    case EINTR: return kErrInterrupted;
    case EBADF: return kErrBadHandle;
    case EACCES:
    case EPERM: return kErrAccess;
    case EFAULT: return kErrFault;
    case EINVAL: return kErrInvalid;
    case EMFILE:
    case ENFILE: return kErrTooManyOpen;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK: return kErrWouldBlock;
    case EINPROGRESS:
    case EALREADY: return kErrInProgress;
    case ENOTSOCK: return kErrNotSocket;
    case EMSGSIZE: return kErrMessageSize;
    case EADDRINUSE: return kErrAddressInUse;
    case EADDRNOTAVAIL: return kErrAddressNotAvailable;
    case ENETDOWN: return kErrNetworkDown;
    case ENETUNREACH: return kErrNetworkUnreachable;
    case ECONNABORTED: return kErrConnectionAborted;
    case ECONNRESET:
    case EPIPE: return kErrConnectionReset;
    case ENOBUFS:
    case ENOMEM: return kErrNoBuffers;
    case EISCONN: return kErrIsConnected;
    case ENOTCONN: return kErrNotConnected;
    case ESHUTDOWN: return kErrShutdown;
    case ETIMEDOUT: return kErrTimedOut;
    case ECONNREFUSED: return kErrConnectionRefused;
    case EHOSTDOWN: return kErrHostDown;
    case EHOSTUNREACH: return kErrHostUnreachable;
    default: return kErrOther;
  }
}

Socket tcpSocket() {
  int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (descriptor < 0) {
    failWithErrno();
    return kInvalidSocket;
  }
  Socket handle = table().add(descriptor);
  if (handle == kInvalidSocket) setLastSocketError(kErrNoBuffers);
  return handle;
}

void closeSocket(Socket socket) {
  EntryRef entry = socket == kInvalidSocket ? EntryRef() : table().remove(socket);
  if (!entry) {
    setLastSocketError(kErrNotSocket);
    return;
  }
  entry->closed.store(true);
  ::shutdown(entry->descriptor, SHUT_RDWR);
  // The descriptor closes with the last reference: here, or when the last
  // call still inside it returns.
}

bool shutdownSocket(Socket socket, ShutdownHow how) {
  EntryRef entry = acquire(socket);
  if (!entry) return false;
  int mode = how == ShutdownHow::Receive ? SHUT_RD : how == ShutdownHow::Send ? SHUT_WR : SHUT_RDWR;
  if (::shutdown(entry->descriptor, mode) != 0) return failWithErrno();
  if (how != ShutdownHow::Receive) entry->sendShutdown.store(true);
  return true;
}

bool setReuseAddress(Socket socket) {
  EntryRef entry = acquire(socket);
  if (!entry) return false;
  int on = 1;
  if (::setsockopt(entry->descriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) return failWithErrno();
  return true;
}

bool setLinger(Socket socket, bool on, int seconds) {
  EntryRef entry = acquire(socket);
  if (!entry) return false;
  if (seconds < 0) return failWith(kErrInvalid);
  struct linger value;
  value.l_onoff = on ? 1 : 0;
  value.l_linger = seconds;
  if (::setsockopt(entry->descriptor, SOL_SOCKET, SO_LINGER, &value, sizeof value) != 0) return failWithErrno();
  return true;
}

int unsentBytes(Socket socket) {
  EntryRef entry = acquire(socket);
  if (!entry) return -1;
  int queued = 0;
  if (::ioctl(entry->descriptor, SIOCOUTQ, &queued) != 0) {
    failWithErrno();
    return -1;
  }
  return queued;
}

bool setNoDelay(Socket socket) {
  EntryRef entry = acquire(socket);
  if (!entry) return false;
  const int on = 1;
  if (::setsockopt(entry->descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) return failWithErrno();
  return true;
}

bool setBufferSizes(Socket socket, int receiveBytes, int sendBytes) {
  EntryRef entry = acquire(socket);
  if (!entry) return false;
  if (::setsockopt(entry->descriptor, SOL_SOCKET, SO_RCVBUF, &receiveBytes, sizeof receiveBytes) != 0 ||
      ::setsockopt(entry->descriptor, SOL_SOCKET, SO_SNDBUF, &sendBytes, sizeof sendBytes) != 0) {
    return failWithErrno();
  }
  return true;
}

bool setBlocking(Socket socket, bool blocking) {
  EntryRef entry = acquire(socket);
  if (!entry) return false;
  int flags = ::fcntl(entry->descriptor, F_GETFL);
  if (flags < 0) return failWithErrno();
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  if (::fcntl(entry->descriptor, F_SETFL, flags) != 0) return failWithErrno();
  return true;
}

bool bindSocket(Socket socket, std::uint32_t address, int port) {
  EntryRef entry = acquire(socket);
  if (!entry) return false;
  if (!validPort(port)) return failWith(kErrInvalid);
  sockaddr_in local;
  std::memset(&local, 0, sizeof local);
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(address);
  local.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::bind(entry->descriptor, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) return failWithErrno();
  return true;
}

bool listenSocket(Socket socket, int backlog) {
  EntryRef entry = acquire(socket);
  if (!entry) return false;
  if (::listen(entry->descriptor, backlog) != 0) return failWithErrno();
  return true;
}

int localPort(Socket socket) {
  EntryRef entry = acquire(socket);
  if (!entry) return -1;
  sockaddr_in local;
  socklen_t length = sizeof local;
  if (::getsockname(entry->descriptor, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    failWithErrno();
    return -1;
  }
  return ntohs(local.sin_port);
}

Socket acceptSocket(Socket listener, std::uint32_t* peerAddress) {
  EntryRef entry = acquire(listener);
  if (!entry) return kInvalidSocket;
  for (;;) {
    sockaddr_in peer;
    socklen_t length = sizeof peer;
    int descriptor = ::accept4(entry->descriptor, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (descriptor >= 0) {
      if (entry->closed.load()) {
        ::close(descriptor);
        setLastSocketError(kErrNotSocket);
        return kInvalidSocket;
      }
      if (peerAddress != nullptr) *peerAddress = ntohl(peer.sin_addr.s_addr);
      Socket handle = table().add(descriptor);
      if (handle == kInvalidSocket) setLastSocketError(kErrNoBuffers);
      return handle;
    }
    if (closedUnderCall(entry)) return kInvalidSocket;
    if (errno == EMFILE || errno == ENFILE) {
      // The connection stays waiting and the listener readable: a pause
      // keeps a caller that waits on it again from spinning.
      failWithErrno();
      ::usleep(kOutOfDescriptorsPauseMicroseconds);
      return kInvalidSocket;
    }
    if (errno != EINTR) {
      failWithErrno();
      return kInvalidSocket;
    }
  }
}

namespace {

// The one descriptor a listener keeps back for the moment none is left.
std::mutex reserveMutex;
int reserveDescriptor = -1;

bool takeReserve() {
  if (reserveDescriptor < 0) reserveDescriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  return reserveDescriptor >= 0;
}

}  // namespace

bool holdDescriptorReserve() {
  std::lock_guard<std::mutex> lock(reserveMutex);
  return takeReserve();
}

bool refuseWaitingConnection(Socket listener) {
  EntryRef entry = acquire(listener);
  if (!entry) return false;
  std::lock_guard<std::mutex> lock(reserveMutex);
  if (!takeReserve()) return false;
  ::close(reserveDescriptor);
  reserveDescriptor = -1;
  const int descriptor = ::accept4(entry->descriptor, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (descriptor >= 0) {
    // A reset: the peer learns at once that nothing will be served.
    struct linger now = {1, 0};
    ::setsockopt(descriptor, SOL_SOCKET, SO_LINGER, &now, sizeof now);
    ::close(descriptor);
  }
  takeReserve();
  return descriptor >= 0;
}

bool socketEndpoints(Socket socket, Endpoint& local, Endpoint& peer) {
  EntryRef entry = acquire(socket);
  if (!entry) return false;
  sockaddr_in mine;
  sockaddr_in theirs;
  socklen_t mineLength = sizeof mine;
  socklen_t theirsLength = sizeof theirs;
  if (::getsockname(entry->descriptor, reinterpret_cast<sockaddr*>(&mine), &mineLength) != 0 ||
      ::getpeername(entry->descriptor, reinterpret_cast<sockaddr*>(&theirs), &theirsLength) != 0) {
    return failWithErrno();
  }
  if (mine.sin_family != AF_INET || theirs.sin_family != AF_INET) return failWith(kErrInvalid);
  local = {ntohl(mine.sin_addr.s_addr), ntohs(mine.sin_port)};
  peer = {ntohl(theirs.sin_addr.s_addr), ntohs(theirs.sin_port)};
  return true;
}

namespace {

// A connection this process made to a loopback address is noted, so that
// the other end can still tell it came from this user once it is closed.
bool noteConnected(int fd, const sockaddr_in& remote) {
  const std::uint32_t address = ntohl(remote.sin_addr.s_addr);
  if ((address >> 24) != 127) return true;
  sockaddr_in local;
  socklen_t length = sizeof local;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
    noteOwnConnection({ntohl(local.sin_addr.s_addr), ntohs(local.sin_port)},
                      {address, ntohs(remote.sin_port)});
  }
  return true;
}

}  // namespace

bool connectSocket(Socket socket, const std::string& host, int port, int timeoutSeconds) {
  EntryRef entry = acquire(socket);
  if (!entry) return false;
  if (!validPort(port)) return failWith(kErrInvalid);
  sockaddr_in remote;
  if (!resolve(host, port, remote)) return false;

  int fd = entry->descriptor;
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return failWithErrno();
  if (::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return failWithErrno();
  auto restore = [&] { ::fcntl(fd, F_SETFL, flags); };

  if (::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0) {
    restore();
    return noteConnected(fd, remote);
  }
  if (errno != EINPROGRESS && errno != EINTR) {
    int saved = errno;
    restore();
    errno = saved;
    return failWithErrno();
  }
  std::int64_t deadline = monotonicMilliseconds() + static_cast<std::int64_t>(timeoutSeconds) * 1000;
  for (;;) {
    pollfd waiting = {fd, POLLOUT, 0};
    int wait = timeoutSeconds > 0 ? remainingMs(deadline) : -1;
    int ready = ::poll(&waiting, 1, wait);
    if (ready < 0 && errno == EINTR) continue;
    if (closedUnderCall(entry)) {
      restore();
      return false;
    }
    if (ready < 0) {
      int saved = errno;
      restore();
      errno = saved;
      return failWithErrno();
    }
    if (ready == 0) {
      restore();
      return failWith(kErrTimedOut);
    }
    break;
  }
  int problem = 0;
  socklen_t length = sizeof problem;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &problem, &length) != 0) problem = errno;
  restore();
  if (problem != 0) return failWith(socketErrorFromErrno(problem));
  return noteConnected(fd, remote);
}

namespace {

int sendError(const EntryRef& entry, int systemError) {
  if (systemError == EPIPE && entry->sendShutdown.load()) return kErrShutdown;
  return socketErrorFromErrno(systemError);
}

}  // namespace

int sendBytes(Socket socket, const void* data, std::size_t length) {
  EntryRef entry = acquire(socket);
  if (!entry) return -1;
  if (data == nullptr && length > 0) {
    setLastSocketError(kErrFault);
    return -1;
  }
  if (length > 0x7FFFFFFF) length = 0x7FFFFFFF;
  for (;;) {
    ssize_t sent = ::send(entry->descriptor, data, length, MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<int>(sent);
    if (errno == EINTR && !entry->closed.load()) continue;
    int saved = errno;
    if (closedUnderCall(entry)) return -1;
    setLastSocketError(sendError(entry, saved));
    return -1;
  }
}

int receiveBytes(Socket socket, void* buffer, std::size_t length) {
  EntryRef entry = acquire(socket);
  if (!entry) return -1;
  if (buffer == nullptr && length > 0) {
    setLastSocketError(kErrFault);
    return -1;
  }
  if (length > 0x7FFFFFFF) length = 0x7FFFFFFF;
  for (;;) {
    ssize_t got = ::recv(entry->descriptor, buffer, length, 0);
    if (got > 0) return static_cast<int>(got);
    if (got < 0 && errno == EINTR && !entry->closed.load()) continue;
    int saved = errno;
    if (closedUnderCall(entry)) return -1;
    if (got == 0) return 0;
    setLastSocketError(socketErrorFromErrno(saved));
    return -1;
  }
}

bool sendAll(Socket socket, const void* data, std::size_t length, int timeoutMs) {
  EntryRef entry = acquire(socket);
  if (!entry) return false;
  if (data == nullptr && length > 0) return failWith(kErrFault);
  const char* next = static_cast<const char*>(data);
  std::int64_t deadline = monotonicMilliseconds() + (timeoutMs > 0 ? timeoutMs : 0);
  while (length > 0) {
    ssize_t sent = ::send(entry->descriptor, next, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      next += sent;
      length -= static_cast<std::size_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      int saved = errno;
      if (closedUnderCall(entry)) return false;
      return failWith(sendError(entry, saved));
    }
    // The peer's window is full: wait until it takes more.
    for (;;) {
      pollfd waiting = {entry->descriptor, POLLOUT, 0};
      int ready = ::poll(&waiting, 1, timeoutMs < 0 ? -1 : remainingMs(deadline));
      if (ready < 0 && errno == EINTR) continue;
      if (closedUnderCall(entry)) return false;
      if (ready < 0) return failWithErrno();
      if (ready == 0) return failWith(kErrTimedOut);
      break;
    }
  }
  return true;
}

int sendFileContents(Socket socket, const std::string& path, int timeoutMs, std::uint64_t* size) {
  EntryRef entry = acquire(socket);
  if (!entry) return -1;
  const int file = ::open(toSystemPath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return 0;
  struct FileCloser {
    int descriptor;
    ~FileCloser() { ::close(descriptor); }
  } closer{file};
  struct stat status;
  if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) return 0;
  if (size != nullptr) *size = static_cast<std::uint64_t>(status.st_size);
  std::int64_t deadline = monotonicMilliseconds() + (timeoutMs > 0 ? timeoutMs : 0);
  // A socket that blocks would hold the call past its time limit: it does
  // not block for the call's length.
  const int flags = ::fcntl(entry->descriptor, F_GETFL);
  const bool blocking = flags >= 0 && (flags & O_NONBLOCK) == 0;
  if (blocking) ::fcntl(entry->descriptor, F_SETFL, flags | O_NONBLOCK);
  struct BlockingRestorer {
    int descriptor, flags;
    bool restore;
    ~BlockingRestorer() {
      if (restore) ::fcntl(descriptor, F_SETFL, flags);
    }
  } restorer{entry->descriptor, flags, blocking};
  // sendfile takes no MSG_NOSIGNAL: a peer that closed must not raise
  // SIGPIPE in a program that did not ignore it. A thread that sends files
  // keeps the signal blocked from its first such send on (blocking and
  // restoring it around every send cost four system calls an answer), and
  // one that a failed send raised is taken back at once.
  holdPipeSignalOnThisThread();
  off_t offset = 0;
  const off_t length = status.st_size;
  while (offset < length) {
    const ssize_t sent = ::sendfile(entry->descriptor, file, &offset, static_cast<std::size_t>(length - offset));
    if (sent > 0) {
      // A slow reader that still takes bytes is no reader that stopped.
      deadline = monotonicMilliseconds() + (timeoutMs > 0 ? timeoutMs : 0);
      continue;
    }
    if (sent == 0) break;  // the file became shorter: what it holds went out
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      int saved = errno;
      takeBackPipeSignal();
      if (closedUnderCall(entry)) return -1;
      failWith(sendError(entry, saved));
      return -1;
    }
    // The peer's window is full: wait until it takes more.
    for (;;) {
      pollfd writable = {entry->descriptor, POLLOUT, 0};
      int ready = ::poll(&writable, 1, timeoutMs < 0 ? -1 : remainingMs(deadline));
      if (ready < 0 && errno == EINTR) continue;
      if (closedUnderCall(entry)) return -1;
      if (ready < 0) {
        failWithErrno();
        return -1;
      }
      if (ready == 0) {
        failWith(kErrTimedOut);
        return -1;
      }
      break;
    }
  }
  return 1;
}

int pollSockets(PollEntry* entries, std::size_t count, int timeoutMs) {
  if (entries == nullptr && count > 0) {
    setLastSocketError(kErrFault);
    return -1;
  }
  std::vector<EntryRef> held(count);
  std::vector<pollfd> waiting(count);
  bool anyInvalid = false;
  for (std::size_t i = 0; i < count; ++i) {
    entries[i].ready = 0;
    held[i] = entries[i].socket == kInvalidSocket ? EntryRef() : table().find(entries[i].socket);
    short events = 0;
    if (entries[i].wanted & kPollReadable) events |= POLLIN;
    if (entries[i].wanted & kPollWritable) events |= POLLOUT;
    if (entries[i].wanted & kPollPriority) events |= POLLPRI;
    waiting[i].fd = held[i] ? held[i]->descriptor : -1;
    waiting[i].events = events;
    waiting[i].revents = 0;
    if (!held[i]) anyInvalid = true;
  }
  // An entry that is no socket is an answer by itself: no waiting then.
  int wait = anyInvalid ? 0 : (timeoutMs < 0 ? -1 : timeoutMs);
  int result = ::poll(waiting.data(), static_cast<nfds_t>(count), wait);
  if (result < 0) {
    failWithErrno();
    return -1;
  }
  int readyCount = 0;
  for (std::size_t i = 0; i < count; ++i) {
    short ready = 0;
    if (!held[i] || held[i]->closed.load() || (waiting[i].revents & POLLNVAL)) {
      ready = kPollInvalid;
    } else {
      short got = waiting[i].revents;
      if (got & POLLIN) ready |= kPollReadable;
      if (got & POLLOUT) ready |= kPollWritable;
      if (got & POLLPRI) ready |= kPollPriority;
      if (got & (POLLHUP | POLLERR)) {
        ready |= kPollHangup;
        if (entries[i].wanted & kPollReadable) ready |= kPollReadable;
      }
      ready &= static_cast<short>(entries[i].wanted | kPollHangup);
    }
    entries[i].ready = ready;
    if (ready != 0) ++readyCount;
  }
  return readyCount;
}

bool socketPair(Socket& first, Socket& second) {
  first = second = kInvalidSocket;
  int descriptors[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, descriptors) != 0) return failWithErrno();
  first = table().add(descriptors[0]);
  second = table().add(descriptors[1]);
  if (first == kInvalidSocket || second == kInvalidSocket) {
    closeSocket(first);
    closeSocket(second);
    first = second = kInvalidSocket;
    return failWith(kErrNoBuffers);
  }
  return true;
}

bool localHostName(std::string& name) {
  char buffer[256];
  if (::gethostname(buffer, sizeof buffer) != 0) return failWithErrno();
  buffer[sizeof buffer - 1] = '\0';
  name = buffer;
  return true;
}

int officialHostName(const std::string& host, std::string& officialName) {
  std::vector<char> work(2048);
  for (;;) {
    hostent entry;
    hostent* found = nullptr;
    int resolverCode = 0;
    int result = ::gethostbyname_r(host.c_str(), &entry, work.data(), work.size(), &found, &resolverCode);
    if (result == ERANGE && work.size() < (1u << 20)) {
      work.resize(work.size() * 2);
      continue;
    }
    if (result == 0 && found != nullptr && found->h_name != nullptr) {
      officialName = found->h_name;
      return kSocketOk;
    }
    int error = kErrOther;
    switch (resolverCode) {
      case HOST_NOT_FOUND: error = kErrHostNotFound; break;
      case TRY_AGAIN: error = kErrTryAgain; break;
      case NO_RECOVERY: error = kErrNoRecovery; break;
      case NO_DATA: error = kErrNoData; break;
      default: break;
    }
    setLastSocketError(error);
    return error;
  }
}

bool numericIPv4(const std::string& text, std::uint32_t& address) {
  in_addr parsed{};
  if (text.empty() || text.find('\0') != std::string::npos || ::inet_aton(text.c_str(), &parsed) == 0) {
    return false;
  }
  address = ntohl(parsed.s_addr);
  return true;
}

}  // namespace platform
