#include "session.h"

#include "bitmap_file.h"
#include "disk_space.h"
#include "frame_plan.h"
#include "instance_folder.h"
#include "journal.h"
#include "slot_sound.h"
#include "slot_sources.h"
#include "sound_plan.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <limits>
#include <optional>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

EditWorkspace workspace;
PAVISTREAM clipboardStream;

namespace session {

namespace {

const char kTooManySlots[] = "ストリームは10個までしか開けません";
const char kStreamUnreadable[] = "ストリームを開けませんでした";
const char kOutOfMemory[] = "メモリが足りません";
const char kTempDirTooLong[] = "作業フォルダのパスが長すぎて起動できません";
const char kNoTempDir[] = "一時ファイルのフォルダを作れませんでした";
const char kNotRecovered[] = "前回の作業を復元できませんでした";
const char kUndoTrimmed[] =
    "元に戻すための一時ファイルが上限を超えたので、古い操作は元に戻せなくなりました。";
const char kJournalFailed[] =
    "作業の記録を書き込めませんでした。異常終了したときに復元できないことがあります。";
const char kCutFailed[] = "ストリームのカットに失敗しました";
const char kCopyFailed[] = "ストリームのコピーに失敗しました";
const char kPasteFailed[] = "ストリームのペーストに失敗しました";
const char kClipboardEmpty[] = "\nクリップボードが空です";
const char kReverseFailed[] = "ストリームの反転に失敗しました";
const char kRateNotSet[] = "フレームレートを書き込めませんでした";
const char kTempSaveFailed[] = "一時保存できませんでした。";
const char kInsertFailed[] = "フレームを挿入できませんでした。";
const char kDepthDiffers[] = "カラービットが現在のストリームと異なります。";
const char kSizeDiffers[] = "縦横サイズが現在のストリームと異なります。";
const char kCompressionDiffers[] = "圧縮形式が現在のストリームと異なります。";
const char kImageSizeDiffers[] = "画像サイズが現在のストリームと異なります。";
const char kSaved[] = "ファイルを保存しました。";
const char kNotSaved[] = "ファイルを保存できませんでした。";
const char kSoundNotMade[] = "効果の音声を作れなかったので、音声は前のままです。";
const char kSoundUnreadable[] = "音声を読み込めなかったので、映像だけを開きました。";

constexpr DWORD kBitmapRate = 30;
// "ﾋﾞﾃﾞｵ" (video) in half-width katakana, as the system code page stores it.
constexpr char kBitmapStreamName[] = "\xCB\xDE\xC3\xDE\xB5";
// The journal is written afresh once replaying its edits would move this many frames: bounds
// the time a restore takes (about a third of a second).
constexpr int64_t kLargestReplay = 10'000;
// Names tried for the file being saved before giving up.
constexpr int kTemporaryNames = 100;
// New files get every read and write permission the user's umask leaves.
constexpr mode_t kNewFileMode = 0666;

Observer observer;

// The full paths the user chose: the record's buffers hold what fits of them.
std::string openedPath;
std::string saveName;

// The session as it was before a change: enough to bring it back exactly. Streams are
// persistent clones, so a state costs the slots' piece lists, not their frames.
struct State {
    std::vector<StreamRef> slots;
    std::vector<std::array<char, kPathSize>> names;
    std::vector<bool> unsaved;
    int currentSlot = 0;
    int32_t rangeStart = 0;
    int32_t rangeEnd = 1;
    StreamRef clipboard;
    std::vector<sound::Track> sounds;
    sound::Track clipboardSound;
};

// Per slot, in slot order: changed since it was opened or last saved.
std::vector<bool> unsaved;
// Per slot, in slot order: its sound; and the clipboard's.
std::vector<sound::Track> sounds;
sound::Track clipboardSound;

std::deque<State> undoSteps;
std::deque<State> redoSteps;

StartOptions settings;
instance::Folder folder;
SlotSources sources;
journal::Writer journalWriter;
bool replaying = false;    // a restore replays the journal's edits: they are not journaled again
bool journalStale = false; // a write failed: the next one must be a whole picture
bool journalFailTold = false;
bool undoTrimTold = false;

void Notify(unsigned changes) {
    if (observer) observer(changes);
}

// The view that delivers every opened file's frames uncompressed.
AVICOMPRESSOPTIONS UncompressedView() {
    AVICOMPRESSOPTIONS options{};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
    options.dwFlags = AVICOMPRESSF_VALID;
    return options;
}

bool IsSlot(int slot) {
    return slot >= 0 && slot < workspace.slotCount;
}

// The current slot's sound (a track without sound when there is no slot).
sound::Track& CurrentSound() {
    static sound::Track none;
    if (!IsSlot(workspace.currentSlot)) {
        none = {};
        return none;
    }
    if (sounds.size() < size_t(workspace.slotCount)) sounds.resize(size_t(workspace.slotCount));
    return sounds[size_t(workspace.currentSlot)];
}

// A file the user chose, as the view that delivers its frames uncompressed.
StreamRef OpenUserFile(const std::string& path, AviError& error) {
    SourceVideo video;
    error = OpenAviSource(path.c_str(), video);
    if (error != AviError::None) return {};
    AVICOMPRESSOPTIONS options = UncompressedView();
    StreamRef view;
    if (AVIMakeCompressedStream(view.out(), video.stream.get(), &options, nullptr) != AVIERR_OK)
        view.reset();
    return view;
}

LONG FrameBytes() {
    return workspace.frameFormat ? LONG(workspace.frameFormat->biSizeImage) : 0;
}

void ReadRangeFrames() {
    ReadFrame(workspace.currentStream, workspace.rangeStart, workspace.startFrameBuffer);
    ReadFrame(workspace.currentStream, workspace.rangeEnd, workspace.endFrameBuffer);
}

// The record is packed: its handles are assigned, never bound to references.
void ReplaceCurrentStream(PAVISTREAM stream) {
    if (workspace.currentStream) AVIStreamRelease(workspace.currentStream);
    workspace.currentStream = stream;
}

void ReplaceSlotStream(int slot, PAVISTREAM stream) {
    if (workspace.slotStreams[slot]) AVIStreamRelease(workspace.slotStreams[slot]);
    workspace.slotStreams[slot] = stream;
}

void ReplaceClipboard(PAVISTREAM stream) {
    if (clipboardStream) AVIStreamRelease(clipboardStream);
    clipboardStream = stream;
}

void FreeFrameBuffers() {
    std::free(workspace.startFrameBuffer);
    std::free(workspace.endFrameBuffer);
    workspace.startFrameBuffer = nullptr;
    workspace.endFrameBuffer = nullptr;
}

// Edits live in the working stream until another slot is made current: keep them in the slot.
void StoreWorkingStream() {
    const int slot = workspace.currentSlot;
    if (!workspace.currentStream || !IsSlot(slot)) return;
    if (StreamRef saved = CloneOf(workspace.currentStream))
        ReplaceSlotStream(slot, saved.release());
}

void RemoveSlot(int slot) {
    if (size_t(slot) < unsaved.size()) unsaved.erase(unsaved.begin() + slot);
    if (size_t(slot) < sounds.size()) sounds.erase(sounds.begin() + slot);
    ReplaceSlotStream(slot, nullptr);
    workspace.slotCount -= 1;
    for (int j = slot; j < workspace.slotCount; ++j) {
        workspace.slotStreams[j] = workspace.slotStreams[j + 1];
        std::memcpy(workspace.slotNames[j], workspace.slotNames[j + 1], kPathSize);
    }
    workspace.slotStreams[workspace.slotCount] = nullptr;
    std::memset(workspace.slotNames[workspace.slotCount], 0, kPathSize);
}

// Makes a slot current: the working stream becomes a fresh clone of the slot's stream (the
// edits of the slot left are stored into it first), with its format, information, the range
// 0..1 and frame buffers of its frame size. When the buffers or the clone cannot be had,
// nothing changes.
Outcome ActivateSlot(int slot) {
    if (!IsSlot(slot)) return Outcome::Nothing();
    StoreWorkingStream();
    StreamRef stream = CloneOf(workspace.slotStreams[slot]);
    AVISTREAMINFOA info{};
    if (!stream || AVIStreamInfoA(stream.get(), &info, sizeof info) != AVIERR_OK)
        return Outcome::Failed(kStreamUnreadable);
    BITMAPINFOHEADER format{};
    LONG formatSize = sizeof format;
    AVIStreamReadFormat(stream.get(), 0, &format, &formatSize);

    // New buffers first: when they cannot be had, the old ones and the old stream stay.
    const std::size_t size = std::max<std::size_t>(format.biSizeImage, 1);
    auto* start = static_cast<uint8_t*>(std::calloc(1, size));
    auto* end = static_cast<uint8_t*>(std::calloc(1, size));
    if (!start || !end) {
        std::free(start);
        std::free(end);
        return Outcome::Failed(kOutOfMemory);
    }
    FreeFrameBuffers();
    workspace.startFrameBuffer = start;
    workspace.endFrameBuffer = end;
    ReplaceCurrentStream(stream.release());
    *workspace.frameFormat = format;
    workspace.streamInfo = info;
    workspace.rangeStart = 0;
    workspace.rangeEnd = 1;
    workspace.currentSlot = slot;
    ReadRangeFrames();
    return Outcome::Done();
}

// Adds stream (with its sound) as the last slot, named after the file opened last, and makes
// it current. When it cannot be made current the slots stay as they were.
Outcome AppendSlot(StreamRef stream, sound::Track track = {}) {
    const int slot = workspace.slotCount;
    workspace.slotStreams[slot] = stream.release();
    workspace.slotCount = slot + 1;
    sounds.resize(size_t(slot));
    sounds.push_back(std::move(track));
    Outcome activated = ActivateSlot(slot);
    if (!activated.done) {
        RemoveSlot(slot);
        return activated;
    }
    FitPath(workspace.slotNames[slot], fs::path(openedPath).filename().c_str());
    unsaved.resize(size_t(slot) + 1);
    unsaved[size_t(slot)] = false;
    return activated;
}

// The chosen file is the one opened last; the record's openPath gets what fits of its path.
void TakeOpenPath(const char* path) {
    openedPath = path;
    FitPath(workspace.openPath, path);
}

// An edit is made on a clone of the working stream. The working stream, the slot's entry and
// the stream information take the result together, so a failure leaves all three as they were.
bool Commit(StreamRef edited) {
    AVISTREAMINFOA info{};
    StreamRef slotCopy = CloneOf(edited.get());
    if (!slotCopy || AVIStreamInfoA(edited.get(), &info, sizeof info) != AVIERR_OK) return false;
    ReplaceCurrentStream(edited.release());
    ReplaceSlotStream(workspace.currentSlot, slotCopy.release());
    workspace.streamInfo = info;
    return true;
}

// "640x480 24ビット": what a frame format is to the user.
std::string ShapeOf(const BITMAPINFOHEADER& format) {
    return std::to_string(format.biWidth) + "x" + std::to_string(format.biHeight) + " " +
           std::to_string(format.biBitCount) + "ビット";
}

// Why the clipboard's frames do not fit the current slot, on a line of its own; empty when the
// reason is not known.
std::string PasteRefusalCause() {
    if (AVIStreamLength(clipboardStream) <= 0) return kClipboardEmpty;
    BITMAPINFOHEADER pasted{};
    LONG size = sizeof pasted;
    if (AVIStreamReadFormat(clipboardStream, 0, &pasted, &size) != AVIERR_OK) return {};
    const BITMAPINFOHEADER& slot = *workspace.frameFormat;
    if (pasted.biWidth == slot.biWidth && pasted.biHeight == slot.biHeight &&
        pasted.biBitCount == slot.biBitCount)
        return {};
    return "\nクリップボード: " + ShapeOf(pasted) + "、スロット: " + ShapeOf(slot);
}

// Moving the frame at `last` to p, for p = first, first + 1, ..., last - 1, leaves
// first .. last in reverse order.
bool ReverseFrames(PAVISTREAM stream, LONG first, LONG last) {
    for (LONG p = first; p < last; ++p) {
        LONG at = last, one = 1;
        StreamRef frame;
        if (EditStreamCut(stream, &at, &one, frame.out()) != AVIERR_OK) return false;
        LONG position = p, inserted = 1;
        if (EditStreamPaste(stream, &position, &inserted, frame.get(), 0, 1) != AVIERR_OK)
            return false;
    }
    return true;
}

const char* RefusalText(bitmap::Check check) {
    using bitmap::Check;
    switch (check) {
    case Check::Unreadable:
        return "ファイルを読み込めませんでした。";
    case Check::NotBitmap:
        return "ビットマップファイルではありません。";
    case Check::HeaderShort:
        return "ビットマップのヘッダーが途中で切れています。";
    case Check::HeaderSize:
        return "このビットマップのヘッダー形式には対応していません。";
    case Check::Dimensions:
        return "ビットマップの縦横サイズが不正です（1～16384）。";
    case Check::BitCount:
        return "16ビットと24ビットのビットマップしか使えません。";
    case Check::Compressed:
        return "圧縮されたビットマップは使えません。";
    case Check::ColourTable:
        return "カラーテーブル付きのビットマップは使えません。";
    case Check::PixelOffset:
        return "ビットマップの画素データの位置が不正です。";
    case Check::PixelsShort:
        return "ビットマップの画素データが足りません。";
    case Check::OutOfMemory:
    case Check::Usable:
        break;
    }
    return kOutOfMemory;
}

// The bitmap opened last as a frame, or why not.
Outcome LoadChosenBitmap(bitmap::Frame& frame) {
    const bitmap::Check check = bitmap::LoadBitmap(openedPath.c_str(), frame);
    if (check == bitmap::Check::Usable) return Outcome::Done();
    return Outcome::Failed(RefusalText(check),
                           check == bitmap::Check::OutOfMemory ? "Error" : "Check");
}

// What the user is told when the bitmap cannot be a frame of the current stream, or null.
const char* FormatDifference(const BITMAPINFOHEADER& picture, const BITMAPINFOHEADER& stream) {
    if (picture.biBitCount != stream.biBitCount) return kDepthDiffers;
    if (picture.biWidth != stream.biWidth || picture.biHeight != stream.biHeight)
        return kSizeDiffers;
    if (picture.biCompression != stream.biCompression) return kCompressionDiffers;
    if (picture.biSizeImage != stream.biSizeImage) return kImageSizeDiffers;
    return nullptr;
}

AVISTREAMINFOA BitmapStreamInfo(const BITMAPINFOHEADER& format) {
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
    info.dwScale = 1;
    info.dwRate = kBitmapRate;
    info.dwLength = 1;
    info.dwQuality = DWORD(-1);
    info.rcFrame = {0, 0, format.biWidth, format.biHeight};
    std::copy(std::begin(kBitmapStreamName), std::end(kBitmapStreamName), info.szName);
    return info;
}

// A file at path holding the bitmap as its one frame; false (and no file) on failure.
bool WriteFrameFile(const fs::path& path, const AVISTREAMINFOA& info, bitmap::Frame& frame) {
    AviError error = AviError::None;
    StreamRef out = CreateStreamFile(path, info, error);
    const bool written = out && WriteFrame(out.get(), 0, frame.format, frame.pixels.data(),
                                           LONG(frame.pixels.size()));
    out.reset(); // the writer's last reference: the file is finished
    if (!written) {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
    return written;
}

// The working stream with the frame inserted at the range start, as a new editable stream.
// File 98 carries the frame and is gone afterwards.
Outcome InsertFrame(bitmap::Frame& frame, StreamRef& edited) {
    AVISTREAMINFOA info{};
    AVIStreamInfoA(workspace.currentStream, &info, sizeof info);
    const fs::path scratch = TempFilePath(workspace, kScratchOutput);
    StreamRef one = WriteFrameFile(scratch, info, frame) ? OpenChecked(scratch, 1) : StreamRef();
    if (!one) {
        RemoveTempFile(workspace, kScratchOutput);
        return Outcome::Failed(kTempSaveFailed);
    }
    edited = CloneOf(workspace.currentStream);
    LONG position = workspace.rangeStart, length = 1;
    const bool pasted =
        edited && EditStreamPaste(edited.get(), &position, &length, one.get(), 0, 1) == AVIERR_OK;
    // The pasted frame is read through the open file, which outlives its name.
    RemoveTempFile(workspace, kScratchOutput);
    if (!pasted) return Outcome::Failed(kInsertFailed);
    return Outcome::Done();
}

// The record names the instance's folder: plug-ins build slot file names from it.
bool NameTempDir(const fs::path& dir) {
    // The longest name built from it is tempDir + "99.avi".
    const std::string text = dir.string() + "/";
    if (text.size() + std::strlen("99.avi") >= kPathSize) return false;
    std::memcpy(workspace.tempDir, text.c_str(), text.size() + 1);
    return CopyPath(workspace.tempPath, TempFilePath(workspace, 0).c_str());
}

// A new empty file in the target's folder, hidden and named after the target; empty when none
// can be made there.
fs::path CreateFileBeside(const fs::path& target) {
    const std::string stem = "." + target.filename().string() + "." + std::to_string(::getpid());
    for (int n = 0; n < kTemporaryNames; ++n) {
        const fs::path candidate = target.parent_path() / (stem + "." + std::to_string(n));
        const int fd =
            ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        if (fd >= 0) {
            ::close(fd);
            return candidate;
        }
        if (errno != EEXIST) break;
    }
    return {};
}

// The room a save of stream needs: every frame whole when stored uncompressed; else at least
// what was written (into the file `written`, still there) and one frame more.
uint64_t RoomForSave(PAVISTREAM stream, const AVICOMPRESSOPTIONS& options,
                     const fs::path& written) {
    const uint64_t frame = uint64_t(FrameBytes());
    const bool uncompressed =
        options.fccHandler == 0 || options.fccHandler == mmioFOURCC('D', 'I', 'B', ' ');
    if (uncompressed) return frame * uint64_t(std::max<LONG>(AVIStreamLength(stream), 0));
    std::error_code error;
    const uintmax_t bytes = fs::file_size(written, error);
    return (error ? 0 : uint64_t(bytes)) + frame;
}

// The present state, or nothing when a stream cannot be cloned (the change then cannot be
// undone, but is not refused for that).
std::optional<State> Capture() {
    State state;
    for (int i = 0; i < workspace.slotCount; ++i) {
        state.slots.push_back(CloneOf(workspace.slotStreams[i]));
        if (!state.slots.back()) return std::nullopt;
        std::array<char, kPathSize> name{};
        std::memcpy(name.data(), workspace.slotNames[i], kPathSize);
        state.names.push_back(name);
    }
    state.unsaved = unsaved;
    state.currentSlot = workspace.currentSlot;
    state.rangeStart = workspace.rangeStart;
    state.rangeEnd = workspace.rangeEnd;
    state.clipboard = CloneOf(clipboardStream);
    if (!state.clipboard) return std::nullopt;
    state.sounds.resize(sounds.size());
    for (size_t i = 0; i < sounds.size(); ++i)
        if (!sounds[i].CloneInto(state.sounds[i])) return std::nullopt;
    if (!clipboardSound.CloneInto(state.clipboardSound)) return std::nullopt;
    return state;
}

// The current slot's sound as it is saved: at the rate that keeps it in step with the frames
// (after a frame-rate change, the samples at a rate changed alike). Null without sound.
StreamRef SoundToSave() {
    const sound::Track& track = CurrentSound();
    if (!track.Present() || track.Samples() == 0) return {};
    StreamRef saved = CloneOf(track.stream.get());
    const WAVEFORMATEX playing = sound::PlayingFormat(track, workspace.streamInfo);
    AVISTREAMINFOA info{};
    if (!saved || AVIStreamInfoA(saved.get(), &info, sizeof info) != AVIERR_OK) return {};
    info.dwRate = playing.nAvgBytesPerSec;
    info.dwScale = playing.nBlockAlign;
    if (EditStreamSetInfoA(saved.get(), &info, sizeof info) != AVIERR_OK) return {};
    return saved;
}

// A change was made: the state before it can be brought back, and nothing can be redone.
void Record(std::optional<State> before) {
    redoSteps.clear();
    if (before) undoSteps.push_back(std::move(*before));
}

void Restore(State& state) {
    for (int i = 0; i < workspace.slotCount; ++i)
        ReplaceSlotStream(i, nullptr);
    std::memset(workspace.slotNames, 0, sizeof workspace.slotNames);
    workspace.slotCount = int32_t(state.slots.size());
    for (int i = 0; i < workspace.slotCount; ++i) {
        workspace.slotStreams[i] = state.slots[size_t(i)].release();
        std::memcpy(workspace.slotNames[i], state.names[size_t(i)].data(), kPathSize);
    }
    unsaved = state.unsaved;
    sounds = std::move(state.sounds);
    sounds.resize(size_t(workspace.slotCount));
    clipboardSound = std::move(state.clipboardSound);
    ReplaceClipboard(state.clipboard.release());
    // The working stream belongs to the state left: it must not be kept in any slot.
    ReplaceCurrentStream(nullptr);
    if (workspace.slotCount == 0 || !ActivateSlot(state.currentSlot).done) {
        FreeFrameBuffers();
        workspace.currentSlot = 0;
        return;
    }
    workspace.rangeStart = state.rangeStart;
    workspace.rangeEnd = state.rangeEnd;
    ReadRangeFrames();
}

// The current slot's frames or rate changed.
void MarkCurrentChanged() {
    if (IsSlot(workspace.currentSlot) && size_t(workspace.currentSlot) < unsaved.size())
        unsaved[size_t(workspace.currentSlot)] = true;
}

bool DescribeSound(const sound::Track& track, journal::SoundImage& image,
                   std::vector<journal::SourceImage>& used) {
    image = {};
    if (!track.Present()) return true;
    image.present = true;
    image.format = track.format;
    image.perFrameNum = track.perFrameNum;
    image.perFrameDen = track.perFrameDen;
    return sources.Describe(track.stream.get(), image.stream, used);
}

bool BuildSound(const journal::SoundImage& image, sound::Track& track) {
    track = {};
    if (!image.present) return true;
    track.format = image.format;
    track.perFrameNum = image.perFrameNum;
    track.perFrameDen = image.perFrameDen;
    track.stream = sources.Build(image.stream);
    return track.Present();
}

// The session as the journal keeps it; false when a stream uses a file the session does not
// know (which would make the picture unusable).
bool Picture(journal::Snapshot& snapshot) {
    snapshot.slots.resize(size_t(workspace.slotCount));
    for (int i = 0; i < workspace.slotCount; ++i) {
        journal::SlotImage& slot = snapshot.slots[size_t(i)];
        if (!sources.Describe(workspace.slotStreams[i], slot.stream, snapshot.sources) ||
            !DescribeSound(sounds[size_t(i)], slot.sound, snapshot.sources))
            return false;
        std::memcpy(slot.name.data(), workspace.slotNames[i], kPathSize);
        slot.unsaved = HasUnsavedChanges(i);
    }
    snapshot.currentSlot = workspace.currentSlot;
    snapshot.rangeStart = workspace.rangeStart;
    snapshot.rangeEnd = workspace.rangeEnd;
    return sources.Describe(clipboardStream, snapshot.clipboard, snapshot.sources) &&
           DescribeSound(clipboardSound, snapshot.clipboardSound, snapshot.sources);
}

bool WriteCheckpoint() {
    journal::Snapshot snapshot;
    return Picture(snapshot) && journalWriter.Checkpoint(snapshot);
}

// Keeps the journal in step with a change that was made: the edit when it can be replayed, else
// a whole picture. A failed write is told once; the next write is then a whole picture.
void Journal(const std::optional<journal::Step>& step, Outcome& outcome) {
    if (replaying || !journalWriter.IsOpen()) return;
    const bool appended = step && !journalStale && journalWriter.ReplayCost() < kLargestReplay &&
                          journalWriter.Append(*step);
    journalStale = !appended && !WriteCheckpoint();
    if (journalStale && !journalFailTold) {
        journalFailTold = true;
        outcome.message = kJournalFailed;
        outcome.caption = "Check";
    }
}

journal::Step EditOn(journal::Op op, uint32_t argument = 0) {
    return {op, workspace.rangeStart, workspace.rangeEnd, argument};
}

// Files kept only for Undo stay within the budget: the oldest steps go first (the present
// state's own files are never dropped). Told once.
void KeepWithinBudget(Outcome& outcome) {
    sources.Collect();
    bool dropped = false;
    while (sources.OwnFileBytes() > settings.undoDiskBudget &&
           (!undoSteps.empty() || !redoSteps.empty())) {
        std::deque<State>& steps = undoSteps.empty() ? redoSteps : undoSteps;
        steps.pop_front();
        sources.Collect();
        dropped = true;
    }
    if (dropped && !undoTrimTold) {
        undoTrimTold = true;
        outcome.message = kUndoTrimmed;
        outcome.caption = "Check";
    }
}

// A change was made: it is recorded for Undo and in the journal, then announced. `edit` is the
// change as the journal replays it (none: the journal takes a whole picture).
Outcome Changed(std::optional<State>& before, unsigned changes,
                const std::optional<journal::Step>& edit = std::nullopt) {
    if (changes & (kFramesChanged | kRateChanged)) MarkCurrentChanged();
    Record(std::move(before));
    Outcome outcome = Outcome::Done();
    KeepWithinBudget(outcome);
    Journal(edit, outcome);
    Notify(changes);
    return outcome;
}

// The finished file at `from` becomes the current slot's frames. When it cannot be read the
// slot keeps what it had.
AviError TakeSlotFile(const fs::path& from, LONG frames = -1) {
    StreamRef file = sources.Adopt(from, frames);
    return ReplaceSlotFile(workspace, file.get());
}

// The current slot's sound after a render, as the render's plan says. A plan that does not fit
// the rendered frames is ignored; false when the sound could not be made (the old one stays).
bool TakeRenderedSound(const sound_plan::Plan& plan) {
    int64_t frames = 0;
    for (const sound_plan::Run& run : plan)
        frames += run.count;
    if (frames != AVIStreamLength(workspace.currentStream)) return true;
    std::vector<const sound::Track*> slots;
    for (const sound::Track& track : sounds)
        slots.push_back(&track);
    sound::Track rendered;
    if (!sound::FromPlan(plan, CurrentSound(), slots, rendered, sources)) {
        sources.Collect();
        return false;
    }
    CurrentSound() = std::move(rendered);
    return true;
}

// A render's frames as its plan lays them out: the working stream's own frames where the render
// passed them through, the frames it made from its file. Null when the plan does not fit them.
StreamRef BuildRendered(const frame_plan::Plan& plan, PAVISTREAM made) {
    StreamRef built = CloneOf(nullptr);
    LONG nextMade = 0;
    for (const frame_plan::Run& run : plan) {
        PAVISTREAM from = run.source < 0 ? made : workspace.currentStream;
        const LONG first = run.source < 0 ? nextMade : LONG(run.source);
        LONG position = AVIStreamLength(built.get()), length = 0;
        if (!built || !from ||
            EditStreamPaste(built.get(), &position, &length, from, first, LONG(run.count)) !=
                AVIERR_OK ||
            length != run.count)
            return {};
        if (run.source < 0) nextMade += length;
    }
    AVISTREAMINFOA info = workspace.streamInfo;
    if (!built || EditStreamSetInfoA(built.get(), &info, sizeof info) != AVIERR_OK) return {};
    return built;
}

// The current slot's frames after a render. With a frame plan the file holds only the frames
// the render made (none: there is no file); without one, every frame of the slot.
AviError TakeRenderedFrames(const fs::path& output) {
    const fs::path planPath = frame_plan::PathFor(output);
    std::error_code unknown;
    if (!fs::exists(planPath, unknown)) return TakeSlotFile(output);
    const std::optional<frame_plan::Plan> plan = frame_plan::Read(planPath);
    std::error_code ignored;
    fs::remove(planPath, ignored);
    const int64_t made = plan ? frame_plan::MadeFrames(*plan) : 0;
    StreamRef file;
    if (plan && made > 0 && made <= std::numeric_limits<LONG>::max())
        file = sources.Adopt(output, LONG(made));
    else
        fs::remove(output, ignored);
    StreamRef built;
    if (plan && (made == 0 || file)) built = BuildRendered(*plan, file.get());
    const AviError error = ReplaceSlotFile(workspace, built.get());
    if (!built) sources.Collect(); // the file of a plan that did not fit goes again
    return error;
}

// After an effect replaced the current slot's temporary file and released the slot's stream:
// the slot and the working stream are built again from the file.
Outcome ReloadSlot(std::optional<State>& before) {
    if (!IsSlot(workspace.currentSlot)) return Outcome::Nothing();
    workspace.slotStreams[workspace.currentSlot] = nullptr;
    const fs::path output = TempFilePath(workspace, workspace.currentSlot);
    const std::optional<sound_plan::Plan> plan = sound_plan::Read(sound_plan::PathFor(output));
    std::error_code ignored;
    fs::remove(sound_plan::PathFor(output), ignored);
    const AviError error = TakeRenderedFrames(output);
    if (error != AviError::None) {
        Notify(kFramesChanged);
        return Outcome::Failed(error);
    }
    const bool heard = !plan || TakeRenderedSound(*plan);
    Outcome outcome = Changed(before, kFramesChanged);
    if (!heard && outcome.message.empty()) {
        outcome.message = kSoundNotMade;
        outcome.caption = "Check";
    }
    return outcome;
}

// Undo and Redo: the present state goes onto one list, the state from the other comes back.
Outcome Step(std::deque<State>& from, std::deque<State>& to) {
    if (from.empty()) return Outcome::Nothing();
    std::optional<State> present = Capture();
    if (!present) return Outcome::Failed(kOutOfMemory);
    State back = std::move(from.back());
    from.pop_back();
    Restore(back);
    to.push_back(std::move(*present));
    Outcome outcome = Outcome::Done();
    Journal(std::nullopt, outcome);
    Notify(kSlotsChanged | kClipboardChanged);
    return outcome;
}

// Clears the session's slots and clipboard after a restore that failed part-way.
void Empty() {
    State empty;
    empty.clipboard = CloneOf(nullptr);
    Restore(empty);
    undoSteps.clear();
    redoSteps.clear();
    sources.Collect();
}

// One edit of the journal, made again as it was made.
bool Replay(const journal::Step& step) {
    using journal::Op;
    if (step.op != Op::Switch) SetRange(step.rangeStart, step.rangeEnd);
    switch (step.op) {
    case Op::Cut:
        return Cut().done;
    case Op::Copy:
        return Copy().done;
    case Op::Paste:
        return Paste().done;
    case Op::Reverse:
        return Reverse().done;
    case Op::SetRate:
        return SetRate(step.argument).done;
    case Op::Switch:
        return SwitchSlot(int(step.argument)).done;
    }
    return false;
}

// The state a journal's picture describes, built from the files Reopen opened.
std::optional<State> StateOf(const journal::Snapshot& snapshot) {
    State state;
    for (const journal::SlotImage& slot : snapshot.slots) {
        state.slots.push_back(sources.Build(slot.stream));
        if (!state.slots.back() || AVIStreamLength(state.slots.back().get()) <= 0)
            return std::nullopt;
        state.names.push_back(slot.name);
        state.names.back().back() = '\0';
        state.unsaved.push_back(slot.unsaved);
        state.sounds.emplace_back();
        if (!BuildSound(slot.sound, state.sounds.back())) return std::nullopt;
    }
    state.clipboard = sources.Build(snapshot.clipboard);
    if (!state.clipboard || !BuildSound(snapshot.clipboardSound, state.clipboardSound))
        return std::nullopt;
    const int count = int(snapshot.slots.size());
    state.currentSlot = count == 0 ? 0 : std::clamp(snapshot.currentSlot, 0, count - 1);
    state.rangeStart = snapshot.rangeStart;
    state.rangeEnd = snapshot.rangeEnd;
    return state;
}

} // namespace

void SetObserver(Observer newObserver) {
    observer = std::move(newObserver);
}

Outcome Start(const StartOptions& options) {
    workspace = EditWorkspace{};
    openedPath.clear();
    saveName.clear();
    settings = options;
    undoTrimTold = journalFailTold = journalStale = false;
    std::error_code error;
    const fs::path base = fs::absolute(options.tempBase, error);
    folder = error ? instance::Folder() : instance::Folder::Create(base);
    if (!folder) return Outcome::Failed(kNoTempDir);
    if (!NameTempDir(folder.path())) {
        folder.Remove();
        return Outcome::Failed(kTempDirTooLong);
    }
    workspace.frameFormat =
        static_cast<BITMAPINFOHEADER*>(std::calloc(1, sizeof(BITMAPINFOHEADER)));
    if (!workspace.frameFormat) {
        folder.Remove();
        return Outcome::Failed(kOutOfMemory);
    }
    instance::ClearStrayFiles(base);
    // What a dead instance left is offered for restoring first; the rest goes now.
    const std::vector<fs::path> offered = RecoverableWork(base);
    for (const fs::path& dead : instance::DeadFolders(base))
        if (std::find(offered.begin(), offered.end(), dead) == offered.end())
            instance::RemoveDeadFolder(dead);
    sources.Start(folder.path());
    if (options.journal) journalWriter.Open(folder.path());
    // The clipboard exists from start-up on, with or without an open stream.
    ReplaceClipboard(CloneOf(nullptr).release());
    return Outcome::Done();
}

void End() {
    unsaved.clear();
    sounds.clear();
    clipboardSound = {};
    undoSteps.clear();
    redoSteps.clear();
    for (int i = 0; i < workspace.slotCount; ++i)
        ReplaceSlotStream(i, nullptr);
    ReplaceCurrentStream(nullptr);
    ReplaceClipboard(nullptr);
    std::free(workspace.frameFormat);
    workspace.frameFormat = nullptr;
    FreeFrameBuffers();
    journalWriter.Remove();
    sources.Clear();
    folder.Remove();
    workspace = EditWorkspace{};
    openedPath.clear();
    saveName.clear();
}

std::vector<fs::path> RecoverableWork(const fs::path& tempBase) {
    std::vector<fs::path> found;
    std::error_code error;
    const fs::path base = fs::absolute(tempBase, error);
    if (error) return found;
    for (const fs::path& dead : instance::DeadFolders(base)) {
        const std::optional<journal::Contents> contents = journal::Read(dead);
        if (contents &&
            (!contents->snapshot.slots.empty() || !contents->snapshot.clipboard.pieces.empty()))
            found.push_back(dead);
    }
    return found;
}

Outcome Recover(const fs::path& deadFolder) {
    instance::Folder dead = instance::Folder::Adopt(deadFolder);
    const std::optional<journal::Contents> contents =
        dead ? journal::Read(dead.path()) : std::nullopt;
    if (!contents) return Outcome::Failed(kNotRecovered);
    const bool reopened =
        sources.Reopen(contents->snapshot.sources, dead.path(), [](const std::string& path) {
            AviError ignored = AviError::None;
            return OpenUserFile(path, ignored);
        });
    std::optional<State> state = reopened ? StateOf(contents->snapshot) : std::nullopt;
    bool restored = false;
    if (state) {
        Restore(*state);
        restored = workspace.slotCount == 0 || workspace.currentStream;
        replaying = true;
        for (size_t i = 0; restored && i < contents->steps.size(); ++i)
            restored = Replay(contents->steps[i]);
        replaying = false;
    }
    if (!restored) {
        Empty();
        Notify(kSlotsChanged | kClipboardChanged);
        return Outcome::Failed(kNotRecovered);
    }
    dead.Remove();
    Outcome outcome = Outcome::Done();
    Journal(std::nullopt, outcome);
    Notify(kSlotsChanged | kClipboardChanged);
    return outcome;
}

void DiscardWork(const fs::path& deadFolder) {
    instance::RemoveDeadFolder(deadFolder);
}

void ReadFrame(PAVISTREAM stream, LONG n, uint8_t* buffer) {
    if (stream && buffer) ::ReadFrame(stream, n, buffer, FrameBytes());
}

bool HasSlots() {
    return workspace.slotCount > 0;
}

SlotSound SoundOf(int slot) {
    if (!IsSlot(slot) || size_t(slot) >= sounds.size() || !sounds[size_t(slot)].Present())
        return {};
    const sound::Track& track = sounds[size_t(slot)];
    AVISTREAMINFOA info{};
    AVIStreamInfoA(workspace.slotStreams[slot], &info, sizeof info);
    return {track.stream.get(), sound::PlayingFormat(track, info)};
}

int64_t FirstSampleOfFrame(int slot, LONG frame) {
    if (!IsSlot(slot) || size_t(slot) >= sounds.size()) return 0;
    return sounds[size_t(slot)].FirstSample(frame);
}

Outcome CheckRoomForSlot() {
    if (workspace.slotCount < kMaxSlots) return Outcome::Done();
    return Outcome::Failed(kTooManySlots, "Check");
}

Outcome OpenVideo(const char* path) {
    if (Outcome room = CheckRoomForSlot(); !room.done) return room;
    TakeOpenPath(path);
    AviError error = AviError::None;
    StreamRef view = OpenUserFile(path, error);
    if (error != AviError::None) return Outcome::Failed(error);
    StreamRef stream = view ? CloneOf(view.get()) : StreamRef();
    AVISTREAMINFOA info{};
    if (!stream || AVIStreamInfoA(stream.get(), &info, sizeof info) != AVIERR_OK)
        return Outcome::Failed(kStreamUnreadable);
    sound::Track track;
    StreamRef soundFile;
    const sound::Opened heard = sound::OpenTrack(path, info, track, soundFile);
    sources.AddUserFile(view.get(), path);
    if (soundFile) sources.AddUserFile(soundFile.get(), path, true);
    std::optional<State> before = Capture();
    if (Outcome appended = AppendSlot(std::move(stream), std::move(track)); !appended.done)
        return appended;
    Outcome outcome = Changed(before, kSlotsChanged);
    if (heard == sound::Opened::Unreadable && outcome.message.empty()) {
        outcome.message = kSoundUnreadable;
        outcome.caption = "Check";
    }
    return outcome;
}

Outcome OpenBitmap(const char* path) {
    if (Outcome room = CheckRoomForSlot(); !room.done) return room;
    TakeOpenPath(path);
    bitmap::Frame frame;
    if (Outcome loaded = LoadChosenBitmap(frame); !loaded.done) return loaded;
    const fs::path scratch = TempFilePath(workspace, kScratchOutput);
    StreamRef written = WriteFrameFile(scratch, BitmapStreamInfo(frame.format), frame)
                            ? sources.Adopt(scratch, 1)
                            : StreamRef();
    StreamRef stream = written ? CloneOf(written.get()) : StreamRef();
    written.reset();
    if (!stream) {
        sources.Collect();
        return Outcome::Failed(kTempSaveFailed);
    }
    std::optional<State> before = Capture();
    if (Outcome appended = AppendSlot(std::move(stream)); !appended.done) {
        sources.Collect();
        return appended;
    }
    return Changed(before, kSlotsChanged);
}

Outcome AddBitmap(const char* path) {
    if (!HasSlots()) return Outcome::Nothing();
    TakeOpenPath(path);
    bitmap::Frame frame;
    if (Outcome loaded = LoadChosenBitmap(frame); !loaded.done) return loaded;
    if (const char* difference = FormatDifference(frame.format, *workspace.frameFormat))
        return Outcome::Failed(difference, "Check");

    std::optional<State> before = Capture();
    StreamRef edited;
    if (Outcome inserted = InsertFrame(frame, edited); !inserted.done) return inserted;
    // The new frame lasts its time in silence.
    sound::Track track;
    if (!CurrentSound().CloneInto(track) ||
        !sound::Insert(track, workspace.streamInfo, AVIStreamLength(workspace.currentStream),
                       workspace.rangeStart, sound::Track(), 1, sources)) {
        sources.Collect();
        return Outcome::Failed(kInsertFailed);
    }
    // Flattened into a file of its own, the slot no longer depends on the files it was cut from.
    AviError error = AviError::None;
    AVISTREAMINFOA info{};
    AVIStreamInfoA(edited.get(), &info, sizeof info);
    const fs::path flat = TempFilePath(workspace, kScratchFlatten);
    const LONG frames = AVIStreamLength(edited.get());
    StreamRef written =
        WriteStreamFile(flat, edited.get(), frames, info, *workspace.frameFormat, error);
    written.reset();
    if (error != AviError::None || TakeSlotFile(flat, frames) != AviError::None) {
        RemoveTempFile(workspace, kScratchFlatten);
        sources.Collect();
        return Outcome::Failed(kTempSaveFailed);
    }
    CurrentSound() = std::move(track);
    MarkCurrentChanged();
    return Changed(before, kSlotsChanged);
}

Outcome CloseSlot(int slot) {
    if (!IsSlot(slot)) return Outcome::Nothing();
    std::optional<State> before = Capture();
    if (workspace.slotCount == 1) {
        RemoveSlot(0);
        ReplaceCurrentStream(nullptr);
        FreeFrameBuffers();
        workspace.currentSlot = 0;
    } else {
        // The first slot that stays becomes current; it must be ready before anything closes.
        if (Outcome activated = ActivateSlot(slot == 0 ? 1 : 0); !activated.done) return activated;
        RemoveSlot(slot);
        workspace.currentSlot = 0;
    }
    return Changed(before, kSlotsChanged);
}

Outcome SwitchSlot(int slot) {
    Outcome activated = ActivateSlot(slot);
    if (!activated.done) return activated;
    Journal(EditOn(journal::Op::Switch, uint32_t(slot)), activated);
    Notify(kSlotsChanged);
    return activated;
}

void SetRange(int32_t start, int32_t end) {
    workspace.rangeStart = start;
    workspace.rangeEnd = end;
}

Outcome Cut() {
    const journal::Step edit = EditOn(journal::Op::Cut);
    std::optional<State> before = Capture();
    StreamRef edited = CloneOf(workspace.currentStream);
    if (!edited) return Outcome::Failed(kCutFailed);
    LONG start = workspace.rangeStart, length = workspace.rangeEnd - workspace.rangeStart;
    StreamRef taken;
    sound::Track track, takenSound;
    if (EditStreamCut(edited.get(), &start, &length, taken.out()) != AVIERR_OK ||
        !CurrentSound().CloneInto(track) || !sound::Take(track, start, length, true, takenSound) ||
        !Commit(std::move(edited)))
        return Outcome::Failed(kCutFailed);
    CurrentSound() = std::move(track);
    clipboardSound = std::move(takenSound);
    ReplaceClipboard(taken.release());
    workspace.rangeEnd = workspace.rangeStart + 1;
    return Changed(before, kFramesChanged | kClipboardChanged, edit);
}

Outcome Copy() {
    LONG start = workspace.rangeStart, length = workspace.rangeEnd - workspace.rangeStart;
    StreamRef copied;
    AVISTREAMINFOA info{};
    sound::Track copiedSound;
    if (EditStreamCopy(workspace.currentStream, &start, &length, copied.out()) != AVIERR_OK ||
        AVIStreamInfoA(workspace.currentStream, &info, sizeof info) != AVIERR_OK ||
        !sound::Take(CurrentSound(), start, length, false, copiedSound))
        return Outcome::Failed(kCopyFailed);
    clipboardSound = std::move(copiedSound);
    ReplaceClipboard(copied.release());
    workspace.streamInfo = info;
    sources.Collect();
    Outcome outcome = Outcome::Done();
    Journal(EditOn(journal::Op::Copy), outcome);
    Notify(kRangeChanged | kClipboardChanged);
    return outcome;
}

Outcome Paste() {
    const journal::Step edit = EditOn(journal::Op::Paste);
    std::optional<State> before = Capture();
    StreamRef edited = CloneOf(workspace.currentStream);
    if (!edited) return Outcome::Failed(kPasteFailed);
    const LONG frames = AVIStreamLength(edited.get());
    LONG position = workspace.rangeStart, inserted = AVIStreamLength(clipboardStream);
    sound::Track track;
    if (EditStreamPaste(edited.get(), &position, &inserted, clipboardStream, 0, inserted) !=
            AVIERR_OK ||
        !CurrentSound().CloneInto(track) ||
        !sound::Insert(track, workspace.streamInfo, frames, position, clipboardSound, inserted,
                       sources) ||
        !Commit(std::move(edited))) {
        sources.Collect();
        return Outcome::Failed(kPasteFailed + PasteRefusalCause());
    }
    CurrentSound() = std::move(track);
    workspace.rangeStart = position;
    workspace.rangeEnd = position + inserted;
    return Changed(before, kFramesChanged, edit);
}

Outcome Reverse() {
    std::optional<State> before = Capture();
    StreamRef edited = CloneOf(workspace.currentStream);
    sound::Track track;
    if (!edited || !ReverseFrames(edited.get(), workspace.rangeStart, workspace.rangeEnd) ||
        !CurrentSound().CloneInto(track) ||
        !sound::Reverse(track, workspace.rangeStart, workspace.rangeEnd, sources) ||
        !Commit(std::move(edited))) {
        sources.Collect();
        return Outcome::Failed(kReverseFailed);
    }
    CurrentSound() = std::move(track);
    return Changed(before, kFramesChanged, EditOn(journal::Op::Reverse));
}

Outcome SetRate(DWORD rate) {
    if (!IsSlot(workspace.currentSlot)) return Outcome::Nothing();
    std::optional<State> before = Capture();
    AVISTREAMINFOA info = workspace.streamInfo;
    info.dwRate = rate;
    info.dwScale = 1;
    if (EditStreamSetInfoA(workspace.currentStream, &info, sizeof info) != AVIERR_OK ||
        EditStreamSetInfoA(workspace.slotStreams[workspace.currentSlot], &info, sizeof info) !=
            AVIERR_OK)
        return Outcome::Failed(kRateNotSet);
    workspace.streamInfo = info;
    return Changed(before, kRateChanged, EditOn(journal::Op::SetRate, rate));
}

Outcome ReloadAfterEffect() {
    std::optional<State> unknown; // what was there before is gone with the released stream
    return ReloadSlot(unknown);
}

Outcome ApplyEffect(const std::function<bool(EditWorkspace* record)>& run) {
    std::optional<State> before = Capture();
    if (!run(&workspace)) {
        Notify(kFramesChanged);
        return Outcome::Nothing();
    }
    return ReloadSlot(before);
}

bool HasUnsavedChanges(int slot) {
    return IsSlot(slot) && size_t(slot) < unsaved.size() && unsaved[size_t(slot)];
}

bool AnyUnsavedChanges() {
    return std::find(unsaved.begin(), unsaved.end(), true) != unsaved.end();
}

bool CanUndo() {
    return !undoSteps.empty();
}

bool CanRedo() {
    return !redoSteps.empty();
}

Outcome Undo() {
    return Step(undoSteps, redoSteps);
}

Outcome Redo() {
    return Step(redoSteps, undoSteps);
}

void RememberSaveName(const char* path) {
    saveName = fs::path(path).filename().string();
    FitPath(workspace.savePath, saveName.c_str());
}

const std::string& LastOpenedPath() {
    return openedPath;
}

const std::string& SaveName() {
    return saveName;
}

Outcome Save(const fs::path& target, AVICOMPRESSOPTIONS& options, AVISAVECALLBACK progress,
             const AVICOMPRESSOPTIONS* soundOptions) {
    if (!IsSlot(workspace.currentSlot)) return Outcome::Nothing();
    // Sound is left out only when the user said so.
    AVICOMPRESSOPTIONS soundChoice{};
    soundChoice.fccType = streamtypeAUDIO;
    soundChoice.fccHandler = WAVE_FORMAT_PCM;
    if (soundOptions) soundChoice = *soundOptions;
    StreamRef soundSaved;
    if (soundChoice.fccHandler != AUDIO_LEAVE_OUT) soundSaved = SoundToSave();
    const fs::path written = CreateFileBeside(target);
    if (written.empty()) return Outcome::Failed(kNotSaved);
    AVICOMPRESSOPTIONS* optionList[] = {&options, &soundChoice};
    PAVISTREAM streams[] = {workspace.slotStreams[workspace.currentSlot], soundSaved.get()};
    const HRESULT result =
        AVISaveVA(written.c_str(), nullptr, progress, soundSaved ? 2 : 1, streams, optionList);
    std::error_code error;
    const uint64_t needed = RoomForSave(streams[0], options, written);
    if (result == AVIERR_OK) {
        // The journal must name the link before the old file's name goes.
        Outcome ignored = Outcome::Done();
        if (sources.KeepBeforeReplacing(target)) Journal(std::nullopt, ignored);
        fs::rename(written, target, error);
    }
    if (result != AVIERR_OK || error) {
        std::error_code ignored;
        fs::remove(written, ignored);
    }
    if (result == AVIERR_USERABORT) return Outcome::Nothing();
    if (result != AVIERR_OK || error)
        return Outcome::Failed(kNotSaved + DiskFullCause(target.parent_path(), needed));
    if (size_t(workspace.currentSlot) < unsaved.size())
        unsaved[size_t(workspace.currentSlot)] = false;
    Outcome outcome{true, kSaved, "Check"};
    Journal(std::nullopt, outcome); // the slot is saved now, and a file it reads may be a link
    return outcome;
}

} // namespace session
