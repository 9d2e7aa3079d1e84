#include "sound_feed.h"

#include <algorithm>
#include <climits>

namespace {

constexpr int64_t kChunkMilliseconds = 100;
constexpr int64_t kLeadMilliseconds = 200;

int64_t SamplesIn(int64_t milliseconds, const WAVEFORMATEX& format) {
    return std::max<int64_t>(int64_t(format.nSamplesPerSec) * milliseconds / 1000, 1);
}

// Reads `count` samples from `start` into buffer; returns the samples read, fewer at the
// sound's end or when a read fails.
LONG ReadSamples(PAVISTREAM stream, int64_t start, LONG count, char* buffer, int blockAlign) {
    LONG done = 0;
    while (done < count && start + done <= LONG_MAX) {
        LONG bytes = 0, samples = 0;
        if (AVIStreamRead(stream, LONG(start + done), count - done, buffer + done * blockAlign,
                          (count - done) * blockAlign, &bytes, &samples) != AVIERR_OK ||
            samples <= 0)
            break;
        done += std::min(samples, count - done);
    }
    return done;
}

} // namespace

SoundFeed::SoundFeed(std::unique_ptr<AudioOutput> output, SoundSource source)
    : output_(std::move(output)), source_(std::move(source)) {}

bool SoundFeed::start(int slot, LONG first, LONG end) {
    stop();
    const session::SlotSound sound = source_.soundOf(slot);
    const WAVEFORMATEX& format = sound.format;
    if (!sound.stream || format.nBlockAlign == 0 || format.nSamplesPerSec == 0) return false;
    slot_ = slot;
    first_ = source_.firstSampleOfFrame(slot, first);
    end_ = std::min<int64_t>(source_.firstSampleOfFrame(slot, end), AVIStreamLength(sound.stream));
    if (first_ < 0 || first_ >= end_ || !output_->start(format)) return false;
    stream_ = sound.stream;
    format_ = format;
    fed_ = first_;
    running_ = true;
    return true;
}

void SoundFeed::stop() {
    if (running_) output_->stop();
    running_ = false;
    stream_ = nullptr;
}

void SoundFeed::feed() {
    if (!running_) return;
    const int blockAlign = format_.nBlockAlign;
    const int64_t chunk = SamplesIn(kChunkMilliseconds, format_);
    while (fed_ < end_ && fed_ - heard() < SamplesIn(kLeadMilliseconds, format_)) {
        const auto count = LONG(std::min({chunk, end_ - fed_, output_->room() / blockAlign}));
        if (count <= 0) return;
        chunk_.resize(std::size_t(count) * blockAlign);
        const LONG read = ReadSamples(stream_, fed_, count, chunk_.data(), blockAlign);
        // What cannot be read is not played: the sound ends there.
        if (read < count) end_ = fed_ + read;
        const int64_t taken = output_->write(chunk_.data(), int64_t(read) * blockAlign);
        fed_ += taken / blockAlign;
        if (taken < int64_t(read) * blockAlign) return;
    }
}

int64_t SoundFeed::heard() const {
    if (!running_) return first_;
    return first_ + std::clamp<int64_t>(output_->playedSamples(), 0, fed_ - first_);
}

bool SoundFeed::finished() const {
    return running_ && fed_ >= end_ && heard() >= end_;
}

int64_t SoundFeed::firstSampleOf(LONG frame) const {
    return source_.firstSampleOfFrame(slot_, frame);
}

int64_t SoundFeed::millisecondsUntil(int64_t sample) const {
    const int64_t ahead = std::max<int64_t>(sample - heard(), 0);
    const int64_t rate = std::max<int64_t>(format_.nSamplesPerSec, 1);
    return (ahead * 1000 + rate - 1) / rate;
}
