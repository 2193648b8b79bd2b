// VLFileServer and VLFileHandler: the file service's pool of 50 handlers and
// the handler that answers its commands (directory commands, uploads and
// string files, serving files, the portal and redirects, proxy settings and
// the version) with the XML reply envelope. Each command sends exactly one
// reply; serviceRequest resets the handler afterwards.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/directory.h"
#include "platform/files.h"
#include "serviceframework/generic_server.h"
#include "varlumefile/command_gate.h"
#include "varlumefile/names.h"
#include "varlumefile/page_values.h"

class VLFileHandler : public VLGenericHandler {
 public:
  // Error codes of the file service.
  static constexpr int kUnrecognised = -1;
  static constexpr int kNameRefused = 1000;
  static constexpr int kCannotCreate = 1010;
  static constexpr int kNotDirectory = 1020;
  static constexpr int kScanFailed = 1030;
  static constexpr int kCannotRemoveFolder = 1040;
  static constexpr int kCannotRemoveFile = 1050;
  static constexpr int kCannotRename = 1060;
  static constexpr int kRenameFailed = 1070;
  static constexpr int kNotSaved = 1080;
  static constexpr int kNotFound = 1090;
  static constexpr int kBase64Count = 1100;
  static constexpr int kBase64Padding = 1110;
  static constexpr int kNotFile = 1120;

  explicit VLFileHandler(int byteWaitMilliseconds = kDefaultByteWaitMilliseconds)
      : VLGenericHandler(byteWaitMilliseconds) {}

  void serviceRequest() override;
  std::string tempFileExtension() const override { return ".vlfile"; }

  // The framework's head; for the privileged host it also forbids framing
  // by any other site (X-Frame-Options, Content-Security-Policy).
  void responseHeader(int code, const std::string& reason, const std::string& contentType);

  // Replies (status 200, text/xml), each followed by reset.
  void replyError(int code, const std::string& reason);
  void replySuccess();
  void replySuccess(const std::string& payload);
  void replyVersion();
  void closeSocket() { adoptSocket(platform::kInvalidSocket); }

  // Directory commands.
  void makeDirectory(const std::string& name);
  void isDirectory(const std::string& name);
  void isFile(const std::string& name);
  void scanDirectory(const std::string& name, const std::string& filter);
  void scanCacheDirectory(const std::string& name, const std::string& filter);
  void removeCacheDirectory(const std::string& name);
  void removeCacheFile(const std::string& name);
  void removeDirectory(const std::string& name);
  void removeFile(const std::string& name);
  void renameFile(const std::string& name, const std::string& newName);

  // Uploads and string files.
  int uploadedFileCount() const;
  // The temporary file of the first upload whose blank-trimmed client name
  // is exactly `name`; empty when none.
  std::string uploadedFileFor(const std::string& name) const;
  std::string uploadedFileAt(int index, std::string& name, std::string& temp) const;
  void saveFiles(const std::string& path, const std::string& encoding);
  // `data` is written to the file piece by piece: a long one never is in memory whole.
  void saveStringFile(const std::string& path, const std::string& name, const VLParameterValue& data,
                      const std::string& encoding);

  // Serving.
  void serveFile(const std::string& path, const std::string& encoding);
  // Sends the open `file` after the prepared head (the 500 page when it is
  // not open); the content bytes handed on.
  std::int64_t sendFileStream(platform::File& file);

  // Portal, redirects, proxy settings.
  void getPortal();
  void redirectTo(const std::string& path);
  void setProxy(const std::string& host, const std::string& port);
  void writeRedirectHeader(int code, const std::string& reason, const std::string& location);

  // Codecs: each writes a new temporary file and returns its path (empty
  // when the input cannot be read or the output cannot be written whole).
  std::string unescapeUpload(const std::string& path, std::string& message, int& code);
  std::string decodeBase64File(const std::string& path, std::string& message, int& code);
  std::string encodeBase64File(const std::string& path);

  // The permission hook, asked about a decoded, cleaned name and the path
  // made of it: refuses a path with a ".." part.
  bool isPathRefused(const std::string& name, const std::string& fullPath, std::string& message);
  // The data root + "Cache\".
  static std::string cacheDirectory();

 protected:
  // A name resolved under a root: the path to use (decoded once, cleaned,
  // "\" separators) and the cleaned raw text for messages.
  struct ResolvedName {
    std::string path;
    std::string shown;
    std::string cleaned;  // the decoded, cleaned name
  };
  // The calling site's home, its part after the data root decoded once; on
  // a refused home (or one reached through a link) replies 1000 and returns
  // false.
  bool homeRoot(std::string& root);
  // On a refused name (or one reached through a link) replies 1000 and
  // returns false.
  bool nameUnderRoot(const std::string& root, const std::string& name, VLNameRule rule,
                     ResolvedName& resolved, VLLinkRule links = VLLinkRule::NoLinks);
  // True, after replying 1000, when a name that a command would create,
  // change or remove in the home names the event service's database.
  bool refusesEventDatabase(const ResolvedName& resolved);
  // The name checks without a reply: false with the refusal text in `message`.
  bool resolveName(const std::string& root, const std::string& name, VLNameRule rule,
                   ResolvedName& resolved, std::string& message, VLLinkRule links = VLLinkRule::NoLinks);

 private:
  void scanUnder(const std::string& root, const std::string& name, const std::string& filter);
  // `home`: the root is the site's home, whose event database stays.
  void removeUnder(const std::string& root, const std::string& name, bool folder, bool home);
  // What a save command met: files not saved, whether anything failed or a
  // decoder warned, and the texts the operations appended.
  struct SaveState {
    int count = 0;
    bool failed = false;
    std::string message;
  };
  // Stores `source` under `target` as sent or decoded by `encoding`; a file
  // not stored is counted in `state`.
  void storeUpload(const std::string& source, const std::string& target, const std::string& encoding,
                   SaveState& state);
  void sendErrorPage();
  // The replacement pairs this request may apply to the file it names: for
  // the privileged host only the portal's two marked words; for any other
  // site only when the request comes from the site's own page; else none.
  std::vector<VLReplacement> permittedReplacements() const;
  bool sendReplaced(platform::File& file, const std::string& contentType,
                    const std::vector<VLReplacement>& pairs);
  bool proxyRequestFromOtherSite() const;
  // The facts of this request the command gate decides on.
  VLCommandCaller caller() const;

  VLDirectory directory;
};

class VLFileServer : public VLGenericServer {
 public:
  VLFileServer() { createHandlers(); }
  ~VLFileServer() override;

  void createHandlers() override;
  int getNextAvailableHandler(platform::Socket socket) override;
  VLGenericHandler* handlerAt(int index) override { return pooledHandler(index); }
  void startHandler(int index) override { startPooledHandler(index); }
};
