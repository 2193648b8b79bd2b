#include "varlume/mirror_names.h"

#include <vector>

#include "foundation/event_database_name.h"
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

// A name with a part that is a file the event service keeps in a site's
// folder (a folder of such a name would stand in the database's way too).
bool isServiceOwned(const std::string& name) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = name.find('/', start);
    const std::size_t length = end == std::string::npos ? std::string::npos : end - start;
    if (isEventDatabaseName(std::string_view(name).substr(start, length))) return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
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
