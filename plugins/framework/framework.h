// The contract every plug-in module fulfils: C-linkage exports GetMenuName and Dlg.
#pragma once

#include "workspace.h"
