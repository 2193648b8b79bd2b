// Drag-and-drop web actions of a folder of the site's home (/ADDDRAGDROPWEB,
// /DELETEDRAGDROPWEB) and the file extensions they apply to
// (/ADDDRAGDROPWEBINCLUDE, /DELETEDRAGDROPWEBINCLUDE).
#include "foundation/strings.h"
#include "varlumeevent/event_handler.h"
#include "varlumeevent/sql_literal.h"

void VLEventHandler::addDragDropWeb() {
  const std::string localDir = localDirFor(getParameter("Path"));
  const std::string action = trimmedParameter("Action");
  const std::string params = trimmedParameter("ActionParams");
  const std::string sequence = trimmedParameter("ActionSequence");
  if (action.empty()) {
    replyError(3020, "Path for Action parameter is blank. DragDropWeb not created.");
    return;
  }
  // Only an upload names a URL (its ActionParams); other actions are stored as they are.
  if (toUpper(action) == "UPLOAD" && crossSitePermission(params) != 3) {
    replyError(3000,
               "User ALWAYS permission required to support cross site scripted DragDropWeb. "
               "Parameter=ActionParams.  DragDropWeb not created.");
    return;
  }
  if (storeInDomain("INSERT INTO DragDropWeb VALUES (" + sqlLiteral(localDir) + ", " + sqlLiteral(action) + ", " +
                    sqlLiteral(params) + ", " + sqlLiteral(sequence) + ")")) {
    replySuccess();
  }
}

void VLEventHandler::deleteDragDropWeb() {
  std::string statement = "DELETE FROM DragDropWeb WHERE LocalDir = " + sqlLiteral(localDirFor(getParameter("Path")));
  for (const char* column : {"Action", "ActionParams", "ActionSequence"}) {
    const std::string value = trimmedParameter(column);
    if (!value.empty()) statement += std::string(" AND ") + column + " = " + sqlLiteral(value);
  }
  if (storeInDomain(statement)) replySuccess();
}

void VLEventHandler::addDragDropWebInclude() {
  const std::string localDir = localDirFor(getParameter("Path"));
  const std::string extension = trimmedParameter("FileExtension");
  if (extension.empty()) {
    replyError(3020, "FileExtension parameter is blank. DragDropWeb not updated.");
    return;
  }
  if (storeInDomain("INSERT INTO DragDropWebInclude VALUES (" + sqlLiteral(localDir) + ", " + sqlLiteral(extension) +
                    ")")) {
    replySuccess();
  }
}

void VLEventHandler::deleteDragDropWebInclude() {
  const std::string extension = trimmedParameter("FileExtension");
  std::string statement =
      "DELETE FROM DragDropWebInclude WHERE LocalDir = " + sqlLiteral(localDirFor(getParameter("Path")));
  if (!extension.empty()) statement += " AND FileExtension = " + sqlLiteral(extension);
  if (storeInDomain(statement)) replySuccess();
}
