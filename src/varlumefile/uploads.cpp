// /SAVEFILE and /STRINGFILE: uploads and a request parameter stored as files
// of the site's home, as sent or decoded (BASE64, ESCAPED). A file that is
// not stored whole is counted as not saved; nothing ever lands outside the
// home.
#include <string>

#include "foundation/base_name.h"
#include "foundation/directory_texts.h"
#include "foundation/strings.h"
#include "platform/files.h"
#include "varlumefile/event_database_names.h"
#include "varlumefile/file_server.h"

namespace {

// Moves a temporary file of the service to its target, on whatever file
// system each lies (the documents folder may be another disk than the
// temporary folder), never replacing a file. A failure appends the rename's
// text, which names the temporary file by its name alone: no reason tells
// where the temporary folder lies.
bool moveIntoPlace(const std::string& source, const std::string& target, std::string& message) {
  if (platform::moveFileNoReplace(source, target)) return true;
  message += renameFailureText(platform::lastFileError(), std::string(baseName(std::string_view(source))), target);
  return false;
}

}  // namespace

int VLFileHandler::uploadedFileCount() const { return static_cast<int>(getUploadedFiles().size()); }

std::string VLFileHandler::uploadedFileFor(const std::string& name) const {
  const std::string wanted = trim(name, false);
  for (const VLUploadedFile& upload : getUploadedFiles()) {
    if (trim(upload.clientName, false) == wanted) return upload.tempPath;
  }
  return std::string();
}

std::string VLFileHandler::uploadedFileAt(int index, std::string& name, std::string& temp) const {
  name.clear();
  temp.clear();
  if (index < 0 || index >= uploadedFileCount()) return temp;
  name = trim(getUploadedFiles()[static_cast<std::size_t>(index)].clientName, false);
  temp = uploadedFileFor(name);
  return temp;
}

void VLFileHandler::storeUpload(const std::string& source, const std::string& target,
                                const std::string& encoding, SaveState& state) {
  const std::string mode = toUpper(encoding);
  if (mode == "BASE64" || mode == "ESCAPED") {
    int code = 0;
    const std::string decoded = mode == "BASE64" ? decodeBase64File(source, state.message, code)
                                                 : unescapeUpload(source, state.message, code);
    if (decoded.empty() || !moveIntoPlace(decoded, target, state.message)) {
      if (!decoded.empty()) directory.deleteFileUndecoded(decoded, state.message);
      ++state.count;
      state.failed = true;
    }
    directory.deleteFileUndecoded(source, state.message);
    if (code != 0) state.failed = true;
    return;
  }
  if (!moveIntoPlace(source, target, state.message)) {
    directory.deleteFileUndecoded(source, state.message);
    ++state.count;
    state.failed = true;
  }
}

void VLFileHandler::saveFiles(const std::string& path, const std::string& encoding) {
  std::string home;
  ResolvedName folder;
  if (!homeRoot(home) || !nameUnderRoot(home, path, VLNameRule::Clean, folder)) return;
  if (refusesEventDatabase(folder)) return;
  SaveState state;
  if (!directory.makePathUndecoded(folder.path, 0777, state.message)) {
    replyError(kCannotCreate, state.message);
    return;
  }
  const int count = uploadedFileCount();
  if (count < 1) {
    replySuccess();
    return;
  }
  std::string target = folder.path;
  ensureTrailingSlash(target);
  for (int i = 0; i < count; ++i) {
    std::string clientName;
    std::string source;
    uploadedFileAt(i, clientName, source);
    const VLUploadedFile& upload = getUploadedFiles()[static_cast<std::size_t>(i)];
    ResolvedName name;
    std::string refusal;
    // A part that did not reach its temporary file whole, or whose name is
    // refused, is not saved; its bytes are dropped.
    // The event service's database is never stored.
    bool refused = !upload.complete || !resolveName(target, clientName, VLNameRule::Sanitize, name, refusal);
    if (!refused && namesEventDatabase(name.cleaned)) {
      refusal = refusedNameText(name.shown);
      refused = true;
    }
    if (refused) {
      platform::removeFile(upload.tempPath);
      state.message += refusal;
      ++state.count;
      state.failed = true;
      continue;
    }
    storeUpload(source, name.path, encoding, state);
  }
  if (state.failed) {
    replyError(kNotSaved, intToString(state.count) + " files not saved. " + state.message);
  } else {
    replySuccess();
  }
}

void VLFileHandler::saveStringFile(const std::string& path, const std::string& name,
                                   const VLParameterValue& data, const std::string& encoding) {
  std::string home;
  if (!homeRoot(home)) return;
  ResolvedName folder;
  ResolvedName leaf;
  std::string message;
  if (!resolveName(home, path, VLNameRule::Sanitize, folder, message)) {
    replyError(kNameRefused, message);
    return;
  }
  std::string inFolder = folder.path;
  ensureTrailingSlash(inFolder);
  replaceAll("/", "\\", inFolder);
  if (!resolveName(inFolder, name, VLNameRule::Sanitize, leaf, message)) {
    replyError(kNameRefused, message);
    return;
  }
  if (refusesEventDatabase(folder) || refusesEventDatabase(leaf)) return;
  SaveState state;
  if (!directory.makePathUndecoded(folder.path, 0777, state.message)) {
    replyError(kCannotCreate, state.message);
    return;
  }
  std::string target = folder.path;
  ensureTrailingSlash(target);
  target = joinUnderRoot(target, leaf.cleaned);
  replaceAll("/", "\\", target);
  // The value is written only once its name passed every check.
  const std::string source = makeTempFileName();
  platform::File file;
  bool written = file.open(source, platform::File::Write);
  written = written && data.writeTo(file);
  written = file.close() && written;
  if (!written) {
    // A Data text that did not reach its file whole is never stored.
    platform::removeFile(source);
    state.failed = true;
  } else {
    storeUpload(source, target, encoding, state);
  }
  if (state.failed) {
    replyError(kNotSaved, "String file not saved. " + state.message);
  } else {
    replySuccess();
  }
}
