#include "varlume/event_followup.h"

#include "varlume/client_connection.h"

void answerUnserved(VLClientConnection& connection, const std::string& pageHost,
                    const std::string& path) {
  connection.answerWithMessage(pageHost, path, "No response from server.");
}
