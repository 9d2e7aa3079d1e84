// The main window: created with the session, destroyed with it.
#pragma once

#include "app_folders.h"
#include "host.h"
#include "window.h"

// The folders of modules and temporary files the next CreateMainWindow uses; until this is
// called, plgin/ and temp/ in the working directory.
void UseAppFolders(AppFolders folders);

// At start-up: when an instance that is gone left work behind, asks whether to restore it, then
// restores or discards it.
void OfferToRecoverWork();

// Runs the editor on the running QApplication with its command line (what Qt left of it); the
// files named there open into slots once the window shows and any earlier work was offered.
// Returns the exit code.
int HostMain(int argc, char** argv);
