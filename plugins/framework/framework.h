// What every effect module is built on: its two exports, the dialog skeleton and the Ok
// sequence that renders the effect into the current slot.
//
// A module defines its dialog as a PluginDialog and its exports with MIVRA_PLUGIN:
//
//   class ColorDialog : public plugin::PluginDialog { ... };
//   MIVRA_PLUGIN("カラーチェンジ Ver1.00", ColorDialog)
//
// The dialog works on the module's own copy of the host's record; the host's record changes
// only when Dlg returns 1 and the host reloads the slot.
#pragma once

#include "dialog.h"
#include "entry.h"
#include "render.h"
#include "ui/ui.h"
#include "workspace.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <type_traits>

#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace plugin {

// Ids every effect dialog shares.
constexpr int kIdProgress = 1023;

class PluginDialog : public dlg::Dialog {
  public:
    // `ws` is the module's copy of the host's record; it outlives the dialog.
    PluginDialog(const dlg::DialogDef& layout, QWidget* parent, EditWorkspace& ws);

    // True once renderToSlot has replaced the slot's file (the dialog then ended with 1).
    bool rendered() const { return rendered_; }

  protected:
    EditWorkspace& workspace() { return ws_; }

    // The Ok sequence: renders the renderer's frames into the current slot (RenderIntoSlot) and
    // ends the dialog with 1. While it runs the progress bar advances, the dialog repaints and
    // only Cancel reacts. A failure (its text in a message box) or a Cancel leaves the slot's
    // file and the host's stream untouched and returns false with the dialog still open.
    bool renderToSlot(Renderer& renderer);

    // Cancel (the button, Esc, the close box) ends the dialog with 2, or stops a running
    // render; every other command goes to onControl.
    void onCommand(int id) final;
    virtual void onControl(int id);

    // A failure message box over the dialog (caption "Error").
    void reportError(const char* text);

  private:
    class RenderSession;

    EditWorkspace& ws_;
    bool rendering_ = false;
    bool cancelRequested_ = false;
    bool rendered_ = false;
};

// Fills a list view with one row per slot (the slot's name), under the column "Open File Name":
// row i is slot i.
void FillSlotList(dlg::Dialog& dialog, int listId, const EditWorkspace& ws);

// Sets a toggle button's check mark from the low 16 bits of state.
void SetToggleCheck(dlg::Dialog& dialog, int id, int state);

// One invocation of a module: copies the host's record, builds the dialog with `make` and runs
// it modally over `owner`. Returns 1 when the dialog rendered into the slot, otherwise 0;
// "ダイアログ失敗" when the dialog cannot be built.
using DialogMaker = std::function<std::unique_ptr<PluginDialog>(QWidget* owner, EditWorkspace& ws)>;
int RunDialog(HWND owner, const EditWorkspace* hostRecord, const DialogMaker& make);

} // namespace plugin

// The module's two exports; nothing else in a module is visible.
#define MIVRA_PLUGIN(menuCaption, DialogType)                                                      \
    static_assert(sizeof(menuCaption) <= 50, "the host keeps 49 bytes of a caption");              \
    PLUGIN_EXPORT char* GetMenuName(char* buffer) {                                                \
        std::strcpy(buffer, menuCaption);                                                          \
        return buffer;                                                                             \
    }                                                                                              \
    PLUGIN_EXPORT int Dlg(HWND owner, EditWorkspace* ws) {                                         \
        return plugin::RunDialog(owner, ws, [](QWidget* parent, EditWorkspace& copy) {             \
            return std::unique_ptr<plugin::PluginDialog>(new DialogType(parent, copy));            \
        });                                                                                        \
    }                                                                                              \
    static_assert(std::is_same_v<decltype(&GetMenuName), GetMenuNameEntry> &&                      \
                  std::is_same_v<decltype(&Dlg), DlgEntry>);
