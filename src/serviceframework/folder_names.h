// The folder-name rule of the services lives in the foundation, where the
// proxy applies the same rule to its cache and mirror paths.
#pragma once
#include "foundation/folder_names.h"
