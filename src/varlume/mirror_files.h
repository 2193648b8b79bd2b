// What happens to a complete response at delivery time besides being sent:
// copying it into its cache file, or saving it as a mirror file. Neither is
// built yet: no response is stored and no mirror file is written; a mirror
// request is answered with the proxy's 500 page "Requested mirror file not
// available from host. File not mirrored.".
#pragma once
#include <string>

#include "varlume/request_record.h"

class VLResponder;

// Called before the record's remaining part files are sent: deletes the
// parts already streamed to the browser (0 to partsSent - 1).
void storeInCache(const VLRequestRecord& record);
// Writes the path of the file the browser is to receive into `out` and
// deletes the record's part files; true when the mirror file was written.
bool mirrorResponse(VLResponder& responder, const VLRequestRecord& record, std::string& out);
