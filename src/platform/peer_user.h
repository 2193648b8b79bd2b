// Who is at the other end of a loopback TCP connection: the kernel's socket
// diagnostics (NETLINK_SOCK_DIAG, inet_diag) name the user that owns the
// peer's socket, or the listener a connection reached; no privilege is
// needed. Each user's programs serve only that user, so listeners close
// every other user's connection at once, and the proxy never talks to a
// service port that another user listens on.
#pragma once

#include "platform/sockets.h"

namespace platform {

// True when the peer of the connected socket is owned by this process's
// user. False for another user's socket, and for a peer whose owner the
// kernel no longer knows (its socket already closed) unless this process
// made that connection itself (see noteOwnConnection).
bool peerIsSameUser(Socket socket);

// True when every listener on the address and port that the connected
// socket reached (that address or any address, at that port) is owned by
// this process's user, and there is at least one. False for another
// user's listener, and when the kernel names none (it closed since).
bool listenerIsSameUser(Socket socket);

// Notes a loopback connection this process made, from `local` to
// `remote` (connectSocket calls it). A peer check that finds the
// connecting socket already closed accepts a noted connection once. The
// last 65,536 connections are kept.
void noteOwnConnection(const Endpoint& local, const Endpoint& remote);

}  // namespace platform
