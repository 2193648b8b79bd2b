#include "platform/peer_user.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace platform {
namespace {

constexpr int kAnswerMs = 1000;

// What the kernel says about the socket at the peer's end.
struct DiagRequest {
  nlmsghdr header;
  inet_diag_req_v2 body;
};

// A TCP socket-diagnostics request of `flags` for the sockets in `states`.
DiagRequest diagRequest(unsigned seq, std::uint16_t flags, unsigned states) {
  DiagRequest request;
  std::memset(&request, 0, sizeof request);
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  request.header.nlmsg_flags = flags;
  request.header.nlmsg_seq = seq;
  request.body.sdiag_family = AF_INET;
  request.body.sdiag_protocol = IPPROTO_TCP;
  request.body.idiag_states = states;
  return request;
}

// Sends `request` to the kernel and hands each message of its answer (those
// of its sequence number) to `visit` until `visit` returns false or no more
// comes within kAnswerMs. False when the request could not be sent.
template <typename Visit>
bool askKernel(const DiagRequest& request, Visit visit) {
  const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (fd < 0) return false;
  sockaddr_nl kernel;
  std::memset(&kernel, 0, sizeof kernel);
  kernel.nl_family = AF_NETLINK;
  if (::sendto(fd, &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof kernel) != static_cast<ssize_t>(sizeof request)) {
    ::close(fd);
    return false;
  }
  alignas(nlmsghdr) char answer[16384];
  bool more = true;
  while (more) {
    pollfd waiting = {fd, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, kAnswerMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    const ssize_t got = ::recv(fd, answer, sizeof answer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    int length = static_cast<int>(got);
    for (nlmsghdr* message = reinterpret_cast<nlmsghdr*>(answer); more && NLMSG_OK(message, length);
         message = NLMSG_NEXT(message, length)) {
      if (message->nlmsg_seq == request.header.nlmsg_seq) more = visit(*message);
    }
  }
  ::close(fd);
  return true;
}

// The socket a diagnostics message describes, or null for an error or the
// end of the answer.
const inet_diag_msg* diagSocket(const nlmsghdr& message) {
  if (message.nlmsg_type != SOCK_DIAG_BY_FAMILY || message.nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
    return nullptr;
  }
  return static_cast<const inet_diag_msg*>(NLMSG_DATA(&message));
}

std::atomic<unsigned> diagSequence{1};

struct PeerOwner {
  bool known = false;  // a socket with an owner was found
  unsigned uid = 0;
};

// Asks the kernel for the one TCP socket bound to `peer` and connected to
// `local`: the socket at the other end of our connection.
PeerOwner lookUpPeer(const Endpoint& local, const Endpoint& peer) {
  PeerOwner owner;
  DiagRequest request = diagRequest(diagSequence.fetch_add(1) & 0x7fffffffu, NLM_F_REQUEST, ~0u);
  request.body.id.idiag_sport = htons(static_cast<std::uint16_t>(peer.port));
  request.body.id.idiag_dport = htons(static_cast<std::uint16_t>(local.port));
  request.body.id.idiag_src[0] = htonl(peer.address);
  request.body.id.idiag_dst[0] = htonl(local.address);
  request.body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  request.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  askKernel(request, [&](const nlmsghdr& message) {
    const inet_diag_msg* found = diagSocket(message);
    if (found == nullptr) return false;  // an error (no such socket) or the end of the answer
    const bool same = found->id.idiag_sport == request.body.id.idiag_sport &&
                      found->id.idiag_dport == request.body.id.idiag_dport &&
                      found->id.idiag_src[0] == request.body.id.idiag_src[0] &&
                      found->id.idiag_dst[0] == request.body.id.idiag_dst[0];
    // A listener is no connection's end. A socket in its time-wait keeps
    // no owner (the kernel reports uid 0 and no inode), and neither does
    // one whose owner closed it: only an open socket, or a closed one that
    // still names an owner other than uid 0, tells who made it.
    if (same && found->idiag_state != TCP_LISTEN && (found->idiag_inode != 0 || found->idiag_uid != 0)) {
      owner.known = true;
      owner.uid = found->idiag_uid;
    }
    return false;
  });
  return owner;
}

// Whether the kernel lists a listener at `remote` (its address or any
// address, at its port) and every such listener is owned by `uid`.
bool listenersOwnedBy(const Endpoint& remote, unsigned uid) {
  // Apart from the peer look-ups' sequence numbers.
  const DiagRequest request =
      diagRequest(diagSequence.fetch_add(1) | 0x80000000u, NLM_F_REQUEST | NLM_F_DUMP, 1u << TCP_LISTEN);
  const std::uint16_t port = htons(static_cast<std::uint16_t>(remote.port));
  const std::uint32_t address = htonl(remote.address);
  bool found = false;
  bool allOwned = true;
  bool complete = false;
  askKernel(request, [&](const nlmsghdr& message) {
    if (message.nlmsg_type == NLMSG_DONE || message.nlmsg_type == NLMSG_ERROR) {
      if (message.nlmsg_type == NLMSG_ERROR) allOwned = false;
      complete = true;
      return false;
    }
    const inet_diag_msg* listener = diagSocket(message);
    if (listener == nullptr || listener->id.idiag_sport != port) return true;
    if (listener->id.idiag_src[0] != address && listener->id.idiag_src[0] != 0) return true;
    found = true;
    if (listener->idiag_uid != uid) allOwned = false;
    return true;
  });
  return complete && found && allOwned;
}

// The loopback connections this process made: the last kKept of them, in
// a ring that gives the order and a count per connection for the look-up.
class OwnConnections {
 public:
  static constexpr std::size_t kKept = 65536;

  void note(const Endpoint& local, const Endpoint& remote) {
    const Key key = keyOf(local, remote);
    std::lock_guard<std::mutex> lock(mutex_);
    if (ring_.size() < kKept) {
      ring_.push_back(key);
    } else {
      forget(ring_[next_]);
      ring_[next_] = key;
    }
    next_ = (next_ + 1) % kKept;
    ++counts_[key];
  }
  // True (once per note) when this process connected from `from` to `to`.
  bool take(const Endpoint& from, const Endpoint& to) {
    std::lock_guard<std::mutex> lock(mutex_);
    return forget(keyOf(from, to));
  }

 private:
  struct Key {
    std::uint64_t addresses;
    std::uint32_t ports;
    bool operator==(const Key& other) const {
      return addresses == other.addresses && ports == other.ports;
    }
  };
  struct KeyHash {
    std::size_t operator()(const Key& key) const {
      return std::hash<std::uint64_t>()(key.addresses * 0x9E3779B97F4A7C15ull ^ key.ports);
    }
  };
  static Key keyOf(const Endpoint& local, const Endpoint& remote) {
    return {(std::uint64_t{local.address} << 32) | remote.address,
            (static_cast<std::uint32_t>(local.port) << 16) | static_cast<std::uint32_t>(remote.port & 0xFFFF)};
  }
  bool forget(const Key& key) {
    auto found = counts_.find(key);
    if (found == counts_.end()) return false;
    if (--found->second == 0) counts_.erase(found);
    return true;
  }

  std::mutex mutex_;
  std::vector<Key> ring_;
  std::size_t next_ = 0;
  std::unordered_map<Key, int, KeyHash> counts_;
};

OwnConnections& ownConnections() {
  static OwnConnections* connections = new OwnConnections();  // outlives detached threads
  return *connections;
}

}  // namespace

void noteOwnConnection(const Endpoint& local, const Endpoint& remote) {
  ownConnections().note(local, remote);
}

bool peerIsSameUser(Socket socket) {
  Endpoint local;
  Endpoint peer;
  if (!socketEndpoints(socket, local, peer)) return false;
  const PeerOwner owner = lookUpPeer(local, peer);
  if (owner.known) {
    const bool same = owner.uid == static_cast<unsigned>(::geteuid());
    // The note of this connection, if any, is used up.
    if (same) ownConnections().take(peer, local);
    return same;
  }
  return ownConnections().take(peer, local);
}

bool listenerIsSameUser(Socket socket) {
  Endpoint local;
  Endpoint peer;
  if (!socketEndpoints(socket, local, peer)) return false;
  return listenersOwnedBy(peer, static_cast<unsigned>(::geteuid()));
}

}  // namespace platform
