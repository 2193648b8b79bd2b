// The content-type table, all 121 extensions of its 75 rows, and the names
// that fall to text/plain.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "varlumefile/content_types.h"

namespace {

struct TypeCase {
  const char* extension;
  const char* type;
};

const TypeCase kTable[] = {
      {"HTML", "text/html"},
      {"HTM", "text/html"},
      {"JPG", "image/jpeg"},
      {"JPEG", "image/jpeg"},
      {"JPE", "image/jpeg"},
      {"GIF", "image/gif"},
      {"PNG", "image/png"},
      {"TIFF", "image/tiff"},
      {"TIF", "image/tiff"},
      {"XBM", "image/x-xbitmap"},
      {"XPM", "image/x-xpixmap"},
      {"IEF", "image/ief"},
      {"RGB", "image/rgb"},
      {"G3FAX", "image/g3fax"},
      {"G3F", "image/g3fax"},
      {"Q3FAX", "image/q3fax"},
      {"XWD", "image/x-xwindowdump"},
      {"PICT", "image/x-pict"},
      {"PPM", "image/x-portable-pixmap"},
      {"PGM", "image/x-portable-graymap"},
      {"PBM", "image/x-portable-bitmap"},
      {"PNM", "image/x-portable-anymap"},
      {"BMP", "image/x-ms-bmp"},
      {"RAS", "image/x-cmu-raster"},
      {"PCD", "image/x-photo-cd"},
      {"CGM", "image/cgm"},
      {"FIF", "image/fif"},
      {"DSF", "image/x-mgx-dsf"},
      {"CMX", "image/x-cmx"},
      {"DWG", "image/vnd.dwg"},
      {"DXF", "image/vnd.dxf"},
      {"SVF", "image/vnd.svf"},
      {"EPSI", "image/x-eps"},
      {"EPSF", "image/x-eps"},
      {"AU", "audio/basic"},
      {"SND", "audio/basic"},
      {"AIF", "audio/x-aiff"},
      {"AIFF", "audio/x-aiff"},
      {"AIFC", "audio/x-aiff"},
      {"WAV", "audio/x-wav"},
      {"MPA", "audio/x-mpeg"},
      {"MPEGA", "audio/x-mpeg"},
      {"ABS", "audio/x-mpeg"},
      {"MP2A", "audio/x-mpeg2"},
      {"MPA2", "audio/x-mpeg2"},
      {"ES", "audio/echospeech"},
      {"VOX", "audio/voxware"},
      {"LCC", "application/fastman"},
      {"RA", "application/x-pn-realaudio"},
      {"RAM", "application/x-pn-realaudio"},
      {"RM", "application/x-pn-realaudio-plugin"},
      {"RPM", "application/x-pn-realaudio-plugin"},
      {"MPG", "video/mpeg"},
      {"MPEG", "video/mpeg"},
      {"MPE", "video/mpeg"},
      {"MPV2", "video/mpeg2"},
      {"MP2V", "video/mpeg2"},
      {"QT", "video/quicktime"},
      {"MOV", "video/quicktime"},
      {"AVI", "video/x-msvideo"},
      {"MOVIE", "video/x-sgi-movie"},
      {"VDO", "video/vdo"},
      {"VIV", "video/vnd.vivo"},
      {"DOC", "application/msword"},
      {"DOT", "application/msword"},
      {"ODA", "application/oda"},
      {"ODT", "application/oda"},
      {"OTT", "application/oda"},
      {"ODS", "application/oda"},
      {"OTS", "application/oda"},
      {"ODP", "application/oda"},
      {"ODG", "application/oda"},
      {"OTG", "application/oda"},
      {"ODM", "application/oda"},
      {"ODB", "application/oda"},
      {"ODF", "application/oda"},
      {"GTAR", "application/x-gtar"},
      {"TAR", "application/x-tar"},
      {"USTAR", "application/x-ustar"},
      {"CPIO", "application/x-cpio"},
      {"SHAR", "application/x-shar"},
      {"ZIP", "application/zip"},
      {"HQX", "application/mac-binhex40"},
      {"SIT", "application/x-stuffit"},
      {"SEA", "application/x-stuffit"},
      {"PL", "application/x-perl"},
      {"TCL", "application/x-tcl"},
      {"PPT", "application/vnd.ms-powerpoint"},
      {"PPZ", "application/vnd.ms-powerpoint"},
      {"PPS", "application/vnd.ms-powerpoint"},
      {"POT", "application/vnd.ms-powerpoint"},
      {"XLS", "application/vnd.ms-excel"},
      {"XLC", "application/vnd.ms-excel"},
      {"XLL", "application/vnd.ms-excel"},
      {"XLM", "application/vnd.ms-excel"},
      {"XLW", "application/vnd.ms-excel"},
      {"MPP", "application/vnd.ms-project"},
      {"MPC", "application/vnd.ms-project"},
      {"MPT", "application/vnd.ms-project"},
      {"MPX", "application/vnd.ms-project"},
      {"MPW", "application/vnd.ms-project"},
      {"WRL", "x-world/x-vrml"},
      {"VRML", "x-world/x-vrml"},
      {"VRW", "x-world/x-vream"},
      {"P3D", "application/x-p3d"},
      {"CSS", "text/css"},
      {"TSV", "text/tab-separated-values"},
      {"RTF", "application/rtf"},
      {"CSV", "text/csv"},
      {"SGML", "text/sgml"},
      {"XML", "text/xml"},
      {"PDF", "application/pdf"},
      {"JS", "text/javascript"},
      {"LS", "text/javascript"},
      {"MOCHA", "text/javascript"},
      {"JSON", "application/json"},
      {"OGG", "application/ogg"},
      {"PS", "application/postscript"},
      {"AI", "application/postscript"},
      {"MP4", "application/mp4"},
      {"MPEG4", "application/mp4"},
};

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST(ContentTypes, EveryExtensionOfTheTableInAnyCase) {
  EXPECT_EQ(sizeof kTable / sizeof kTable[0], 121u);
  for (const TypeCase& c : kTable) {
    EXPECT_EQ(contentTypeFor(std::string("\\h\\file.") + c.extension), c.type) << c.extension;
    EXPECT_EQ(contentTypeFor("\\h\\file." + lowerCase(c.extension)), c.type) << c.extension;
  }
}

TEST(ContentTypes, NamesOutsideTheTableArePlainText) {
  for (const char* path : {"a.txt", "a.svg", "a.ico", "a.swf", "a.webp", "a.woff", "README", "name.",
                           "a.b\\README", "\\h\\a.tar.gzip", ""}) {
    EXPECT_EQ(contentTypeFor(path), "text/plain") << path;
  }
  EXPECT_EQ(contentTypeFor("\\h\\Photo.JPEG"), "image/jpeg");
  EXPECT_EQ(contentTypeFor("\\h\\a.tar.gz.zip"), "application/zip");
}

}  // namespace
