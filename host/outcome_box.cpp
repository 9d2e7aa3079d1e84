#include "outcome_box.h"

#include "ui/ui.h"

namespace {

const char kDiscardChanges[] = "保存していない変更があります。破棄してよろしいですか？";
const char kRecoverWork[] =
    "前回は正常に終了しなかったため、保存していない作業が残っています。復元しますか？";
const char kReplaceFile[] = "ファイルは既にあります。上書きしてよろしいですか？";

} // namespace

void ShowOutcome(QWidget* owner, const Outcome& outcome) {
    if (!outcome.message.empty())
        MessageBoxA(owner, outcome.message.c_str(), outcome.caption, MB_OK);
}

bool AskToDiscardChanges(QWidget* owner) {
    return MessageBoxA(owner, kDiscardChanges, "Check", MB_OKCANCEL) == IDOK;
}

bool AskToRecoverWork(QWidget* owner) {
    return MessageBoxA(owner, kRecoverWork, "Check", MB_OKCANCEL) == IDOK;
}

bool AskToReplaceFile(QWidget* owner, const std::string& path) {
    const std::string text = path + "\n" + kReplaceFile;
    return MessageBoxA(owner, text.c_str(), "Check", MB_OKCANCEL) == IDOK;
}
