// TCP sockets over IPv4. A Socket is a handle of this layer, not a system
// descriptor: a handle is never reused while the process runs (until 2^31
// handles were made), and closing one shuts it down at once (waking any
// thread blocked on it) but releases the descriptor only when no thread is
// inside a call on it. Every descriptor is close-on-exec; sends never raise
// SIGPIPE. Failures return -1 / false and leave a Windows-numbered error in
// lastSocketError() of the calling thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

using Socket = int;
constexpr Socket kInvalidSocket = -1;

// Windows Sockets error numbers, as the programs test them.
enum SocketError : int {
  kSocketOk = 0,
  kErrInterrupted = 10004,      // WSAEINTR
  kErrBadHandle = 10009,        // WSAEBADF
  kErrAccess = 10013,           // WSAEACCES
  kErrFault = 10014,            // WSAEFAULT
  kErrInvalid = 10022,          // WSAEINVAL
  kErrTooManyOpen = 10024,      // WSAEMFILE
  kErrWouldBlock = 10035,       // WSAEWOULDBLOCK
  kErrInProgress = 10036,       // WSAEINPROGRESS
  kErrNotSocket = 10038,        // WSAENOTSOCK
  kErrMessageSize = 10040,      // WSAEMSGSIZE
  kErrAddressInUse = 10048,     // WSAEADDRINUSE
  kErrAddressNotAvailable = 10049,
  kErrNetworkDown = 10050,
  kErrNetworkUnreachable = 10051,
  kErrConnectionAborted = 10053,
  kErrConnectionReset = 10054,  // also EPIPE
  kErrNoBuffers = 10055,
  kErrIsConnected = 10056,
  kErrNotConnected = 10057,
  kErrShutdown = 10058,
  kErrTimedOut = 10060,
  kErrConnectionRefused = 10061,
  kErrHostDown = 10064,
  kErrHostUnreachable = 10065,
  kErrOther = 10100,
  // Name resolution (h_errno).
  kErrHostNotFound = 11001,     // WSAHOST_NOT_FOUND
  kErrTryAgain = 11002,         // WSATRY_AGAIN
  kErrNoRecovery = 11003,       // WSANO_RECOVERY
  kErrNoData = 11004,           // WSANO_DATA
};

constexpr std::uint32_t kAnyAddress = 0;               // INADDR_ANY
constexpr std::uint32_t kLoopbackAddress = 0x7F000001; // 127.0.0.1

// Start-up and clean-up need nothing here; start-up grants 2.2 (0x0202).
int socketsStartup(int requestedVersion, int* grantedVersion);
void socketsCleanup();

// The calling thread's last socket error (Windows numbering), and its setter.
int lastSocketError();
void setLastSocketError(int error);
// The Windows-numbered error for a system errno value.
int socketErrorFromErrno(int systemError);

Socket tcpSocket();
// Shuts down both directions at once, releases the descriptor when unused.
void closeSocket(Socket socket);
enum class ShutdownHow { Receive, Send, Both };
bool shutdownSocket(Socket socket, ShutdownHow how);

bool setReuseAddress(Socket socket);
bool setLinger(Socket socket, bool on, int seconds);
bool setBufferSizes(Socket socket, int receiveBytes, int sendBytes);
// Sends each write at once instead of holding a short segment back until
// the peer acknowledges the last one.
bool setNoDelay(Socket socket);
bool setBlocking(Socket socket, bool blocking);

// `address` in host order. Ports outside 0..65535 are refused (kErrInvalid).
bool bindSocket(Socket socket, std::uint32_t address, int port);
bool listenSocket(Socket socket, int backlog);
// The port the socket is bound to, or -1.
int localPort(Socket socket);
// A new blocking socket for the next connection; `peerAddress` (host order)
// when not null. kInvalidSocket on failure; out of descriptors
// (kErrTooManyOpen) after a pause of 10 ms, as the connection still waits.
Socket acceptSocket(Socket listener, std::uint32_t* peerAddress = nullptr);

