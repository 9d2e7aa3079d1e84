// The main window: created with the session, destroyed with it.
#pragma once

#include "host.h"
#include "window.h"

// Runs the editor on the running QApplication; returns the exit code.
// At start-up: when an instance that is gone left work behind, asks whether to restore it, then
// restores or discards it.
void OfferToRecoverWork();

int HostMain();
