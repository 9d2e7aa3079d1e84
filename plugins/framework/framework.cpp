#include "framework.h"

#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

namespace plugin {

namespace {

constexpr const char* kDialogFailed = "ダイアログ失敗";

// The controls a running render leaves enabled: Cancel stops it, the bar shows how far it is.
bool StaysEnabled(const dlg::Dialog& dialog, const QWidget* widget) {
    return widget == dialog.control(dlg::kIdCancel) || widget == dialog.control(kIdProgress);
}

} // namespace

// The dialog's other controls stay disabled for exactly as long as a render runs.
class PluginDialog::RenderSession {
  public:
    explicit RenderSession(PluginDialog& dialog) : dialog_(dialog) {
        dialog_.rendering_ = true;
        dialog_.cancelRequested_ = false;
        for (QWidget* widget : dialog_.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (StaysEnabled(dialog_, widget) || widget->testAttribute(Qt::WA_Disabled)) continue;
            widget->setEnabled(false);
            disabled_.push_back(widget);
        }
    }
    ~RenderSession() {
        for (const QPointer<QWidget>& widget : disabled_)
            if (widget) widget->setEnabled(true);
        dialog_.rendering_ = false;
    }
    RenderSession(const RenderSession&) = delete;
    RenderSession& operator=(const RenderSession&) = delete;

  private:
    PluginDialog& dialog_;
    std::vector<QPointer<QWidget>> disabled_;
};

PluginDialog::PluginDialog(const dlg::DialogDef& layout, QWidget* parent, EditWorkspace& ws)
    : Dialog(layout, parent, dlg::Role::Modal), ws_(ws) {}

void PluginDialog::onCommand(int id) {
    if (id == dlg::kIdCancel) {
        if (rendering_)
            cancelRequested_ = true;
        else
            endDialog(dlg::kIdCancel);
        return;
    }
    if (!rendering_) onControl(id);
}

void PluginDialog::onControl(int) {}

void PluginDialog::reportError(const char* text) {
    MessageBoxA(this, text, "Error", MB_OK);
}

bool PluginDialog::renderToSlot(Renderer& renderer) {
    if (rendering_) return false;
    const RenderSession session(*this);
    if (control(kIdProgress)) {
        setRange(kIdProgress, 0, static_cast<int>(renderer.frameCount()));
        setStep(kIdProgress, 1);
        setPosition(kIdProgress, 0);
    }
    // The dialog repaints, moves its bar and takes a Cancel between frames.
    const RenderOutcome outcome = RenderIntoSlot(ws_, renderer, [this](int64_t done) {
        if (done > 0) stepProgress(kIdProgress);
        QCoreApplication::processEvents();
        return !cancelRequested_;
    });
    if (outcome.state != RenderOutcome::State::Rendered) {
        if (!outcome.error.empty()) reportError(outcome.error.c_str());
        setPosition(kIdProgress, 0);
        return false;
    }
    rendered_ = true;
    endDialog(dlg::kIdOk);
    return true;
}

void FillSlotList(dlg::Dialog& dialog, int listId, const EditWorkspace& ws) {
    dialog.clearRows(listId);
    dialog.setColumn(listId, QString::fromLatin1("Open File Name"));
    const int rows = std::clamp(ws.slotCount, 0, kMaxSlots);
    for (int i = 0; i < rows; ++i) {
        const char* name = ws.slotNames[i];
        dialog.addRow(listId, QString::fromUtf8(name, int(strnlen(name, kPathSize))));
    }
}

void SetToggleCheck(dlg::Dialog& dialog, int id, int state) {
    dialog.setCheck(id, (state & 0xFFFF) != 0);
}

int RunDialog(HWND owner, const EditWorkspace* hostRecord, const DialogMaker& make) {
    // No exception may cross the module's C boundary into the host.
    try {
        EditWorkspace copy{};
        std::unique_ptr<PluginDialog> dialog;
        if (hostRecord) {
            std::memcpy(&copy, hostRecord, sizeof copy);
            dialog = make(static_cast<QWidget*>(owner), copy);
        }
        if (!dialog) {
            MessageBoxA(nullptr, kDialogFailed, "OK", MB_OK);
            return 0;
        }
        const int ended = dialog->runModal();
        return ended == dlg::kIdOk && dialog->rendered() ? 1 : 0;
    } catch (...) {
        MessageBoxA(nullptr, kDialogFailed, "OK", MB_OK);
        return 0;
    }
}

} // namespace plugin
