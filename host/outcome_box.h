// Tells the user what an operation of the session said, in a message box.
#pragma once

#include "session.h"

#include <string>

class QWidget;

// Shows the outcome's message, when it has one, in a box owned by owner.
void ShowOutcome(QWidget* owner, const Outcome& outcome);

// Asks before unsaved changes are discarded (OK/Cancel, caption "Check"); true for OK.
bool AskToDiscardChanges(QWidget* owner);

// Asks whether to restore the work an instance that was gone left (OK/Cancel, caption "Check").
bool AskToRecoverWork(QWidget* owner);

// Asks before the file at path is saved over (OK/Cancel, caption "Check"); true for OK.
bool AskToReplaceFile(QWidget* owner, const std::string& path);
