// Starting the four service programs from the program folder, in the order
// database, file, image, event: each without arguments, without waiting; one
// that cannot be started is passed over. A start that fails after they were
// started stops the ones it began (by their process ids); a proxy that
// serves never stops them.
#pragma once
#include <string>
#include <vector>

struct VLStartedServices {
  std::vector<long> processIds;       // the programs this start began
  std::vector<std::string> missing;   // names (no ".exe") of the system's own services not started
};

// `programFolder` ends with "\". Only the file and event services are the
// system's own: a missing database or image service is not counted missing.
VLStartedServices startServicePrograms(const std::string& programFolder);

// Ends every program in `started` and waits (bounded) until each is gone, so
// their ports are free again when this returns.
void stopServicePrograms(const VLStartedServices& started);
