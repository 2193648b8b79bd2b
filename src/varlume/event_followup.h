// What follows a request that cannot be served: until the event service is
// asked, the request gets the proxy's own "No response from server." answer
// in its place in the order of the connection's answers.
#pragma once
#include <string>

class VLClientConnection;

// Takes a request number and queues the proxy's 500 answer for it.
void answerUnserved(VLClientConnection& connection, const std::string& pageHost,
                    const std::string& path);
