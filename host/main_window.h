// The main window: created with the session, destroyed with it.
#pragma once

#include "host.h"
#include "window.h"

// Runs the editor on the running QApplication; returns the exit code.
int HostMain();