// A server out of descriptors (accept fails with kErrTooManyOpen): one
// descriptor held in reserve (holdDescriptorReserve, at start) is spent to
// accept the listener's next waiting connection and reset it at once, then
// taken back, so that browsers are refused instead of left waiting. False
// when nothing was refused.
bool holdDescriptorReserve();
bool refuseWaitingConnection(Socket listener);

// An IPv4 address (host order) and port.
struct Endpoint {
  std::uint32_t address = 0;
  int port = 0;
  bool operator==(const Endpoint& other) const {
    return address == other.address && port == other.port;
  }
};
// The local and the peer's address of a connected socket; false on failure.
bool socketEndpoints(Socket socket, Endpoint& local, Endpoint& peer);

// Connects to host:port (a name or dotted address; IPv4), giving up after
// `timeoutSeconds` (kErrTimedOut; zero or less: no limit). An empty host is
// 127.0.0.1. The socket keeps its blocking mode.
bool connectSocket(Socket socket, const std::string& host, int port, int timeoutSeconds = 20);

// One send / receive call. send: bytes sent or -1; receive: bytes read,
// 0 when the peer closed, -1 on error. Interrupted calls are retried. A call
// that another thread's closeSocket woke fails with kErrNotSocket. A send
// after shutdownSocket(Send) fails with kErrShutdown.
int sendBytes(Socket socket, const void* data, std::size_t length);
int receiveBytes(Socket socket, void* buffer, std::size_t length);
// Sends all `length` bytes, waiting at most `timeoutMs` for the peer to take
// them (negative: no limit). True when everything went out.
bool sendAll(Socket socket, const void* data, std::size_t length, int timeoutMs);
// Sends the whole file at `path` (the programs' path form) from the system's
// file cache straight to the socket, giving up when the peer takes nothing
// for `timeoutMs`. 1 sent, 0 the file could not be opened (nothing sent),
// -1 the send failed or timed out. `size` (when given) gets the file's size.
// The calling thread holds SIGPIPE blocked from its first call on.
int sendFileContents(Socket socket, const std::string& path, int timeoutMs,
                     std::uint64_t* size = nullptr);

// Bytes written to a connected socket that the peer has not acknowledged
// yet (still to be sent, or sent and unconfirmed); -1 on failure.
int unsentBytes(Socket socket);

// Waiting on several sockets (poll; no limit on handle values). Never pass
// kInvalidSocket: such an entry is reported as kPollInvalid.
enum PollEvents : short {
  kPollReadable = 1,  // data, a pending connection, or the peer closed
  kPollWritable = 2,
  kPollPriority = 4,  // out-of-band data
  kPollHangup = 8,    // hang-up or error (also reported as readable)
  kPollInvalid = 16,  // the handle is not an open socket
};
struct PollEntry {
  Socket socket;
  short wanted;
  short ready;
};
// Ready count, 0 on time-out, -1 on failure (kErrInterrupted when a signal
// interrupted the wait). `timeoutMs` negative waits without limit. An entry
// marked kPollInvalid counts as ready and ends the wait at once; `ready`
// holds only wanted events, plus kPollHangup and kPollInvalid. A handle
// closed by another thread during the wait wakes it and reads as invalid.
int pollSockets(PollEntry* entries, std::size_t count, int timeoutMs);

// Two connected stream sockets of this process (a local pair, no network):
// a wake-up channel that pollSockets can wait on beside other sockets.
bool socketPair(Socket& first, Socket& second);

// This machine's host name; false on failure.
bool localHostName(std::string& name);
// The official name of `host` (gethostbyname's h_name). 0 on success,
// otherwise kErrHostNotFound, kErrTryAgain, kErrNoRecovery, kErrNoData or
// kErrOther.
int officialHostName(const std::string& host, std::string& officialName);

// An IPv4 address in any numeric form the name look-up takes as one (dotted,
// shortened as "127.1", hex, octal or one number), in host byte order.
// False for every other text.
bool numericIPv4(const std::string& text, std::uint32_t& address);

}  // namespace platform
