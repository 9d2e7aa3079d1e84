#include "outcome_box.h"

#include "ui/ui.h"

void ShowOutcome(QWidget* owner, const Outcome& outcome) {
    if (!outcome.message.empty())
        MessageBoxA(owner, outcome.message.c_str(), outcome.caption, MB_OK);
}
