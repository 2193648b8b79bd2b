#include "varlume/mirror_names.h"

#include <vector>

#include "foundation/folder_names.h"
#include "foundation/strings.h"
#include "foundation/url_escape.h"
#include "varlume/settings.h"

std::string mirrorName(const std::string& url) {
  const std::string text = trim(url, true);
  const std::size_t mark = text.find('?');
  if (mark == std::string::npos) return text;
  const std::string query = text.substr(mark);
  const std::size_t named = toUpper(query).find("MIRRORAS=");
  if (named == std::string::npos) return trim(text.substr(0, mark), true);
  const std::string value = query.substr(named + 9);
  return trim(value.substr(0, value.find_first_of("& \t")), true);
}

namespace {

// A file a service keeps in a site's folder: the event service's database
// and the journals SQLite keeps beside it (any letter case, for a data root
// on a folder that ignores case).
bool isServiceOwned(const std::string& name) {
  const std::string leaf = toLower(name.substr(name.rfind('/') + 1));
  const std::string database = "eventdatabase.db";
  return leaf == database || leaf.rfind(database + "-", 0) == 0;
}

}  // namespace

bool mirrorFilePath(const std::string& pageHost, const std::string& url, std::string& path) {
  path.clear();
  const std::string raw = mirrorName(url);
  if (raw.empty() || !hasOnlyWholeEscapes(raw)) return false;
  // Decoded once; an escaped zero byte stays, so the check below refuses it.
  std::vector<char> buffer(raw.size() + 10, '\0');
  std::string name(buffer.data(), urlDecodeInto(raw.c_str(), buffer.data(), buffer.size()));
  replaceAll("\\", "/", name);
  if (!name.empty() && name[0] == '/') name.erase(0, 1);
  if (name.empty() || name.back() == '/') name += "index.html";
  const std::string host = toLower(trim(pageHost, true));
  if (!isPlainDecodedFolderValue(host) || !isPlainDecodedFolderValue(name)) return false;
  if (isServiceOwned(name)) return false;
  std::string file = basePath;
  ensureTrailingSlash(file);
  file += host + "/" + name;
  path = replaceAll("/", "\\", file);
  return true;
}
