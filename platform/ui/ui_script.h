// The scripting seam: while a script is active, message boxes, file dialogs and the
// compression-options dialog are not shown;
// each call takes the next queued answer and is recorded for the test to read back.
#pragma once

#include "avifile/avifile.h"
#include "wintypes.h"

#include <string>
#include <vector>

namespace ui_script {

struct ShownMessage {
    std::string text;
    std::string caption;
    unsigned type;
};

// Starts scripting and forgets earlier answers and records.
PLATFORM_API void Begin();
// Stops scripting: dialogs are shown again.
PLATFORM_API void End();
PLATFORM_API bool Active();

// Answer for the next message box (IDOK or IDCANCEL); without one a box answers IDOK.
PLATFORM_API void QueueMessageAnswer(int answer);
PLATFORM_API const std::vector<ShownMessage>& ShownMessages();
PLATFORM_API void ClearShownMessages();

// What a file dialog was asked to show.
struct AskedFileDialog {
    bool save; // GetSaveFileNameA rather than GetOpenFileNameA
    std::string title;
    std::vector<std::string> filter; // description, pattern, description, pattern, ...
    unsigned filterIndex;            // as passed in
    std::string initialFile;         // the text of lpstrFile on entry
    unsigned flags;
};

// Answer for the next file dialog: the chosen path (relative paths count from the working
// directory) and the filter the user ended with (1-based). Without an answer a dialog is
// cancelled. A scripted path obeys the dialog's flags: a missing file under OFN_FILEMUSTEXIST
// counts as a cancel, as the real dialog would not accept it.
PLATFORM_API void QueueFileAnswer(const std::string& path, unsigned filterIndex);
PLATFORM_API void QueueFileCancel();
PLATFORM_API const std::vector<AskedFileDialog>& AskedFileDialogs();
// Forgets queued file answers and the record of asked dialogs (Begin does this too).
PLATFORM_API void ClearFileDialogs();

// What a compression-options dialog was asked to show.
struct AskedSaveOptions {
    unsigned flags;
    std::vector<DWORD> offered; // handlers of the compressors listed, in their order
    // The audio choices listed (wave format tags, then AUDIO_LEAVE_OUT); none for video alone.
    std::vector<DWORD> offeredAudio;
};

// Answer for the next compression-options dialog: OK with these options (and, asked with an
// audio stream, the audio left at its default, PCM). Without an answer a dialog is cancelled.
PLATFORM_API void QueueSaveOptions(const AVICOMPRESSOPTIONS& options);
// The same with the audio choice made too.
PLATFORM_API void QueueSaveOptions(const AVICOMPRESSOPTIONS& video,
                                   const AVICOMPRESSOPTIONS& audio);
PLATFORM_API void QueueSaveOptionsCancel();
PLATFORM_API const std::vector<AskedSaveOptions>& AskedSaveOptionsDialogs();
// Forgets queued answers and the record of asked dialogs (Begin does this too).
PLATFORM_API void ClearSaveOptions();

// Ids of the compression-options dialog's controls, the numbers its widgets are named with.
enum SaveOptionsControl : int {
    kSaveOptionsOk = 1,
    kSaveOptionsCancel = 2,
    kSaveOptionsCompressor = 101,    // drop-down list; item data is the handler
    kSaveOptionsKeyFrames = 102,     // check box
    kSaveOptionsKeyFrameEvery = 103, // frames
    kSaveOptionsDataRate = 104,      // check box
    kSaveOptionsKilobits = 105,      // kbit/s
    kSaveOptionsQuality = 106,       // slider, 0 to 100
    kSaveOptionsPreview = 107,       // push button
    kSaveOptionsPicture = 108,       // the previewed frame
    kSaveOptionsPreviewText = 109,   // the previewed frame's stored size
    kSaveOptionsAudio = 110,         // drop-down list, with an audio stream only; item data is
                                     // the wave format tag or AUDIO_LEAVE_OUT
    kSaveOptionsEvenSizeNote = 120,  // why some compressors are missing for odd frame sizes
    kSaveOptionsStoredFrames = 121,  // how many frames are copied as stored, how many encoded
    kSaveOptionsEncodeAll = 122,     // check box: encode every frame
};

} // namespace ui_script
