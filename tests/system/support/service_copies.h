// The service programs copied into a sandbox's program folder, where varlume
// finds them at its start. varlume never stops the services it started, so
// the destructor kills every process that runs one of the copies.
#pragma once
#include <string>
#include <vector>

#include "support/sandbox.h"

namespace servicetest {

class VLServiceCopies {
 public:
  VLServiceCopies() = default;
  ~VLServiceCopies();
  VLServiceCopies(const VLServiceCopies&) = delete;
  VLServiceCopies& operator=(const VLServiceCopies&) = delete;

  // Copies each named program of the build's program folder into
  // programFiles/Varlume; false when one could not be copied.
  bool copy(sandbox::VLSandbox& box, const std::vector<std::string>& programs);
  const std::vector<std::string>& paths() const { return paths_; }
  // True while some process runs one of the copies.
  bool anyRunning() const;

 private:
  std::vector<std::string> paths_;
};

}  // namespace servicetest
