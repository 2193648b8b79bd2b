#include "support/other_user.h"

#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
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

VLOtherUserListener::~VLOtherUserListener() {
  if (child_ > 0) {
    ::kill(child_, SIGKILL);
    ::waitpid(child_, nullptr, 0);
  }
  if (reports_ >= 0) ::close(reports_);
}

bool VLOtherUserListener::start(uid_t uid, int port) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return false;
  child_ = ::fork();
  if (child_ < 0) return false;
  if (child_ == 0) {
    ::close(pipeEnds[0]);
    const int report = pipeEnds[1];
    if (::setgid(uid) != 0 || ::setuid(uid) != 0) ::_exit(2);
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 16) != 0) {
      ::_exit(3);
    }
    (void)::write(report, "L", 1);
    static const char kAnswer[] = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nother user";
    pollfd waiting[17];
    int count = 1;
    waiting[0] = {listener, POLLIN, 0};
    for (;;) {  // until the parent ends it
      if (::poll(waiting, static_cast<nfds_t>(count), -1) < 0) continue;
      if ((waiting[0].revents & POLLIN) != 0 && count < 17) {
        const int connection = ::accept(listener, nullptr, nullptr);
        if (connection >= 0) waiting[count++] = {connection, POLLIN, 0};
      }
      for (int i = 1; i < count; ++i) {
        if (waiting[i].revents == 0) continue;
        char buffer[4096];
        const ssize_t got = ::recv(waiting[i].fd, buffer, sizeof buffer, 0);
        if (got > 0) {
          (void)::write(report, "B", 1);
          (void)::send(waiting[i].fd, kAnswer, sizeof kAnswer - 1, MSG_NOSIGNAL);
        } else {
          ::close(waiting[i].fd);
          waiting[i] = waiting[--count];
          --i;
        }
      }
    }
  }
  ::close(pipeEnds[1]);
  reports_ = pipeEnds[0];
  pollfd wait = {reports_, POLLIN, 0};
  char first = 0;
  return ::poll(&wait, 1, 5000) == 1 && ::read(reports_, &first, 1) == 1 && first == 'L';
}

int VLOtherUserListener::piecesReceived() {
  for (;;) {
    pollfd wait = {reports_, POLLIN, 0};
    char note = 0;
    if (reports_ < 0 || ::poll(&wait, 1, 0) != 1 || ::read(reports_, &note, 1) != 1) return pieces_;
    if (note == 'B') ++pieces_;
  }
}

}  // namespace testsupport
