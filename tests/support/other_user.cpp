#include "support/other_user.h"

#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace testsupport {

bool canActAsOtherUser() { return ::geteuid() == 0; }

namespace {

// In a child: takes the user id and connects; the socket, or the child ends.
int connectAsChild(uid_t uid, int port) {
  // Only plain system calls from here on (the parent has threads).
  if (::setgid(uid) != 0 || ::setuid(uid) != 0) ::_exit(2);
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address;
  std::memset(&address, 0, sizeof address);
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(3);
  return fd;
}

int exitCodeOf(pid_t child) {
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace

int requestAsUser(uid_t uid, int port, const std::string& request) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    const int fd = connectAsChild(uid, port);
    // The request may meet a connection that is already reset.
    (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    pollfd wait = {fd, POLLIN, 0};
    if (::poll(&wait, 1, 5000) != 1) ::_exit(4);  // neither answered nor closed
    char byte;
    ::_exit(::recv(fd, &byte, 1, 0) > 0 ? 1 : 0);
  }
  return exitCodeOf(child);
}

int sendAsUser(uid_t uid, int port, const std::string& bytes, int holdMs) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    const int fd = connectAsChild(uid, port);
    (void)::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    ::usleep(static_cast<useconds_t>(holdMs) * 1000);
    ::_exit(0);
  }
  return exitCodeOf(child);
}

int readsAsUser(uid_t uid, const std::string& path) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    if (::setgid(uid) != 0 || ::setuid(uid) != 0) ::_exit(2);
    const int fd = ::open(path.c_str(), O_RDONLY);
    ::_exit(fd >= 0 ? 1 : 0);
  }
  return exitCodeOf(child);
}

}  // namespace testsupport
