#include "varlumefile/content_types.h"

#include <initializer_list>
#include <unordered_map>

#include "foundation/strings.h"

namespace {

struct Row {
  const char* type;
  std::initializer_list<const char*> extensions;
};

const std::unordered_map<std::string, std::string>& typeTable() {
  static const std::unordered_map<std::string, std::string> table = [] {
    const Row rows[] = {
        {"text/html", {"HTML", "HTM"}},
        {"image/jpeg", {"JPG", "JPEG", "JPE"}},
        {"image/gif", {"GIF"}},
        {"image/png", {"PNG"}},
        {"image/tiff", {"TIFF", "TIF"}},
        {"image/x-xbitmap", {"XBM"}},
        {"image/x-xpixmap", {"XPM"}},
        {"image/ief", {"IEF"}},
        {"image/rgb", {"RGB"}},
        {"image/g3fax", {"G3FAX", "G3F"}},
        {"image/q3fax", {"Q3FAX"}},
        {"image/x-xwindowdump", {"XWD"}},
        {"image/x-pict", {"PICT"}},
        {"image/x-portable-pixmap", {"PPM"}},
        {"image/x-portable-graymap", {"PGM"}},
        {"image/x-portable-bitmap", {"PBM"}},
        {"image/x-portable-anymap", {"PNM"}},
        {"image/x-ms-bmp", {"BMP"}},
        {"image/x-cmu-raster", {"RAS"}},
        {"image/x-photo-cd", {"PCD"}},
        {"image/cgm", {"CGM"}},
        {"image/fif", {"FIF"}},
        {"image/x-mgx-dsf", {"DSF"}},
        {"image/x-cmx", {"CMX"}},
        {"image/vnd.dwg", {"DWG"}},
        {"image/vnd.dxf", {"DXF"}},
        {"image/vnd.svf", {"SVF"}},
        {"image/x-eps", {"EPSI", "EPSF"}},
        {"audio/basic", {"AU", "SND"}},
        {"audio/x-aiff", {"AIF", "AIFF", "AIFC"}},
        {"audio/x-wav", {"WAV"}},
        {"audio/x-mpeg", {"MPA", "MPEGA", "ABS"}},
        {"audio/x-mpeg2", {"MP2A", "MPA2"}},
        {"audio/echospeech", {"ES"}},
        {"audio/voxware", {"VOX"}},
        {"application/fastman", {"LCC"}},
        {"application/x-pn-realaudio", {"RA", "RAM"}},
        {"application/x-pn-realaudio-plugin", {"RM", "RPM"}},
        {"video/mpeg", {"MPG", "MPEG", "MPE"}},
        {"video/mpeg2", {"MPV2", "MP2V"}},
        {"video/quicktime", {"QT", "MOV"}},
        {"video/x-msvideo", {"AVI"}},
        {"video/x-sgi-movie", {"MOVIE"}},
        {"video/vdo", {"VDO"}},
        {"video/vnd.vivo", {"VIV"}},
        {"application/msword", {"DOC", "DOT"}},
        {"application/oda", {"ODA", "ODT", "OTT", "ODS", "OTS", "ODP", "ODG", "OTG", "ODM", "ODB", "ODF"}},
        {"application/x-gtar", {"GTAR"}},
        {"application/x-tar", {"TAR"}},
        {"application/x-ustar", {"USTAR"}},
        {"application/x-cpio", {"CPIO"}},
        {"application/x-shar", {"SHAR"}},
        {"application/zip", {"ZIP"}},
        {"application/mac-binhex40", {"HQX"}},
        {"application/x-stuffit", {"SIT", "SEA"}},
        {"application/x-perl", {"PL"}},
        {"application/x-tcl", {"TCL"}},
        {"application/vnd.ms-powerpoint", {"PPT", "PPZ", "PPS", "POT"}},
        {"application/vnd.ms-excel", {"XLS", "XLC", "XLL", "XLM", "XLW"}},
        {"application/vnd.ms-project", {"MPP", "MPC", "MPT", "MPX", "MPW"}},
        {"x-world/x-vrml", {"WRL", "VRML"}},
        {"x-world/x-vream", {"VRW"}},
        {"application/x-p3d", {"P3D"}},
        {"text/css", {"CSS"}},
        {"text/tab-separated-values", {"TSV"}},
        {"application/rtf", {"RTF"}},
        {"text/csv", {"CSV"}},
        {"text/sgml", {"SGML"}},
        {"text/xml", {"XML"}},
        {"application/pdf", {"PDF"}},
        {"text/javascript", {"JS", "LS", "MOCHA"}},
        {"application/json", {"JSON"}},
        {"application/ogg", {"OGG"}},
        {"application/postscript", {"PS", "AI"}},
        {"application/mp4", {"MP4", "MPEG4"}},
    };
    std::unordered_map<std::string, std::string> built;
    for (const Row& row : rows) {
      for (const char* extension : row.extensions) built.emplace(extension, row.type);
    }
    return built;
  }();
  return table;
}

}  // namespace

std::string contentTypeFor(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot + 1 == path.size()) return "text/plain";
  const auto found = typeTable().find(toUpper(path.substr(dot + 1)));
  return found == typeTable().end() ? "text/plain" : found->second;
}
