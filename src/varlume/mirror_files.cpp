#include "varlume/mirror_files.h"

#include "platform/files.h"
#include "varlume/part_files.h"
#include "varlume/responder.h"
#include "varlume/settings.h"

void storeInCache(const VLRequestRecord& record) {
  for (int k = 0; k < record.getPartsSent(); ++k) {
    platform::removeFile(partFilePath(tempPath, record.getId(), k));
  }
}

bool mirrorResponse(VLResponder& responder, const VLRequestRecord& record, std::string& out) {
  // Every part the relay may have opened, the last one included.
  for (int k = 0; k <= record.getPartsWritten(); ++k) {
    platform::removeFile(partFilePath(tempPath, record.getId(), k));
  }
  out = responder.writeMessageResponse(
      record, "Requested mirror file not available from host. File not mirrored.");
  return false;
}
