#include "slot_sources.h"

#include "avi_io.h"

#include <algorithm>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The references held on stream, ours included.
LONG ReferencesOn(PAVISTREAM stream) {
    const LONG count = AVIStreamAddRef(stream);
    AVIStreamRelease(stream);
    return count - 1;
}

void RemoveFile(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

uint64_t SizeOf(const fs::path& path) {
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    return error ? 0 : uint64_t(size);
}

// Pieces of an editable stream, all of them.
std::vector<EDITSTREAMPIECE> PiecesOf(PAVISTREAM stream) {
    std::vector<EDITSTREAMPIECE> pieces;
    LONG count = EditStreamGetPieces(stream, nullptr, 0);
    while (count > LONG(pieces.size())) {
        pieces.resize(size_t(count));
        count = EditStreamGetPieces(stream, pieces.data(), count);
    }
    pieces.resize(size_t(std::max<LONG>(count, 0)));
    return pieces;
}

StreamRef OpenSound(const fs::path& path) {
    StreamRef stream;
    if (AVIStreamOpenFromFileA(stream.out(), path.c_str(), streamtypeAUDIO, 0,
                               OF_READ | OF_SHARE_DENY_NONE, nullptr) != AVIERR_OK)
        return {};
    return stream;
}

} // namespace

void SlotSources::Start(const fs::path& folder) {
    Clear();
    folder_ = folder;
}

void SlotSources::Clear() {
    for (Source& source : sources_) {
        source.stream.reset();
        if (source.temporary) RemoveFile(source.path);
    }
    sources_.clear();
}

void SlotSources::AddUserFile(PAVISTREAM stream, const std::string& path, bool sound) {
    AVIStreamAddRef(stream);
    Register(StreamRef(stream), path, false, !sound, sound);
}

fs::path SlotSources::NewName() {
    return folder_ / ("f" + std::to_string(nextName_++) + ".avi");
}

bool SlotSources::KeepBeforeReplacing(const fs::path& path) {
    bool kept = false;
    for (Source& source : sources_) {
        std::error_code error;
        if (source.temporary || !fs::equivalent(source.path, path, error)) continue;
        const fs::path link = NewName();
        fs::create_hard_link(path, link, error);
        if (error) continue; // another file system: the journal keeps naming the path
        source.path = link;
        source.temporary = true;
        source.bytes = SizeOf(link);
        kept = true;
    }
    return kept;
}

StreamRef SlotSources::Adopt(const fs::path& from, LONG frames) {
    return Keep(from, false, frames);
}

StreamRef SlotSources::AdoptSound(const fs::path& from) {
    return Keep(from, true, -1);
}

StreamRef SlotSources::Keep(const fs::path& from, bool sound, LONG frames) {
    const fs::path kept = NewName();
    std::error_code renamed;
    fs::rename(from, kept, renamed);
    StreamRef stream;
    if (!renamed) stream = sound ? OpenSound(kept) : OpenChecked(kept, frames);
    if (!stream) {
        RemoveFile(renamed ? from : kept);
        return {};
    }
    AVIStreamAddRef(stream.get());
    Register(StreamRef(stream.get()), kept, true, false, sound);
    return stream;
}

uint32_t SlotSources::Register(StreamRef stream, const fs::path& path, bool temporary, bool decoded,
                               bool sound) {
    const uint32_t id = nextId_++;
    const uint64_t bytes = temporary ? SizeOf(path) : 0;
    sources_.push_back({id, std::move(stream), path, temporary, decoded, sound, bytes});
    return id;
}

const SlotSources::Source* SlotSources::Find(PAVISTREAM stream) const {
    for (const Source& source : sources_)
        if (source.stream.get() == stream) return &source;
    return nullptr;
}

const SlotSources::Source* SlotSources::FindId(uint32_t id) const {
    for (const Source& source : sources_)
        if (source.id == id) return &source;
    return nullptr;
}

bool SlotSources::Describe(PAVISTREAM stream, journal::StreamImage& image,
                           std::vector<journal::SourceImage>& used) const {
    image = {};
    if (!stream || AVIStreamInfoA(stream, &image.info, sizeof image.info) != AVIERR_OK)
        return false;
    for (const EDITSTREAMPIECE& piece : PiecesOf(stream)) {
        const Source* source = Find(piece.source);
        if (!source) return false;
        image.pieces.push_back({source->id, piece.first, piece.count});
        const bool listed = std::any_of(used.begin(), used.end(),
                                        [&](const auto& s) { return s.id == source->id; });
        if (!listed)
            used.push_back({source->id, source->temporary, source->decoded, source->sound,
                            AVIStreamLength(source->stream.get()), source->path.string()});
    }
    return true;
}

bool SlotSources::Reopen(const std::vector<journal::SourceImage>& images, const fs::path& folder,
                         const UserFileOpener& openUserFile) {
    std::vector<Source> opened;
    for (const journal::SourceImage& image : images) {
        fs::path path = image.path;
        std::error_code linked;
        if (image.temporary) {
            // A link, so that a restore that fails leaves the dead instance's folder whole; only
            // a plain name inside that folder is taken from there.
            path = NewName();
            fs::create_hard_link(folder / fs::path(image.path).filename(), path, linked);
        }
        StreamRef stream;
        if (!linked && image.sound)
            stream = OpenSound(path);
        else if (!linked)
            stream = image.decoded ? openUserFile(path.string()) : OpenChecked(path);
        if (stream && AVIStreamLength(stream.get()) != image.frames) stream.reset();
        if (!stream) {
            if (image.temporary && !linked) RemoveFile(path);
            for (Source& source : opened)
                if (source.temporary) RemoveFile(source.path);
            return false;
        }
        opened.push_back({image.id, std::move(stream), path, image.temporary, image.decoded,
                          image.sound, image.temporary ? SizeOf(path) : 0});
    }
    // The journal's ids stay the ids of these files; new files get ids after them.
    for (Source& source : opened) {
        nextId_ = std::max(nextId_, source.id + 1);
        sources_.push_back(std::move(source));
    }
    return true;
}

StreamRef SlotSources::Build(const journal::StreamImage& image) const {
    StreamRef stream = CloneOf(nullptr);
    if (!stream) return {};
    for (const journal::Piece& piece : image.pieces) {
        const Source* source = FindId(piece.source);
        LONG position = AVIStreamLength(stream.get()), length = 0;
        if (!source ||
            EditStreamPaste(stream.get(), &position, &length, source->stream.get(), piece.first,
                            piece.count) != AVIERR_OK ||
            length != piece.count)
            return {};
    }
    if (!image.pieces.empty()) {
        AVISTREAMINFOA info = image.info;
        if (EditStreamSetInfoA(stream.get(), &info, sizeof info) != AVIERR_OK) return {};
    }
    return stream;
}

void SlotSources::Collect() {
    std::erase_if(sources_, [](Source& source) {
        if (ReferencesOn(source.stream.get()) > 1) return false;
        source.stream.reset();
        if (source.temporary) RemoveFile(source.path);
        return true;
    });
}

uint64_t SlotSources::OwnFileBytes() const {
    uint64_t bytes = 0;
    for (const Source& source : sources_)
        bytes += source.bytes;
    return bytes;
}
