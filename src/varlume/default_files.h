// The default data files shipped beside the programs: copied from the working
// folder into the all-users folder and the privileged host's folder (and its
// "images\" folder) when missing there, so a changed file is never
// overwritten. Each copy is made complete beside its target and renamed into
// place; the all-users copies under the all-users lock (configuration.h).
// Nothing here is reported; a missing source is passed over.
#pragma once

// Always true.
bool installDefaultFiles();
