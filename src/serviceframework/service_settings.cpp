#include "serviceframework/service_settings.h"

std::string tempDirectory;
std::string storageRoot;
