#include "varlume/settings.h"

int listeningPort = 0;
std::string proxyHost;
int proxyPort = -1;
int servicesPort = 0;
int internalPort = 0;
int internalRange = 0;
std::string basePath;
std::string tempPath;
EVP_PKEY* publicKey = nullptr;
