#include "outcome_box.h"

#include "ui/ui.h"

namespace {

const char kDiscardChanges[] = "保存していない変更があります。破棄してよろしいですか？";

} // namespace

void ShowOutcome(QWidget* owner, const Outcome& outcome) {
    if (!outcome.message.empty())
        MessageBoxA(owner, outcome.message.c_str(), outcome.caption, MB_OK);
}

bool AskToDiscardChanges(QWidget* owner) {
    return MessageBoxA(owner, kDiscardChanges, "Check", MB_OKCANCEL) == IDOK;
}
