#include "slot_sound.h"

#include "avi_io.h"
#include "slot_sources.h"

#include <algorithm>
#include <cmath>
#include <cstring>
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

// A stream over a new file of the session's own that convert(path) writes; null when it fails.
template <typename Convert> StreamRef ConvertedFile(SlotSources& files, Convert&& convert) {
    const fs::path scratch = files.ScratchPath();
    if (convert(scratch.c_str()) != AVIERR_OK) {
        RemoveFile(scratch);
        return {};
    }
    StreamRef file = files.AdoptSound(scratch);
    return file ? CloneOf(file.get()) : StreamRef();
}

// material's sound in the track's format, as a stream of its own.
StreamRef Converted(const Track& material, const WAVEFORMATEX& format, SlotSources& files) {
    const int64_t samples = material.Samples();
    if (samples == 0) return CloneOf(nullptr);
    WAVEFORMATEX target = format;
    LONG written = 0;
    return ConvertedFile(files, [&](const char* path) {
        return AVIConvertAudioToFileA(path, material.stream.get(), 0, LONG(samples), &target,
                                      &written);
    });
}

// material's sound made to last `samples` samples in the track's format: played faster or
// slower, as the frames it goes with are.
StreamRef Stretched(const Track& material, const WAVEFORMATEX& format, int64_t samples,
                    SlotSources& files) {
    const int64_t have = material.Samples();
    if (have == 0 || samples == 0) return Silence(files, format, samples);
    WAVEFORMATEX target = format;
    LONG written = 0;
    return ConvertedFile(files, [&](const char* path) {
        return AVIStretchAudioToFileA(path, material.stream.get(), 0, LONG(have), &target,
                                      LONG(samples), &written);
    });
}

// Whether a frame lasts as long in both tracks' timings.
bool SameFrameTime(const Track& a, const Track& b) {
    using Wide = __int128;
    return Wide(a.perFrameNum) * b.perFrameDen * b.format.nSamplesPerSec ==
           Wide(b.perFrameNum) * a.perFrameDen * a.format.nSamplesPerSec;
}

// The samples a slot's frames last at video's rate, in sound of `format`.
void TimeFramesOf(Track& track, const AVISTREAMINFOA& video, const WAVEFORMATEX& format) {
    track.format = format;
    track.perFrameNum = int64_t(format.nSamplesPerSec) * std::max<DWORD>(video.dwScale, 1);
    track.perFrameDen = std::max<DWORD>(video.dwRate, 1);
}

// F(frame) of the track's timing, whatever length its sound has.
int64_t FrameStart(const Track& track, int64_t frame) {
    if (track.perFrameNum <= 0 || track.perFrameDen <= 0 || frame <= 0) return 0;
    // 128 bits: hours of frames times a sample rate times a scale come near 64.
    return static_cast<int64_t>(static_cast<__int128>(frame) * track.perFrameNum /
                                track.perFrameDen);
}

// Appends `count` samples of stream from `first` on to the end of edited.
bool Append(PAVISTREAM edited, PAVISTREAM stream, int64_t first, int64_t count) {
    if (count <= 0) return true;
    LONG at = AVIStreamLength(edited), length = LONG(count);
    return EditStreamPaste(edited, &at, &length, stream, LONG(first), LONG(count)) == AVIERR_OK &&
           length == count;
}

const Track* SlotTrack(const std::vector<const Track*>& slots, int32_t slot) {
    if (slot < 0 || size_t(slot) >= slots.size() || !slots[size_t(slot)] ||
        !slots[size_t(slot)]->Present())
        return nullptr;
    return slots[size_t(slot)];
}

int16_t Mix(int16_t own, int16_t other, double share) {
    const double mixed = std::round(own * (1.0 - share) + other * share);
    return int16_t(std::clamp(mixed, -32768.0, 32767.0));
}

// The sound of a run's frames, the own frames' samples mixed with the other's frame by frame.
bool MixRun(const sound_plan::Run& run, const Track& own, const Track& other, Track& result,
            SlotSources& files) {
    const int64_t from = own.FirstSample(run.own), to = own.FirstSample(run.own + run.count);
    const size_t channels = own.format.nChannels;
    std::vector<int16_t> mine(size_t(to - from) * channels), theirs(mine.size());
    if (to > from && !ReadSamples(own.stream.get(), own.format, from, LONG(to - from),
                                  reinterpret_cast<uint8_t*>(mine.data())))
        return false;
    for (int64_t j = 0; j < run.count; ++j) {
        const int64_t start = own.FirstSample(run.own + j) - from;
        const int64_t length = own.FirstSample(run.own + j + 1) - from - start;
        const int64_t otherStart = other.FirstSample(run.otherFrame + j);
        const int64_t available = std::min(length, other.Samples() - otherStart);
        int16_t* target = theirs.data() + size_t(start) * channels;
        if (available > 0 && !ReadSamples(other.stream.get(), other.format, otherStart,
                                          LONG(available), reinterpret_cast<uint8_t*>(target)))
            return false;
        const double share = std::clamp(run.share + run.step * double(j), 0.0, 1.0);
        for (size_t k = 0; k < size_t(length) * channels; ++k)
            target[k] = Mix(mine[size_t(start) * channels + k], target[k], share);
    }
    const size_t block = own.format.nBlockAlign;
    StreamRef mixed =
        KeptSound(files, own.format, to - from, [&](int64_t at, LONG count, uint8_t* out) {
            std::memcpy(out, theirs.data() + size_t(at) * channels, size_t(count) * block);
            return true;
        });
    return mixed && Append(result.stream.get(), mixed.get(), 0, to - from);
}

