// Opening AVI files into slots, closing slots, and the file dialog shared by the file commands.
#pragma once

#include "workspace.h"

enum class FileDialogMode { Save = 0, Open = 1 };

// Pairs of description and pattern, double-NUL terminated.
extern const char kAviFilters[];
extern const char kBitmapFilters[];

// Shows the open or save dialog; the buffer offers the initial name and receives the chosen
// path. 1 when the user chose a file, 0 when cancelled or refused.
int AskFileName(void* owner, char (&path)[kPathSize], const char* filters, FileDialogMode mode);

// In place: mode 1 keeps the file-name part after the last '/', mode 0 the folder part with it.
void StripPath(char (&path)[kPathSize], int mode);

// File Open: 1 when a slot was added.
int OpenAviFile(void* mainWindow);

// Close Stream: closes the slot of the marked stream-list row.
void CloseCurrentSlot(void* mainWindow);

// Reads frame n of stream into buffer, one frame of the workspace's format. A failed read
// leaves the buffer as it was.
void ReadFrame(PAVISTREAM stream, LONG n, uint8_t* buffer);

// Makes currentStream a fresh clone of the slot's stream and reads its format.
void MakeSlotCurrent(int slot);

// Replaces both frame buffers by zero-filled ones of the current frame size.
bool AllocateFrameBuffers();
