// The test program is no service: its application object's main is never run.
#include "foundation/app.h"

int VLApp::main(int, char**) { return 0; }
