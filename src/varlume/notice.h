// The 12-byte notices by which a relay thread tells its browser connection's
// responder about a response: eight zero-padded digits of the request id, a
// blank, "1", a blank and the kind: "+" a part file is complete and another
// follows, "0" the response is complete, "1" the request ended without one.
// Ids run from 1 to 99,999,999. Received notices are checked before use.
#pragma once
#include <cstddef>
#include <string>

constexpr std::size_t kNoticeLength = 12;
// A notice connection begins with its browser connection's key, so that
// only that connection's relays can announce anything on it.
constexpr std::size_t kNoticeKeyLength = 32;
constexpr int kMaxNoticeId = 99999999;

enum class VLNoticeKind : char { Part = '+', Complete = '0', NoResponse = '1' };

struct VLNotice {
  int id = 0;
  VLNoticeKind kind = VLNoticeKind::NoResponse;
};

// The notice text for `id` (1 to 99,999,999); empty for any other id.
std::string formatNotice(int id, VLNoticeKind kind);

// A fresh key of kNoticeKeyLength hexadecimal digits from the system's
// random source.
std::string makeNoticeKey();

// Reads one notice from exactly kNoticeLength bytes. False for anything but
// eight digits giving an id of at least 1, " 1 " and one of the three kinds.
bool parseNotice(const char* bytes, VLNotice& notice);
