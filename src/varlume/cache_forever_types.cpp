#include "varlume/cache_forever_types.h"

#include <set>

bool isBuiltInForeverType(const std::string& extension) {
  static const std::set<std::string> kTypes = {
      "JPG",  "JPEG", "JPE",   "GIF",   "PNG",  "PDF",   "FLV",   "SWC",  "SPL",  "SSK",
      "ICO",  "PIV",  "3DS",   "OGG",   "TIFF", "TIF",   "MPG",   "MPEG", "MP4",  "MPEG4",
      "BMP",  "WAV",  "QT",    "MOV",   "AVI",  "MOVIE", "MPA",   "MPEGA", "ABS", "MP2A",
      "MPA2", "AIF",  "AIFF",  "AIFC",  "RA",   "RAM",   "RM",    "RPM",  "MPE",  "MPV2",
      "MP2V", "VDO",  "VIV",   "DOC",   "DOT",  "ODA",   "ODT",   "OTT",  "ODS",  "OTS",
      "ODP",  "ODG",  "OTG",   "ODM",   "ODB",  "ODF",   "AU",    "SND",  "ZIP",  "PPT",
      "PPZ",  "PPS",  "POT",   "XLS",   "XLC",  "XLL",   "XLM",   "XLW",  "MPP",  "MPC",
      "MPT",  "MPX",  "MPW",   "RGB",   "XBM",  "XPM",   "IEF",   "G3FAX", "G3F", "Q3FAX",
      "XWD",  "PICT", "PPM",   "PGM",   "PBM",  "PNM",   "RAS",   "PCD",  "CGM",  "FIF",
      "DSF",  "CMX",  "DWG",   "DXF",   "SVF",  "EPSI",  "EPSF",  "ES",   "VOX",  "GTAR",
      "TAR",  "USTAR", "CPIO", "SHAR",  "HQX",  "SIT",   "SEA",   "P3D",  "TSV",  "RTF",
      "PS",   "AI"};
  return kTypes.count(extension) > 0;
}
