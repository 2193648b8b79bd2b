// Server events: the follow-up a site registers for a path and an event
// (/ADDSERVEREVENT, /DELETESERVEREVENT) and the look-up the proxy makes when
// a site cannot be reached or is refused (/GETEVENT).
#include "foundation/strings.h"
#include "serviceframework/diagnostic_output.h"
#include "varlumeevent/command_path.h"
#include "varlumeevent/event_answer.h"
#include "varlumeevent/event_handler.h"
#include "varlumeevent/sql_literal.h"

void VLEventHandler::getEvent() {
  const std::string requestedPath = getParameter("Path");
  const std::string event = getParameter("Event");
  // The rows are read one at a time and only until the choice is made, so
  // a table of any size costs one row's memory.
  VLEventChoice choice(requestedPath);
  int missing = 0;
  std::vector<std::string> pieces;
  const int rows = visitRows(
      domainDatabase,
      "SELECT Path, Action, ActionParams FROM ServerEvent WHERE (Path = " + sqlLiteral(requestedPath) +
          " OR Path = '*' OR Path = " + sqlLiteral(requestedPath + "*") + ") AND Event = " + sqlLiteral(event),
      [&](const std::vector<std::string>&, const std::string& line) {
        writeDiagnosticLine("lLine is " + line);
        VLEventRow row;
        missing = splitEventRow(line, row, pieces);
        for (const std::string& piece : pieces) writeDiagnosticLine("lTemp is " + piece);
        return missing == 0 && choice.offer(row);
      });
  writeDiagnosticLine("mLineResults.size() is " + std::to_string(rows));
  if (missing != 0) {
    writeDiagnosticLine("CP" + std::to_string(missing));
    answerNoEvent();
    return;
  }
  if (!choice.found()) {
    writeDiagnosticLine("CP4");
    answerNoEvent();
    writeDiagnosticLine("CP5");
    return;
  }
  const std::string body = eventAnswerBody(choice.chosen(), requestedPath);
  responseHeader(200, "Success", "text/plain");
  sendResponse(body);
  writeDiagnosticLine("lResult is " + body);
  writeDiagnosticLine("CP5");
  reset();
}

void VLEventHandler::addServerEvent() {
  std::string path = trimmedParameter("Path");
  if (!path.empty()) path = cleanCommandPath(path);
  const std::string event = trimmedParameter("Event");
  if (event.empty()) {
    replyError(3040, "Event parameter is blank or invalid. Server event not installed.");
    return;
  }
  const std::string action = trimmedParameter("Action");
  const bool refused = action.empty() || toUpper(action.substr(0, 7)) == "HTTP://" ||
                       (toUpper(action.substr(0, 12)) == "/VARLUME/WEB" && crossSitePermission(action.substr(12)) == 0);
  if (refused) {
    replyError(3040,
               "Action parameter is blank or invalid or cross site scripting is not permitted for the target of "
               "Action. Server event not installed.");
    return;
  }
  const std::string params = trimmedParameter("ActionParams");
  if (storeInDomain("INSERT INTO ServerEvent VALUES (" + sqlLiteral(path) + ", " + sqlLiteral(event) + ", " +
                    sqlLiteral(action) + ", " + sqlLiteral(params) + ")")) {
    replySuccess();
  }
}

void VLEventHandler::deleteServerEvent() {
  std::string path = trimmedParameter("Path");
  if (!path.empty()) path = cleanCommandPath(path);
  const std::string event = trimmedParameter("Event");
  std::string statement = "DELETE FROM ServerEvent WHERE Path = " + sqlLiteral(path);
  if (!event.empty()) statement += " AND Event = " + sqlLiteral(event);
  if (storeInDomain(statement)) replySuccess();
}
