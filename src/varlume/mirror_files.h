// What happens to a complete response at delivery time besides being sent:
// copying it into its cache file, or saving its body as a mirror file. Both
// run on the responder's thread outside the process-wide mutexes, stream
// the part files through a 64 KiB buffer, and write a temporary file beside
// the target that is renamed over it only when whole, so nobody ever sees a
// half-written copy and a failure leaves the old file (or, for the cache,
// no stale copy) behind.
#pragma once
#include <string>

#include "varlume/request_record.h"

class VLResponder;

// Called before the record's remaining part files are sent. Keeps a whole
// 200 response (from its final head on) in the record's cachePath, unless
// the server forbids it (Cache-Control: no-store, Set-Cookie) or its end
// is the server's close; otherwise removes the stale copy. Deletes the
// parts already streamed to the browser (0 to partsSent - 1).
void storeInCache(const VLRequestRecord& record);
// Saves the body of a 200 response as the record's mirror file. Writes the
// path of the page the browser is to receive into `out` (200 "Success" or
// the 500 page with the reason) and deletes the record's part files; true
// when the mirror file was written. Nothing is written through a link below
// the data root (platform::isLinkFreeBelow).
bool mirrorResponse(VLResponder& responder, const VLRequestRecord& record, std::string& out);
