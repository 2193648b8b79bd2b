// The two schemas of the event databases: the statements that create the
// objects of a site's "EventDatabase.db" and of the privileged host's one,
// and those objects as the database's own catalogue keeps them.
#pragma once
#include <string>
#include <vector>

const std::vector<std::string>& domainStatements();      // ten
const std::vector<std::string>& privilegedStatements();  // five

// One object of a schema: its name, the table it belongs to (its own name
// for a table) and its creating text as sqlite_master holds it (the
// statement without "IF NOT EXISTS").
struct VLSchemaObject {
  std::string name;
  std::string table;
  std::string sql;
  bool isIndex() const { return name != table; }
};

const std::vector<VLSchemaObject>& domainObjects();      // in creation order
const std::vector<VLSchemaObject>& privilegedObjects();  // in creation order
