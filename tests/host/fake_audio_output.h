// A sound output that keeps the bytes fed since each start and whose clock moves only when the
// test advances it, never past what was fed.
#pragma once

#include "audio_output.h"

#include <algorithm>
#include <string>
#include <vector>

class FakeAudioOutput final : public AudioOutput {
  public:
    explicit FakeAudioOutput(bool works = true) : works_(works) {}

    bool start(const WAVEFORMATEX& format) override {
        if (!works_) return false;
        blockAlign_ = format.nBlockAlign;
        runs.emplace_back();
        played_ = 0;
        return true;
    }
    int64_t room() const override { return int64_t{1} << 20; }
    int64_t write(const char* bytes, int64_t size) override {
        runs.back().append(bytes, std::size_t(size));
        return size;
    }
    int64_t playedSamples() const override { return played_; }
    void stop() override {}

    void advance(int64_t samples) { played_ = std::min(played_ + samples, fedSamples()); }
    int64_t fedSamples() const {
        return runs.empty() ? 0 : int64_t(runs.back().size()) / blockAlign_;
    }

    std::vector<std::string> runs; // the bytes fed since each start

  private:
    bool works_;
    int64_t blockAlign_ = 1;
    int64_t played_ = 0;
};
