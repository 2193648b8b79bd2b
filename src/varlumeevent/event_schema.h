// The two schemas of the event databases: the statements that create the
// objects of a site's "EventDatabase.db" and of the privileged host's one,
// and the names of those objects.
#pragma once
#include <string>
#include <vector>

const std::vector<std::string>& domainStatements();      // ten
const std::vector<std::string>& privilegedStatements();  // five

extern const char* const kDomainObjects[10];
extern const char* const kPrivilegedObjects[5];
