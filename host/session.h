// The editing session: the record shared with the plug-ins, the slots, the clipboard, and every
// operation that changes them. Operations never show anything, stop the player or touch a
// widget: they return an Outcome, and every change is announced to one observer (the windows),
// which brings what the user sees in line.
#pragma once

#include "avi_io.h"
#include "workspace.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// The record handed to every plug-in by address, and the clipboard's frames.
extern EditWorkspace workspace;
extern PAVISTREAM clipboardStream;

// What an operation did, and what the user is to be told.
struct Outcome {
    bool done = false;   // the operation did what was asked
    std::string message; // empty: nothing to tell
    const char* caption = "Error";

    static Outcome Done() { return {true, {}, "Error"}; }
    static Outcome Failed(std::string text, const char* caption = "Error") {
        return {false, std::move(text), caption};
    }
    static Outcome Failed(AviError error) {
        const ErrorMessage m = MessageOf(error);
        return {false, m.text, m.caption};
    }
    // Nothing was done and there is nothing to tell (a cancelled or impossible request).
    static Outcome Nothing() { return {}; }
};

namespace session {

// What changed, for the observer.
enum Change : unsigned {
    kSlotsChanged = 1u << 0,     // slots opened, closed or switched: the whole view
    kFramesChanged = 1u << 1,    // the current slot's frames (an edit or an effect)
    kRangeChanged = 1u << 2,     // the range only
    kClipboardChanged = 1u << 3, // the clipboard's frames
    kRateChanged = 1u << 4,      // the current slot's frame rate
};
using Observer = std::function<void(unsigned changes)>;
void SetObserver(Observer observer);

struct StartOptions {
    // Each running instance keeps its temporary files in a folder of its own below this one.
    std::filesystem::path tempBase = "temp";
    // Keep a journal of the work, so that it can be restored after a crash.
    bool journal = true;
    // Bytes of temporary files kept only so that changes can be undone; past it the oldest
    // steps are forgotten.
    uint64_t undoDiskBudget = uint64_t{8} << 30;
};

// Prepares an empty session with a temporary folder of its own below options.tempBase, locked
// for as long as the session runs. Stray slot files of older versions in tempBase and the folders
// of instances that are gone and left nothing to restore are removed. Fails with the text to show.
Outcome Start(const StartOptions& options = {});
// Releases every stream and buffer and removes the temporary folder with the journal in it; the
// record is empty again.
void End();

// The folders of instances that are gone and left work to restore, newest first.
std::vector<std::filesystem::path> RecoverableWork(const std::filesystem::path& tempBase = "temp");
// Brings back, into a session just started, the work of a folder RecoverableWork listed, as it
// was after its last completed change: every slot, the clipboard, the current slot and range. The
// folder is removed afterwards. All or nothing: when any part cannot be restored, the session
// stays empty and the reason is returned.
Outcome Recover(const std::filesystem::path& folder);
// Removes a folder RecoverableWork listed, with the work in it.
void DiscardWork(const std::filesystem::path& folder);

bool HasSlots();

// A slot's sound, for the player and the slot list.
struct SlotSound {
    PAVISTREAM stream = nullptr; // borrowed, valid until the slot next changes; null: no sound
    WAVEFORMATEX format{};       // 16-bit PCM
};
SlotSound SoundOf(int slot);
// The first sample of the sound of a slot's frame `frame` (frame may be the slot's length: the
// sample after the last).
int64_t FirstSampleOfFrame(int slot, LONG frame);

// Reads frame n of stream into buffer, one frame of the current slot's format. A failed read
// leaves the buffer as it was.
void ReadFrame(PAVISTREAM stream, LONG n, uint8_t* buffer);
// Refuses (with the text to show) when every slot is in use.
Outcome CheckRoomForSlot();

// File Open: the video file at path becomes the last slot and current.
Outcome OpenVideo(const char* path);
// Bmp File Open: the bitmap becomes a new one-frame slot at 30 frames per second.
Outcome OpenBitmap(const char* path);
// Bmp File Add: the bitmap becomes the frame at the range start of the current slot.
Outcome AddBitmap(const char* path);

// Closes a slot; the first remaining slot becomes current.
Outcome CloseSlot(int slot);
// Makes a slot current, keeping the edits of the slot left; the range becomes 0..1.
Outcome SwitchSlot(int slot);

// The range the editor shows: frames rangeStart .. rangeEnd.
void SetRange(int32_t start, int32_t end);

// The Edit menu: through the clipboard, on the current slot's range.
Outcome Cut();
Outcome Copy();
Outcome Paste();
Outcome Reverse();

// Stores `rate` frames per second (scale 1) as the current slot's rate.
Outcome SetRate(DWORD rate);

// After an effect replaced the current slot's temporary file (and released the slot's stream):
// the slot and the working stream are read again from it. This change cannot be undone.
Outcome ReloadAfterEffect();

// Runs an effect on the record (the module's entry point, which returns true when it replaced
// the current slot's temporary file and released the slot's stream); the slot and the working
// stream are then read again from that file, and the render can be undone.
Outcome ApplyEffect(const std::function<bool(EditWorkspace* record)>& run);

// Every change above except Copy and SetRange can be undone, and what was undone redone, back
// to the state as it was: slots, frames, names, rates, order, current slot, range, clipboard.
// A new change drops what could be redone.
// A slot has unsaved changes after any change since it was opened or last saved.
bool HasUnsavedChanges(int slot);
bool AnyUnsavedChanges();

bool CanUndo();
bool CanRedo();
Outcome Undo();
Outcome Redo();

// The file name the user chose to save under: the next save offers the name alone.
void RememberSaveName(const char* path);

// The full path of the file opened last (the open dialog offers it) and the name remembered for
// the next save; the record's openPath and savePath hold what of them fits.
const std::string& LastOpenedPath();
const std::string& SaveName();

// File Save: writes the current slot to target through a file beside it, renamed over target
// only when complete; its sound goes with it as soundOptions say (16-bit PCM when null).
// `progress` gets the percentage and returns non-zero to cancel. A cancelled save is Nothing();
// the old file is then untouched.
Outcome Save(const std::filesystem::path& target, AVICOMPRESSOPTIONS& options,
             AVISAVECALLBACK progress, const AVICOMPRESSOPTIONS* soundOptions = nullptr);

} // namespace session
