#include "ui/ui.h"
#include "ui/ui_script.h"

#include <QMessageBox>
#include <QWidget>

#include <deque>

namespace {

// The bits of a message box type that choose its buttons.
constexpr unsigned kButtonBits = 0x0Fu;

bool scripting = false;
std::deque<int> messageAnswers;
std::vector<ui_script::ShownMessage> shownMessages;

int ScriptedMessageAnswer() {
    if (messageAnswers.empty()) return IDOK;
    const int answer = messageAnswers.front();
    messageAnswers.pop_front();
    return answer;
}

} // namespace

namespace ui_script {

void Begin() {
    scripting = true;
    messageAnswers.clear();
    shownMessages.clear();
    ClearFileDialogs();
    ClearSaveOptions();
}

void End() {
    scripting = false;
    messageAnswers.clear();
}

bool Active() {
    return scripting;
}

void QueueMessageAnswer(int answer) {
    messageAnswers.push_back(answer);
}

const std::vector<ShownMessage>& ShownMessages() {
    return shownMessages;
}

void ClearShownMessages() {
    shownMessages.clear();
}

} // namespace ui_script

extern "C" int MessageBoxA(HWND owner, const char* text, const char* caption, unsigned type) {
    if (scripting) {
        shownMessages.push_back({text ? text : "", caption ? caption : "", type});
        return ScriptedMessageAnswer();
    }
    QMessageBox box(static_cast<QWidget*>(owner));
    box.setWindowTitle(QString::fromUtf8(caption ? caption : ""));
    box.setText(QString::fromUtf8(text ? text : ""));
    box.setIcon((type & MB_ICONINFORMATION) ? QMessageBox::Information : QMessageBox::NoIcon);
    const bool okCancel = (type & kButtonBits) == MB_OKCANCEL;
    box.setStandardButtons(okCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? IDOK : IDCANCEL;
}
