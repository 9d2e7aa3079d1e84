// The two functions every effect module exports with C linkage, as the host calls them.
#pragma once

#include "workspace.h"

extern "C" {
// Writes the module's Effect menu caption (at most 49 bytes kept) into buffer; returns buffer.
using GetMenuNameEntry = char* (*)(char* buffer);
// Runs the module's dialog over owner (a QWidget*) on the host's record; 1 when the current slot's
// temporary file was replaced and the host must reload the slot, otherwise 0.
using DlgEntry = int (*)(void* owner, EditWorkspace* ws);
}

constexpr const char* kGetMenuNameSymbol = "GetMenuName";
constexpr const char* kDlgSymbol = "Dlg";
