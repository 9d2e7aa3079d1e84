// The crash journal: what the session is made of, kept on disk so that work survives a killed
// process. The file starts with a whole picture of the session (a checkpoint: the files the
// frames come from and each stream's pieces of them) and goes on with the small edits made since,
// each appended before the edit is reported done. A checkpoint replaces the file atomically (a
// new file, synced, renamed over the old one); an edit's record carries a checksum, so a record
// torn by a crash is recognised and ignored together with everything after it.
//
// The records are in the file before the edit returns, which is all a killed process needs. Syncing
// them to the disk (against a power cut) is done on a thread of the journal's own, at most a few
// hundredths of a second later and for a burst of edits at once, so that an edit never waits for
// the disk; a checkpoint is synced before it is renamed.
#pragma once

#include "avifile/avifile.h"
#include "workspace.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace journal {

struct Piece {
    uint32_t source; // an id of Snapshot::sources
    int32_t first;
    int32_t count;
};

struct StreamImage {
    AVISTREAMINFOA info{}; // rate, scale and name are what an edit can change
    std::vector<Piece> pieces;
};

struct SourceImage {
    uint32_t id = 0;
    bool temporary = false; // in the session's own folder, else where the user keeps it
    bool decoded = false;   // read through the view that decodes a file the user opened
    bool sound = false;     // the file's sound, not its frames
    int32_t frames = 0;     // its length (samples for sound), checked when it is opened again
    std::string path;
};

// Sound in samples; frame k's sound starts at sample floor(k * perFrameNum / perFrameDen).
struct SoundImage {
    bool present = false;
    WAVEFORMATEX format{};
    int64_t perFrameNum = 0;
    int64_t perFrameDen = 1;
    StreamImage stream;
};

struct SlotImage {
    StreamImage stream;
    SoundImage sound;
    std::array<char, kPathSize> name{};
    bool unsaved = false;
};

struct Snapshot {
    std::vector<SourceImage> sources;
    std::vector<SlotImage> slots;
    StreamImage clipboard;
    SoundImage clipboardSound;
    int32_t currentSlot = 0;
    int32_t rangeStart = 0;
    int32_t rangeEnd = 1;
};

// An edit made after the checkpoint, replayed on the range it was made on.
enum class Op : uint8_t { Cut = 1, Copy, Paste, Reverse, SetRate, Switch };
struct Step {
    Op op = Op::Cut;
    int32_t rangeStart = 0;
    int32_t rangeEnd = 0;
    uint32_t argument = 0; // the rate for SetRate, the slot for Switch
};

struct Contents {
    Snapshot snapshot;
    std::vector<Step> steps;
};

// The journal's file in a folder.
std::filesystem::path FileIn(const std::filesystem::path& folder);

// What a journal holds, up to its first damaged record; nothing when there is no journal or its
// checkpoint cannot be read.
std::optional<Contents> Read(const std::filesystem::path& folder);

class Writer {
  public:
    Writer() = default;
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // Starts journaling into folder; nothing is written before the first checkpoint.
    void Open(const std::filesystem::path& folder);
    bool IsOpen() const { return !folder_.empty(); }
    // Replaces the journal with this picture of the session. False when it could not be written
    // (the old journal then stays as it was).
    bool Checkpoint(const Snapshot& snapshot);
    // Adds an edit after the last checkpoint. False when it could not be written.
    bool Append(const Step& step);
    // The work a restore would do to replay the edits appended since the last checkpoint, in
    // frames moved (a Reverse moves every frame of its range, other edits count one).
    int64_t ReplayCost() const { return replayCost_; }
    // Stops journaling and deletes the journal (a clean end).
    void Remove();

  private:
    void Close();
    bool MakeRoom(size_t bytes);
    void Unmap();
    void SyncLoop();

    std::filesystem::path folder_;
    int fd_ = -1;
    uint8_t* map_ = nullptr; // the file's first capacity_ bytes
    size_t capacity_ = 0;
    size_t end_ = 0; // where the next edit goes
    int64_t replayCost_ = 0;
    // Made afresh for each journal: nothing of an earlier one (or of the process this one was
    // forked from) can be left in them.
    struct Syncing {
        std::mutex mutex;
        std::condition_variable wake;
        bool dirty = false;
        bool stopping = false;
    };
    std::unique_ptr<Syncing> syncing_;
    std::thread syncer_;
};

} // namespace journal
