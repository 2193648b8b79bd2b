// Named parameters of the request and the folders of the calling site under
// the data root.
#include "foundation/privileged_host.h"
#include "foundation/query_string.h"
#include "foundation/strings.h"
#include "foundation/folder_names.h"
#include "serviceframework/generic_handler.h"
#include "serviceframework/service_settings.h"

std::string VLGenericHandler::getParameter(const std::string& name) const {
  if (longValues.empty()) return queryValue(name, parameters);
  return getParameterValue(name).text();
}

std::string VLGenericHandler::parameterText() const {
  if (longValues.empty()) return parameters;
  return VLParameterText(parameters, longValues, &bodyReader).whole().text();
}

VLParameterValue VLGenericHandler::getParameterValue(const std::string& name) const {
  if (longValues.empty()) return VLParameterValue(queryValue(name, parameters));
  return VLParameterText(parameters, longValues, &bodyReader).valueOf(name);
}

bool VLGenericHandler::isSiteFolderRefused() const {
  if (!isPlainFolderValue(getHost())) return true;  // an empty host too
  if (!subdomainHome.empty() && !isPlainFolderValue(subdomainHome)) return true;
  if (!commonHome.empty() && !isPlainFolderValue(commonHome)) return true;
  return false;
}

std::string VLGenericHandler::domainHomeDirectory() const {
  if (isSiteFolderRefused()) return std::string();
  std::string folder = storageRoot;
  ensureTrailingSlash(folder);
  folder += getHost();
  ensureTrailingSlash(folder);

  std::string common = toUpper(getParameter("Common"));
  const std::string* home = nullptr;
  if (common == "YES" || common == "TRUE" || common == "1") {
    if (!commonHome.empty()) {
      home = &commonHome;
    } else if (!subdomainHome.empty()) {
      home = &subdomainHome;
    }
  } else if (!subdomainHome.empty()) {
    home = &subdomainHome;
  }
  if (home != nullptr) {
    folder += *home;
    ensureTrailingSlash(folder);
  }
  replaceAll("/", "\\", folder);
  return folder;
}

std::string VLGenericHandler::privilegedDataDirectory() const {
  std::string folder = storageRoot;
  ensureTrailingSlash(folder);
  folder += kPrivilegedHost;
  ensureTrailingSlash(folder);
  replaceAll("/", "\\", folder);
  return folder;
}
