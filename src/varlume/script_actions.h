// Running the lines of one browser-configuration script: file lines (write,
// append, rename, delete, with "*" targets) and registry lines (set and
// delete values, create and delete keys). A line either lets the next one
// run or stops the script; failed writes and key operations set the
// script's failure mark.
#pragma once
#include <string>
#include <vector>

#include "platform/registry.h"

struct VLScriptRun {
  int port = 0;                                // put in for REPLACE_VARLUME_PROXY_PORT
  platform::RegistryStore* registry = nullptr;
  bool failureMark = false;
};

enum class VLLineResult { Next, Stop };

VLLineResult runFileLine(const std::string& line, VLScriptRun& run);
VLLineResult runRegistryLine(const std::string& line, VLScriptRun& run);

// Runs `lines` in order until one stops the script. True when every line ran
// (the failure mark may still be set).
bool runScriptLines(const std::vector<std::string>& lines, VLScriptRun& run);

// The files a WRITE or APPEND target names: the target itself, or for a
// target with "*" the prefix + name + rest of every sub-folder of the prefix
// folder (links to folders count), in name order. Names holding "\" are
// passed over: here they would name another folder.
std::vector<std::string> scriptTargetFiles(const std::string& target);
