// The main program's start-up settings. Start-up writes them on the main
// thread before any other thread exists; afterwards they are read-only and
// read without locks. Paths are in the programs' "\" form and end with "\".
#pragma once
#include <openssl/types.h>

#include <string>

extern int listeningPort;      // loopback port on which browsers connect (key varlume, -p)
extern std::string proxyHost;  // upstream proxy host (key proxyhost, -x); empty: none
extern int proxyPort;          // upstream proxy port (key proxyport, -y); -1: no port
extern int servicesPort;       // base port of the service programs (key varlumeservices)
extern int internalPort;       // first port of the notification listeners (key varlumeinternal)
extern int internalRange;      // number of ports tried for a notification listener (key range)
extern std::string basePath;   // the data root: documents folder + "Varlume\"
extern std::string tempPath;   // the temporary folder: user folder + "Temp\"
extern EVP_PKEY* publicKey;    // RSA key that checks the browser scripts' signatures
