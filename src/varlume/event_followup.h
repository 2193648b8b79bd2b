// What follows a request that cannot be served: its site cannot be reached
// (NOWEB) or the cross-site check refused it (NOCROSSSCRIPT). The proxy asks
// the event service for the page host's server event; a 200 reply names a
// target that is requested instead, anything else leads to the portal
// redirect of the file service. The request gets exactly one answer in its
// place: the follow-up's, or else "No response from server.".
#pragma once
#include <cstddef>
#include <string>

class VLClientConnection;

inline constexpr const char* kNoWebEvent = "NOWEB";
inline constexpr const char* kNoCrossScriptEvent = "NOCROSSSCRIPT";
// The most bytes of an event reply that are read.
inline constexpr std::size_t kEventReplyBytes = 65536;
// The reply is awaited this many rounds of kEventRoundMs.
inline constexpr int kEventRounds = 400;
inline constexpr int kEventRoundMs = 50;
// The reply is looked for this often within that bound.
inline constexpr int kEventStepMs = 2;

// The page host as a Host line carries it: the proxy reads "%XX" in a Host
// value as an escape, so "%" goes as "%25".
std::string hostLineValue(const std::string& pageHost);

// The event query for the failed request line (origin form): its URL goes
// as the Path value unchanged, but for control bytes, which go %XX-escaped.
std::string eventQueryText(const std::string& requestLine, const std::string& pageHost,
                           const char* event);

// The follow-up for a reply text (read up to its first zero byte): a 200
// reply with an empty line names its target in its body; a target that is
// empty, does not begin with "/" or holds a byte at or below 32 or 127 is
// not taken, and the portal follow-up comes instead. A HEAD gets HEAD.
std::string followUpText(const std::string& reply, const std::string& pageHost,
                         const std::string& browserUrl, bool head);
std::string targetFollowUpText(const std::string& target, const std::string& pageHost, bool head);
std::string portalFollowUpText(const std::string& pageHost, const std::string& browserUrl, bool head);

// The fallback answer: a request number and the proxy's 500 page
// "No response from server." in the request's place.
void answerUnserved(VLClientConnection& connection, const std::string& pageHost,
                    const std::string& path);
