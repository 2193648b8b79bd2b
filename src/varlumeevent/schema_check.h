// How a database file's objects stand against one of the event schemas,
// read from its catalogue before a command uses the file. The file may hold
// only the service's own objects in their own form (both schemas count: the
// privileged host's file is also its site's file): a view, a trigger, or a
// table or index of another form, in a file a page put in place, would run
// or answer as the page wished.
#pragma once
#include <string>
#include <vector>

#include "varlumeevent/event_connection.h"
#include "varlumeevent/event_schema.h"

struct VLSchemaCheck {
  bool readable = false;  // the catalogue could be read (a file that is no database cannot)
  bool foreign = false;   // an object that is not the service's own, or one of them in another form
  // An index of the schema is missing while its table holds rows: made
  // again it would be built over those rows (and a unique one may fail on
  // every request), used without it every look-up reads the whole table.
  bool indexMissingOverRows = false;
  std::vector<std::string> missing;  // objects of the schema the file lacks

  bool holds(const std::string& name) const;
  // The file may be used, its missing objects made again.
  bool usable() const { return !foreign && !indexMissingOverRows; }
};

// Reads at most one row more than both schemas have objects. Reading the
// catalogue gives the connection the page cache size the file's header
// suggests, which may be any size: the connection is set back to the
// library's default (about 2 MB) first.
VLSchemaCheck checkSchema(const VLEventConnection& connection, const std::vector<VLSchemaObject>& schema);
