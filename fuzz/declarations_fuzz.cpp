// The cross-site declarations a site serves as "/varlume.txt": the input up
// to its first zero byte is the declaration, the rest a request path that is
// then checked against it, and against each pattern on its own.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "varlume/cross_site_check.h"
#include "varlume/cross_site_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  const std::string declaration = input.substr(0, split);
  const std::string path = split == std::string::npos ? "/" : input.substr(split + 1);

  VLCrossSiteRecord record;
  record.setPageHost("a.example");
  record.setDomain("b.example");
  std::istringstream stream(declaration);
  record.parseDeclarations(stream);
  (void)record.allows("b.example", normalisedPath(path));
  for (int i = 0; i < record.denyCount(); ++i) (void)VLCrossSiteRecord::matchesPath(record.denyAt(i), path);
  for (int i = 0; i < record.allowCount(); ++i) (void)VLCrossSiteRecord::matchesPath(record.allowAt(i), path);
  VLCrossSiteRecord copy;
  copy.assign(record);
  if (copy.denyCount() != record.denyCount() || copy.allowCount() != record.allowCount()) __builtin_trap();
  return 0;
}
