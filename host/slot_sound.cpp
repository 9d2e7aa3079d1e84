#include "slot_sound.h"

#include "avi_io.h"
#include "slot_sources.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace sound {

namespace {

// Sound is read and written this many samples at a time: a few hundred kilobytes.
constexpr LONG kChunkSamples = 1 << 16;

bool SameFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return a.nChannels == b.nChannels && a.nSamplesPerSec == b.nSamplesPerSec &&
           a.wBitsPerSample == b.wBitsPerSample && a.nBlockAlign == b.nBlockAlign;
}

int64_t LengthOf(PAVISTREAM stream) {
    return stream ? std::max<LONG>(AVIStreamLength(stream), 0) : 0;
}

void RemoveFile(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

// Reads samples [start, start + count) of stream into out (count * nBlockAlign bytes).
bool ReadSamples(PAVISTREAM stream, const WAVEFORMATEX& format, int64_t start, LONG count,
                 uint8_t* out) {
    LONG done = 0;
    while (done < count) {
        LONG bytes = 0, read = 0;
        const LONG room = (count - done) * format.nBlockAlign;
        if (AVIStreamRead(stream, LONG(start + done), count - done, out + done * format.nBlockAlign,
                          room, &bytes, &read) != AVIERR_OK ||
            read <= 0)
            return false;
        done += read;
    }
    return true;
}

// A new PCM file at path of `samples` samples, each chunk filled by fill(first, count, bytes).
// False (and no file) when it cannot be written.
template <typename Fill>
bool WriteSoundFile(const fs::path& path, const WAVEFORMATEX& format, int64_t samples,
                    Fill&& fill) {
    FileRef file;
    StreamRef out;
    AVISTREAMINFOA info{};
    info.fccType = streamtypeAUDIO;
    info.dwScale = format.nBlockAlign;
    info.dwRate = format.nAvgBytesPerSec;
    info.dwSampleSize = format.nBlockAlign;
    WAVEFORMATEX stored = format;
    bool written =
        AVIFileOpenA(file.out(), path.c_str(), OF_WRITE | OF_CREATE, nullptr) == AVIERR_OK &&
        AVIFileCreateStreamA(file.get(), out.out(), &info) == AVIERR_OK &&
        AVIStreamSetFormat(out.get(), 0, &stored, sizeof stored) == AVIERR_OK;
    std::vector<uint8_t> chunk(size_t(kChunkSamples) * format.nBlockAlign);
    for (int64_t at = 0; written && at < samples; at += kChunkSamples) {
        const LONG count = LONG(std::min<int64_t>(kChunkSamples, samples - at));
        const LONG bytes = count * format.nBlockAlign;
        written = fill(at, count, chunk.data()) &&
                  AVIStreamWrite(out.get(), LONG(at), count, chunk.data(), bytes, 0, nullptr,
                                 nullptr) == AVIERR_OK;
    }
    out.reset();
    file.reset(); // the last reference: the file is finished
    if (!written) RemoveFile(path);
    return written;
}

// An editable stream over a new file of the session's own holding what fill writes; null when
// it cannot be made.
template <typename Fill>
StreamRef KeptSound(SlotSources& files, const WAVEFORMATEX& format, int64_t samples, Fill&& fill) {
    if (samples == 0) return CloneOf(nullptr);
    const fs::path scratch = files.ScratchPath();
    if (!WriteSoundFile(scratch, format, samples, fill)) return {};
    StreamRef file = files.AdoptSound(scratch);
    return file ? CloneOf(file.get()) : StreamRef();
}

StreamRef Silence(SlotSources& files, const WAVEFORMATEX& format, int64_t samples) {
    return KeptSound(files, format, samples, [](int64_t, LONG count, uint8_t* out) {
        std::fill_n(out, size_t(count), uint8_t{0});
        return true;
    });
}

// material's sound in the track's format, as a stream of its own.
StreamRef Converted(const Track& material, const WAVEFORMATEX& format, SlotSources& files) {
    const int64_t samples = material.Samples();
    if (samples == 0) return CloneOf(nullptr);
    const fs::path scratch = files.ScratchPath();
    LONG written = 0;
    WAVEFORMATEX target = format;
    if (AVIConvertAudioToFileA(scratch.c_str(), material.stream.get(), 0, LONG(samples), &target,
                               &written) != AVIERR_OK) {
        RemoveFile(scratch);
        return {};
    }
    StreamRef file = files.AdoptSound(scratch);
    return file ? CloneOf(file.get()) : StreamRef();
}

// The samples a slot's frames last at video's rate, in sound of `format`.
void TimeFramesOf(Track& track, const AVISTREAMINFOA& video, const WAVEFORMATEX& format) {
    track.format = format;
    track.perFrameNum = int64_t(format.nSamplesPerSec) * std::max<DWORD>(video.dwScale, 1);
    track.perFrameDen = std::max<DWORD>(video.dwRate, 1);
}

} // namespace

int64_t Track::Samples() const {
    return LengthOf(stream.get());
}

int64_t Track::FirstSample(int64_t frame) const {
    if (perFrameNum <= 0 || perFrameDen <= 0 || frame <= 0) return 0;
    // 128-bit: hours of frames times a sample rate times a scale do not fit 64 bits safely.
    const auto sample =
        static_cast<int64_t>(static_cast<__int128>(frame) * perFrameNum / perFrameDen);
    return std::min(sample, Samples());
}

