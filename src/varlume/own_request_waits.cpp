// The waits of the proxy's own requests (declaration fetches and event
// queries): they run on the connection thread, which keeps taking notice
// connections meanwhile, and they read and remove the answer's part files,
// giving their bytes back to the limit of bytes waiting for the browser.
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "varlume/client_connection.h"
#include "varlume/part_files.h"
#include "varlume/settings.h"

void VLClientConnection::takePendingNotices() {
  if (notificationListener_ == platform::kInvalidSocket) return;
  for (int i = 0; i < 64; ++i) {
    platform::PollEntry wait{notificationListener_, platform::kPollReadable, 0};
    if (platform::pollSockets(&wait, 1, 0) <= 0) return;
    takeNotice();
  }
}

void VLClientConnection::waitTakingNotices(int milliseconds) {
  if (notificationListener_ == platform::kInvalidSocket) {
    platform::pause(0, milliseconds * 1000);
    return;
  }
  platform::PollEntry wait{notificationListener_, platform::kPollReadable, 0};
  if (platform::pollSockets(&wait, 1, milliseconds) > 0) takeNotice();
}

bool VLClientConnection::holdsRecord(VLClient& client, int id) {
  const int capacity = client.recordCapacity();
  for (int i = 0; i < capacity; ++i) {
    if (client.recordAt(i).getId() == id) return true;
  }
  return false;
}

std::string VLClientConnection::takeParts(int id, std::size_t maxBytes, std::vector<std::string>* parts) {
  std::string first;
  std::size_t total = 0;
  for (int k = 0;; ++k) {
    const std::string path = partFilePath(tempPath, id, k);
    if (!platform::isRegularFile(path)) break;
    std::string text;
    if (total < maxBytes) platform::readFile(path, text, maxBytes - total);
    total += text.size();
    // The relay counted the part against the connection's limit of bytes
    // waiting for the browser; it never goes there, so it leaves the count.
    const std::int64_t removed = removePart(path);
    if (removed > 0) responder_.releaseWaitingBytes(removed);
    if (parts != nullptr) parts->push_back(text);
    if (k == 0) first = text;
  }
  return first;
}
