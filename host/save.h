// File Save: the current slot written to an AVI file the user names, compressed as the user
// chooses. The slot, its temporary file and the workspace's streams stay as they are.
#pragma once

class QWidget;

// 1 when the file was written; 0 when the user cancelled a dialog or the progress, or the write
// failed (the user was told). The file is written beside the target under another name and
// renamed over it only when complete, so an existing file survives a failed or cancelled save.
int SaveCurrentSlot(QWidget* mainWindow);