bool Track::CloneInto(Track& copy) const {
    copy.format = format;
    copy.perFrameNum = perFrameNum;
    copy.perFrameDen = perFrameDen;
    copy.stream.reset();
    if (!stream) return true;
    copy.stream = CloneOf(stream.get());
    return bool(copy.stream);
}

Opened OpenTrack(const std::string& path, const AVISTREAMINFOA& video, Track& track,
                 StreamRef& file) {
    track = Track();
    const HRESULT opened = AVIStreamOpenFromFileA(file.out(), path.c_str(), streamtypeAUDIO, 0,
                                                  OF_READ | OF_SHARE_DENY_NONE, nullptr);
    if (opened == AVIERR_NODATA) return Opened::NoSound;
    WAVEFORMATEX format{};
    LONG size = sizeof format;
    if (opened != AVIERR_OK || AVIStreamReadFormat(file.get(), 0, &format, &size) != AVIERR_OK ||
        size < LONG(sizeof format) || format.nBlockAlign == 0 || format.nSamplesPerSec == 0) {
        file.reset();
        return Opened::Unreadable;
    }
    track.stream = CloneOf(file.get());
    if (!track.stream) {
        file.reset();
        return Opened::Unreadable;
    }
    TimeFramesOf(track, video, format);
    return Opened::Sound;
}

bool Take(Track& track, int64_t first, int64_t count, bool remove, Track& taken) {
    taken = Track();
    if (!track.Present()) return true;
    const int64_t from = track.FirstSample(first);
    LONG start = LONG(from), length = LONG(track.FirstSample(first + count) - from);
    StreamRef edited = CloneOf(track.stream.get());
    if (!edited) return false;
    if (length == 0) {
        taken.stream = CloneOf(nullptr);
    } else if ((remove ? EditStreamCut(edited.get(), &start, &length, taken.stream.out())
                       : EditStreamCopy(edited.get(), &start, &length, taken.stream.out())) !=
               AVIERR_OK) {
        return false;
    }
    if (!taken.stream) return false;
    taken.format = track.format;
    taken.perFrameNum = track.perFrameNum;
    taken.perFrameDen = track.perFrameDen;
    if (remove) track.stream = std::move(edited);
    return true;
}

bool Insert(Track& track, const AVISTREAMINFOA& video, int64_t frames, int64_t position,
            const Track& material, int64_t count, SlotSources& files) {
    if (!track.Present() && !material.Present()) return true;
    Track edited;
    if (track.Present()) {
        if (!track.CloneInto(edited)) return false;
    } else {
        TimeFramesOf(edited, video, material.format);
        edited.stream = Silence(files, edited.format, edited.FirstSample(frames));
        if (!edited.stream) return false;
    }
    StreamRef inserted;
    if (!material.Present())
        inserted = Silence(files, edited.format,
                           edited.FirstSample(position + count) - edited.FirstSample(position));
    else if (SameFormat(material.format, edited.format))
        inserted = CloneOf(material.stream.get());
    else
        inserted = Converted(material, edited.format, files);
    if (!inserted) return false;
    const LONG available = AVIStreamLength(inserted.get());
    if (available > 0) {
        LONG at = LONG(edited.FirstSample(position)), length = available;
        if (EditStreamPaste(edited.stream.get(), &at, &length, inserted.get(), 0, available) !=
            AVIERR_OK)
            return false;
    }
    track = std::move(edited);
    return true;
}

bool Reverse(Track& track, int64_t first, int64_t last, SlotSources& files) {
    if (!track.Present()) return true;
    const int64_t from = track.FirstSample(first);
    const int64_t to = track.FirstSample(last + 1);
    if (to - from < 2) return true;
    const WAVEFORMATEX& format = track.format;
    const size_t block = format.nBlockAlign;
    // Chunk c of the reversed samples is the chunk that ends c chunks before the range's end,
    // each sample (all its channels together) in reverse order.
    StreamRef backwards =
        KeptSound(files, format, to - from, [&](int64_t at, LONG count, uint8_t* out) {
            if (!ReadSamples(track.stream.get(), format, to - at - count, count, out)) return false;
            for (LONG i = 0, j = count - 1; i < j; ++i, --j)
                std::swap_ranges(out + size_t(i) * block, out + size_t(i + 1) * block,
                                 out + size_t(j) * block);
            return true;
        });
    if (!backwards) return false;
    StreamRef edited = CloneOf(track.stream.get());
    StreamRef removed;
    LONG start = LONG(from), length = LONG(to - from);
    LONG at = LONG(from), inserted = length;
    if (!edited || EditStreamCut(edited.get(), &start, &length, removed.out()) != AVIERR_OK ||
        EditStreamPaste(edited.get(), &at, &inserted, backwards.get(), 0, inserted) != AVIERR_OK)
        return false;
    track.stream = std::move(edited);
    return true;
}

WAVEFORMATEX PlayingFormat(const Track& track, const AVISTREAMINFOA& video) {
    WAVEFORMATEX format = track.format;
    if (track.perFrameDen <= 0 || video.dwScale == 0) return format;
    const long double rate = static_cast<long double>(track.perFrameNum) * video.dwRate /
                             (static_cast<long double>(track.perFrameDen) * video.dwScale);
    const auto playing = static_cast<DWORD>(std::llround(rate));
    if (playing == 0 || playing == format.nSamplesPerSec) return format;
    format.nSamplesPerSec = playing;
    format.nAvgBytesPerSec = playing * format.nBlockAlign;
    return format;
}

} // namespace sound
