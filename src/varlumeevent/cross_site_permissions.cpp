// Cross-site permissions: the level a calling site has for another site's
// URL (crossSitePermission and its look-up in the privileged database) and
// the four privileged commands that keep the CrossSiteUser and CrossSiteSite
// tables.
#include "foundation/decimal.h"
#include "foundation/strings.h"
#include "varlumeevent/cross_site_url.h"
#include "varlumeevent/event_handler.h"
#include "varlumeevent/sql_literal.h"

namespace {

constexpr int kAlways = 3;

// The levels a user pair may be given.
bool validLevel(int level) { return level >= 0 && level <= kAlways; }

int levelOf(const std::string& permission) { return permission.empty() ? -1 : readDecimal(permission); }

}  // namespace

int VLEventHandler::crossSitePermission(const std::string& url) {
  const VLCrossSiteUrl parsed = parseCrossSiteUrl(url);
  const std::string callingHost = getHost();
  if (parsed.host.empty() || parsed.host == callingHost) return kAlways;
  return lookupCrossSitePermission(callingHost, parsed.host, parsed.path);
}

int VLEventHandler::lookupCrossSitePermission(const std::string& requestHost, const std::string& urlHost,
                                              const std::string& path) {
  auto query = [&](const char* kind) {
    return "SELECT CrossSiteSite.PathWild, CrossSiteUser.Permission FROM CrossSiteSite, CrossSiteUser WHERE "
           "CrossSiteSite.DomainName = " +
           sqlLiteral(requestHost) + " AND CrossSiteSite.CrossDomain = " + sqlLiteral(urlHost) +
           " AND CrossSiteSite.Permission = '" + kind +
           "' AND CrossSiteUser.DomainName = CrossSiteSite.DomainName AND CrossSiteUser.CrossDomain = "
           "CrossSiteSite.CrossDomain";
  };
  std::string permission;  // the first non-empty level text read
  // Reads the rows until one covers the path; -1 when none does, 0 when the
  // level text read is "0". The values come in their columns, so a PathWild
  // that holds "&Permission=" cannot pose as the level; the rows after the
  // deciding one are never read.
  auto walk = [&](const char* kind) {
    int outcome = -1;
    visitRows(privilegedDatabase, query(kind), [&](const std::vector<std::string>& row, const std::string&) {
      const std::string pathWild = row.size() > 0 ? trim(row[0], true) : std::string();
      if (permission.empty() && row.size() > 1) permission = trim(row[1], true);
      if (permission == "0") {
        outcome = 0;
      } else if (pathWildMatches(pathWild, path)) {
        outcome = 1;
      }
      return outcome < 0;
    });
    return outcome;
  };

  const int denied = walk("DENY");
  if (denied == 0) return 0;
  if (denied < 0) return 1;

  const int allowed = walk("ALLOW");
  if (allowed == 0) return 0;
  if (allowed < 0) return 0;
  return permission.empty() ? 1 : readDecimal(permission);
}

void VLEventHandler::addCrossSiteUser() {
  const std::string domain = trimmedParameter("Domain");
  const std::string crossDomain = trimmedParameter("CrossDomain");
  const int level = levelOf(trimmedParameter("Permission"));
  if (domain.empty() || crossDomain.empty() || !validLevel(level) || domain == crossDomain) {
    replyError(3030,
               "One or more of Domain, CrossDomain or Permission are blank or invalid. User cross-site scripting "
               "permissions not saved.");
    return;
  }
  if (storeInPrivileged("INSERT INTO CrossSiteUser VALUES (" + sqlLiteral(domain) + ", " + sqlLiteral(crossDomain) +
                        ", " + sqlLiteral(intToString(level)) + ")")) {
    replySuccess();
  }
}

void VLEventHandler::updateCrossSiteUser() {
  const std::string domain = trimmedParameter("Domain");
  const std::string crossDomain = trimmedParameter("CrossDomain");
  const std::string permission = trimmedParameter("Permission");
  if (domain.empty() || crossDomain.empty() || !validLevel(levelOf(permission)) || domain == crossDomain) {
    replyError(3030,
               "One or more of Domain, CrossDomain or Permission are blank or invalid. User cross-site scripting "
               "permissions not updated.");
    return;
  }
  if (storeInPrivileged("UPDATE CrossSiteUser SET Permission = " + sqlLiteral(permission) +
                        " WHERE DomainName = " + sqlLiteral(domain) + " AND CrossDomain = " + sqlLiteral(crossDomain))) {
    replySuccess();
  }
}

void VLEventHandler::addCrossSiteSite() {
  const std::string domain = trimmedParameter("Domain");
  const std::string crossDomain = trimmedParameter("CrossDomain");
  const std::string permission = toUpper(trimmedParameter("Permission"));
  const std::string path = trimmedParameter("Path");
  if (domain.empty() || crossDomain.empty() || (permission != "ALLOW" && permission != "DENY") || path.empty()) {
    replyError(3030,
               "One or more of Domain, CrossDomain, Permission or Path are blank or invalid. Site cross-site "
               "scripting permissions not saved.");
    return;
  }
  if (storeInPrivileged("INSERT INTO CrossSiteSite VALUES (" + sqlLiteral(domain) + ", " + sqlLiteral(crossDomain) +
                        ", " + sqlLiteral(permission) + ", " + sqlLiteral(path) + ")")) {
    replySuccess();
  }
}

void VLEventHandler::deleteCrossSiteSite() {
  const std::string domain = trimmedParameter("Domain");
  const std::string crossDomain = trimmedParameter("CrossDomain");
  if (domain.empty() || crossDomain.empty() || domain == crossDomain) {
    replyError(3030,
               "One or more of Domain or CrossDomain are blank or invalid. User cross-site scripting permissions "
               "not updated.");
    return;
  }
  if (storeInPrivileged("DELETE FROM CrossSiteSite WHERE DomainName = " + sqlLiteral(domain) +
                        " AND CrossDomain = " + sqlLiteral(crossDomain))) {
    replySuccess();
  }
}
