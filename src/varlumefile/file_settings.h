// Program-wide values of the file service that main sets before the server
// starts and that are only read afterwards (the data root and the temporary
// folder are the framework's storageRoot and tempDirectory).
#pragma once
#include <string>

// The loopback port the service listens on.
extern int listenPort;
// The user's "varlume.config" that main read; /SETPROXY rewrites it.
extern std::string configurationPath;

inline constexpr char kFileServiceVersion[] = "varlumefile 1.0.0, 2006-08-24";
