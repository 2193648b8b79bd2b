// The temporary folder `tempPath`: part files of responses and the services'
// request bodies. Emptying it deletes its files; sub-folders and their
// contents stay.
#pragma once

// Does nothing while tempPath is empty.
void clearTempDirectory();
