// The files the slots' frames come from: files the user opened, and the session's own files
// (renders, bitmaps) kept under names of their own in the instance's folder. Every slot, the
// clipboard and every undo step are editable streams made of pieces of these files; a file is
// closed (and a file of the session's own deleted) as soon as no stream uses it any more.
#pragma once

#include "avi_ref.h"
#include "journal.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

class SlotSources {
  public:
    // The session's own files go into folder.
    void Start(const std::filesystem::path& folder);
    // Closes every file and deletes the session's own.
    void Clear();

    // A file the user opened, as the stream its pieces are taken from: its frames, or its sound.
    void AddUserFile(PAVISTREAM stream, const std::string& path, bool sound = false);
    // Moves the finished file at `from` into the folder under a name of its own and opens it.
    // Null (and the file removed) when it cannot be read or does not hold `frames` frames
    // (any number when -1).
    StreamRef Adopt(const std::filesystem::path& from, LONG frames = -1);
    // The same for a file of sound alone.
    StreamRef AdoptSound(const std::filesystem::path& from);
    // Where the session writes a file before adopting it.
    std::filesystem::path ScratchPath() const { return folder_ / "scratch.avi"; }

    // Before the file at path is replaced (a save over it): a file the user opened there is
    // kept, for the journal too, as a link of the session's own to the old file. True when one
    // was.
    bool KeepBeforeReplacing(const std::filesystem::path& path);

    // Stream as pieces of the files; the files it uses are added to `used` once each. False
    // when a piece comes from a stream that is none of these files.
    bool Describe(PAVISTREAM stream, journal::StreamImage& image,
                  std::vector<journal::SourceImage>& used) const;

    // Opens the files of a journal again: a file the user opened through openUserFile, a file of
    // the session's own through a link here to it in `folder`. False when any cannot be opened as
    // it was; the files opened so far are then closed again.
    using UserFileOpener = std::function<StreamRef(const std::string& path)>;
    bool Reopen(const std::vector<journal::SourceImage>& images,
                const std::filesystem::path& folder, const UserFileOpener& openUserFile);
    // The stream a journal's image describes, built from the files Reopen opened; null when it
    // cannot be built.
    StreamRef Build(const journal::StreamImage& image) const;

    // Closes the files no stream uses any more and deletes the session's own among them.
    void Collect();
    // Bytes in the session's own files.
    uint64_t OwnFileBytes() const;

  private:
    struct Source {
        uint32_t id;
        StreamRef stream;
        std::filesystem::path path;
        bool temporary; // in the folder: deleted when no longer used
        bool decoded;   // a file the user opened, read through the decoding view
        bool sound;     // the file's sound, not its frames
        uint64_t bytes;
    };
    const Source* Find(PAVISTREAM stream) const;
    const Source* FindId(uint32_t id) const;
    uint32_t Register(StreamRef stream, const std::filesystem::path& path, bool temporary,
                      bool decoded, bool sound);
    StreamRef Keep(const std::filesystem::path& from, bool sound, LONG frames);
    std::filesystem::path NewName();

    std::filesystem::path folder_;
    std::vector<Source> sources_;
    uint32_t nextId_ = 1;
    uint64_t nextName_ = 1;
};
