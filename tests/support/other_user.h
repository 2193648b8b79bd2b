// A child process under another user id, for the tests that check that
// each user's programs serve only that user. Needs root to take the id.
#pragma once
#include <sys/types.h>

#include <string>

namespace testsupport {

// nobody: a user id no test program runs as.
constexpr uid_t kOtherUser = 65534;

// True when this process may start children under another user id.
bool canActAsOtherUser();

// What a child running as `uid` gets for `request` sent to
// 127.0.0.1:port: 0 the connection was closed without a byte, 1 an answer
// came; 2 or more the child could not try; -1 it did not end.
int requestAsUser(uid_t uid, int port, const std::string& request);

// A child running as `uid` sends `bytes` to 127.0.0.1:port and keeps the
// connection open for holdMs without reading: 0 sent, 3 nothing listens
// there, 2 or another code the child could not try; -1 it did not end.
int sendAsUser(uid_t uid, int port, const std::string& bytes, int holdMs);

// Whether a child running as `uid` can open `path` (a file or a folder)
// for reading: 1 it could, 0 it could not; -1 the child did not end.
int readsAsUser(uid_t uid, const std::string& path);

// A child running as `uid` that listens on 127.0.0.1:port and answers
// whatever arrives with a 200 answer of its own ("other user"); it notes
// each piece it receives. The destructor ends it.
class VLOtherUserListener {
 public:
  VLOtherUserListener() = default;
  ~VLOtherUserListener();
  VLOtherUserListener(const VLOtherUserListener&) = delete;
  VLOtherUserListener& operator=(const VLOtherUserListener&) = delete;

  // True once the child listens (within 5 s).
  bool start(uid_t uid, int port);
  // The number of pieces of bytes the child received so far.
  int piecesReceived();

 private:
  pid_t child_ = -1;
  int reports_ = -1;  // read end of the child's pipe
  int pieces_ = 0;
};

}  // namespace testsupport
