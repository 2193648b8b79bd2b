// VLEventHandler: one handler of the event service's pool. For each request
// it opens the calling site's "EventDatabase.db" and the privileged host's
// one, runs the command the path names (server events, web drives, drag-and-
// drop actions, cross-site permissions), answers with the XML envelope (or
// the plain-text /GETEVENT answer) and closes both databases again.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "foundation/directory.h"
#include "serviceframework/generic_handler.h"
#include "varlumeevent/event_connection.h"

class VLEventHandler : public VLGenericHandler {
 public:
  static constexpr char kVersionText[] = "varlumeevent 1.0.0, 2006-08-24";

  explicit VLEventHandler(int byteWaitMilliseconds = kDefaultByteWaitMilliseconds)
      : VLGenericHandler(byteWaitMilliseconds) {}

  void serviceRequest() override;
  std::string tempFileExtension() const override { return ".vlev"; }

  // Registers the handler in slot i; the first call also creates the
  // privileged host's folder and tables.
  void initSlot(int i);

  // Runs the statements in order (echoing each to standard output, with the
  // code and text of a failure) and returns the rows' XML of them all; the
  // rows of the last list stay in mLineResults. `failure` gets the first
  // non-zero result code, or 0.
  std::string executeStatements(VLEventConnection& connection, const std::vector<std::string>& statements,
                                int* failure = nullptr);
  int rowCallback(int argc, char** values, char** names);
  // A look-up's reading: runs one query and hands each result row (its
  // values in column order and its row line) to `visit`, in the order the
  // database returns them, until `visit` returns false. Only the row at
  // hand is held. The query and any failure are echoed as by
  // executeStatements. Returns the rows handed over.
  using RowVisitor = std::function<bool(const std::vector<std::string>& values, const std::string& line)>;
  int visitRows(VLEventConnection& connection, const std::string& query, const RowVisitor& visit);
  // The value after the first "name=" in a row line, up to the next "&".
  static std::string rowField(const std::string& name, const std::string& line);
  const std::vector<std::string>& lineResults() const { return mLineResults; }
  int lastRowCount() const { return rowCount; }

  void createDomainTables();
  void createPrivilegedTables();

  void replyError(int code, const std::string& reason);
  void replySuccess();
  void replySuccess(const std::string& payload);
  void replyVersion();

  // Level 0 to 3 (3: ALWAYS) of the calling site for `url`.
  int crossSitePermission(const std::string& url);
  int lookupCrossSitePermission(const std::string& requestHost, const std::string& urlHost,
                                const std::string& path);
  // The site's (decoded) home followed by the trimmed, cleaned Path without
  // one leading "/".
  std::string localDirFor(const std::string& pathParameter) const;

 private:
  void getEvent();
  void addServerEvent();
  void deleteServerEvent();
  void addWebDrive();
  void deleteWebDrive();
  void addWebDriveShare();
  void deleteWebDriveShare();
  void addDragDropWeb();
  void deleteDragDropWeb();
  void addDragDropWebInclude();
  void deleteDragDropWebInclude();
  void addCrossSiteUser();
  void updateCrossSiteUser();
  void addCrossSiteSite();
  void deleteCrossSiteSite();

  // Opens both databases, checks what they hold and makes their missing
  // objects; false after it replied.
  bool openDatabases(const std::string& command);
  void dispatch(const std::string& command);
  void answerNoEvent();
  // Runs a command's one statement on the site's (or the privileged)
  // database. True when it ran or only a unique index refused it; otherwise
  // it has answered code 14 and returns false.
  bool storeInDomain(const std::string& statement);
  bool storeInPrivileged(const std::string& statement);
  bool store(VLEventConnection& connection, const std::string& statement, const std::string& failureReason);
  std::string trimmedParameter(const std::string& name) const;

  VLDirectory directory;
  int rowCount = 0;
  std::string rowXml;
  std::vector<std::string> mLineResults;
  int slotIndex = 0;
  VLEventConnection domainDatabase;
  VLEventConnection privilegedDatabase;
  bool newDomainDatabase = false;
  // The request's folders and database paths, decoded below the data root.
  std::string siteFolder;
  std::string domainDatabasePath;
  std::string privilegedDatabasePath;
};
