// Service-wide folders, set once by each service's main before its server
// starts and only read afterwards: the temporary folder of request bodies and
// uploads, and the data root under which every site has its folder. Both are
// in "\" form and end with a separator.
#pragma once
#include <string>

extern std::string tempDirectory;
extern std::string storageRoot;
