// The slots are the host's model: opening AVI files into slots, closing and switching them, and
// making one of them current. Every change ends in one RefreshPanels() call.
#pragma once

#include "workspace.h"

class QWidget;

enum class FileDialogMode { Save = 0, Open = 1 };

// Pairs of description and pattern, double-NUL terminated.
extern const char kAviFilters[];
extern const char kBitmapFilters[];

// Shows the open or save dialog; the buffer offers the initial name and receives the chosen
// path. 1 when the user chose a file, 0 when cancelled or refused.
int AskFileName(QWidget* owner, char (&path)[kPathSize], const char* filters, FileDialogMode mode);

// In place: mode 1 keeps the file-name part after the last '/', mode 0 the folder part with it.
void StripPath(char (&path)[kPathSize], int mode);

// Reads frame n of stream into buffer, one frame of the workspace's format. A failed read
// leaves the buffer as it was.
void ReadFrame(PAVISTREAM stream, LONG n, uint8_t* buffer);

// File Open: 1 when a slot was added and made current.
int OpenAviFile(QWidget* mainWindow);

// True, after telling the user, when every slot is in use.
bool RefuseWhenSlotsFull(QWidget* owner);

// Adds stream (taken over) as the last slot, named after the file in openPath, and makes it
// current. When it cannot be made current the stream is released and the slots stay as they
// were (false).
bool AppendSlot(PAVISTREAM stream);

// Closes a slot; the first remaining slot becomes current. The working stream's edits are kept
// in their slot first.
void CloseSlot(int slot);

// Makes a slot current, keeping the working stream's edits in the slot left.
void SwitchSlot(int slot);

// Makes a slot current: the working stream becomes a fresh clone of the slot's stream (the
// edits of the slot left are stored into it first), with its format, information, the range
// 0..1 and frame buffers of its frame size. When the buffers or the clone cannot be had, the
// user is told and nothing changes. True when the slot is current.
bool ActivateSlot(int slot);
