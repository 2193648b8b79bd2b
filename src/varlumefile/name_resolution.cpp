// Names and homes of the handler: the home of the calling site, the cache
// folder, and every client-supplied name turned into a path under its root.
#include "foundation/strings.h"
#include "foundation/url_escape.h"
#include "foundation/folder_names.h"
#include "platform/files.h"
#include "serviceframework/service_settings.h"
#include "varlumefile/event_database_names.h"
#include "varlumefile/file_server.h"

std::string VLFileHandler::cacheDirectory() {
  std::string folder = storageRoot;
  ensureTrailingSlash(folder);
  folder += "Cache";
  ensureTrailingSlash(folder);
  replaceAll("/", "\\", folder);
  return folder;
}

bool VLFileHandler::homeRoot(std::string& root) {
  const std::string home = domainHomeDirectory();
  if (home.empty()) {
    // The framework refused the Host or a home value: nothing is touched.
    std::string shown = getHost();
    if (isPlainFolderValue(shown)) {
      shown = !isPlainFolderValue(getSubdomainHome()) && !getSubdomainHome().empty() ? getSubdomainHome()
                                                                                     : getCommonHome();
    }
    replyError(kNameRefused, refusedNameText(shown));
    return false;
  }
  std::string base = storageRoot;
  ensureTrailingSlash(base);
  replaceAll("/", "\\", base);
  // The site's part is used in its decoded form, and the data root as it is
  // (its own name may hold "%"): every command hands the directory helper
  // this path with its decoded name, through the helper's undecoded forms.
  std::string site = urlDecode(home.substr(base.size()));
  replaceAll("/", "\\", site);
  // A site's folder reached through a link would be another folder's.
  if (!platform::isLinkFreeBelow(base, base + site)) {
    replyError(kNameRefused, refusedNameText(getHost()));
    return false;
  }
  root = base + site;
  return true;
}

bool VLFileHandler::isPathRefused(const std::string& name, const std::string& fullPath,
                                  std::string& message) {
  if (!hasParentPart(name) && !hasParentPart(fullPath)) return false;
  message += refusedNameText(name);
  return true;
}

bool VLFileHandler::resolveName(const std::string& root, const std::string& name, VLNameRule rule,
                                ResolvedName& resolved, std::string& message, VLLinkRule links) {
  std::string decoded;
  if (!decodeNameOnce(name, decoded)) {
    message += refusedNameText(name);
    return false;
  }
  resolved.shown = name;
  applyNameRule(rule, resolved.shown);
  applyNameRule(rule, decoded);
  resolved.cleaned = decoded;
  std::string path = joinUnderRoot(root, decoded);
  if (isPathRefused(decoded, path.substr(root.size()), message)) return false;
  replaceAll("/", "\\", path);
  // Nothing is reached through a link: it could lead out of the root.
  if (!platform::isLinkFreeBelow(root, path, links == VLLinkRule::LastMayBeLink)) {
    message += refusedNameText(resolved.shown);
    return false;
  }
  resolved.path = path;
  return true;
}

bool VLFileHandler::nameUnderRoot(const std::string& root, const std::string& name, VLNameRule rule,
                                  ResolvedName& resolved, VLLinkRule links) {
  std::string message;
  if (resolveName(root, name, rule, resolved, message, links)) return true;
  replyError(kNameRefused, message);
  return false;
}

bool VLFileHandler::refusesEventDatabase(const ResolvedName& resolved) {
  if (!namesEventDatabase(resolved.cleaned)) return false;
  replyError(kNameRefused, refusedNameText(resolved.shown));
  return true;
}
