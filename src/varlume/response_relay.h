// The relay thread of a VLClient: VLClient::run, relayResponse and the
// notices are defined in response_relay.cpp. Each response is read for the
// record at the client's current index, copied unchanged into the part files
// vl<id>_<k>.tmp of the temporary folder, and announced with 12-byte notices
// on the client's notification connection: "+" for each finished part that
// another follows, "0" when the response is complete, "1" for a request that
// ends without one. A part is closed and announced once it holds 65,536
// bytes (the later parts kLaterPartBytes), after the answer's first interim
// head (later interim heads are bytes like any others), or, while the
// answer is the head of its connection's delivery order and every part
// announced before was taken, as soon as the server has nothing more
// ready: so no byte received
// waits for bytes that have not arrived. An answer behind another only grows
// its part (few files whatever the server's pace) and tells the delivery
// side every kPartWaitMs that it is still arriving. A part that is never
// announced (the response failed) is deleted by the relay itself. Results
// of relayResponse: 1 complete, -1 failure (every waiting request got "1"),
// -100 nothing queued, -2 no byte within the wait, otherwise the bytes read.
#pragma once
#include "varlume/client.h"

constexpr int kRelayWaitMs = 45000;
constexpr int kPartWaitMs = 15000;
// How soon a relay holding bytes it could not announce yet looks again: the
// head of the order waiting for its last part to be taken, an answer behind
// the head waiting to become it.
constexpr int kHeadRecheckMs = 5;
constexpr int kBehindRecheckMs = 100;
// How long an idle relay waits for its connection's next request.
constexpr int kRelayLingerMs = 2000;
// relayOnce: the request is to be sent again on a new connection.
constexpr int kResend = -1000;
// How long the relay waits for the request text it may have to send again.
constexpr int kResendTextWaitMs = 1000;
constexpr std::size_t kPartBytes = 65536;
// Parts after the first are larger: a long body then costs fewer files and
// notices, while its first bytes still reach the browser early.
constexpr std::size_t kLaterPartBytes = 1024 * 1024;
constexpr std::size_t kReceiveBytes = 65536;