// Another slot's frames, in the result's format.
bool AppendOther(const sound_plan::Run& run, const Track& other, Track& result,
                 SlotSources& files) {
    Track source, taken;
    if (!other.CloneInto(source) || !Take(source, run.otherFrame, run.count, false, taken))
        return false;
    StreamRef material = SameFormat(taken.format, result.format)
                             ? CloneOf(taken.stream.get())
                             : Converted(taken, result.format, files);
    return material && Append(result.stream.get(), material.get(), 0,
                              std::max<LONG>(AVIStreamLength(material.get()), 0));
}

// The other slot's sound of the run's frames in `format`, as a track whose frame 0 is the run's
// first frame.
bool ConvertedRun(const sound_plan::Run& run, const Track& other, const WAVEFORMATEX& format,
                  Track& converted, SlotSources& files) {
    Track source, taken;
    if (!other.CloneInto(source) || !Take(source, run.otherFrame, run.count, false, taken))
        return false;
    converted.format = format;
    converted.perFrameNum = taken.perFrameNum * format.nSamplesPerSec;
    converted.perFrameDen = taken.perFrameDen * taken.format.nSamplesPerSec;
    converted.stream = Converted(taken, format, files);
    return bool(converted.stream);
}

// A run of own frames mixed with another slot's, whose sound is first converted to own's format
// where it differs.
bool MixAnyRun(const sound_plan::Run& run, const Track& own, const Track& other, Track& result,
               SlotSources& files) {
    if (SameFormat(other.format, own.format)) return MixRun(run, own, other, result, files);
    Track converted;
    sound_plan::Run fromStart = run;
    fromStart.otherFrame = 0;
    return ConvertedRun(run, other, own.format, converted, files) &&
           MixRun(fromStart, own, converted, result, files);
}

} // namespace

bool FromPlan(const sound_plan::Plan& plan, const Track& own,
              const std::vector<const Track*>& slots, Track& result, SlotSources& files) {
    result = Track();
    const Track* timing = own.Present() ? &own : nullptr;
    for (const sound_plan::Run& run : plan)
        if (!timing) timing = SlotTrack(slots, run.otherSlot);
    if (!timing) return true; // no frame has any sound
    result.format = timing->format;
    result.perFrameNum = own.Present() ? own.perFrameNum : timing->perFrameNum;
    result.perFrameDen = own.Present() ? own.perFrameDen : timing->perFrameDen;
    result.stream = CloneOf(nullptr);
    if (!result.stream) return false;
    int64_t frame = 0;
    for (const sound_plan::Run& run : plan) {
        const Track* other = SlotTrack(slots, run.otherSlot);
        const bool mixable =
            own.Present() && run.own >= 0 && other && (run.share > 0 || run.step != 0);
        bool done = true;
        if (mixable && (run.share < 1 || run.step != 0))
            done = MixAnyRun(run, own, *other, result, files);
        else if (other && (run.own < 0 || run.share >= 1))
            done = AppendOther(run, *other, result, files);
        else if (own.Present() && run.own >= 0)
            done = Append(result.stream.get(), own.stream.get(), own.FirstSample(run.own),
                          own.FirstSample(run.own + run.count) - own.FirstSample(run.own));
        else {
            StreamRef quiet =
                Silence(files, result.format,
                        FrameStart(result, frame + run.count) - FrameStart(result, frame));
            done = quiet && Append(result.stream.get(), quiet.get(), 0,
                                   std::max<LONG>(AVIStreamLength(quiet.get()), 0));
        }
        if (!done) return false;
        frame += run.count;
    }
    return true;
}

int64_t Track::Samples() const {
    return LengthOf(stream.get());
}

int64_t Track::FirstSample(int64_t frame) const {
    return std::min(FrameStart(*this, frame), Samples());
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
        edited.stream = Silence(files, edited.format, FrameStart(edited, frames));
        if (!edited.stream) return false;
    }
    // Frames of another rate take the time of this slot's frames, and their sound with them.
    const int64_t needed = FrameStart(edited, position + count) - FrameStart(edited, position);
    StreamRef inserted;
    if (!material.Present())
        inserted = Silence(files, edited.format, needed);
    else if (!SameFrameTime(material, edited))
        inserted = Stretched(material, edited.format, needed, files);
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
