// A slot's sound handed to an audio output a short chunk at a time, and the clock that output
// keeps: the sample being heard. The player shows the frame of that sample.
#pragma once

#include "audio_output.h"
#include "session.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// Where the player finds a slot's sound: the session's by default.
struct SoundSource {
    std::function<session::SlotSound(int slot)> soundOf = session::SoundOf;
    std::function<int64_t(int slot, LONG frame)> firstSampleOfFrame = session::FirstSampleOfFrame;
};

class SoundFeed {
  public:
    SoundFeed(std::unique_ptr<AudioOutput> output, SoundSource source);

    // Plays the sound of the slot's frames first .. end - 1, up to the sound's own end. False,
    // with nothing playing, when there is no sound there or the output cannot play it.
    bool start(int slot, LONG first, LONG end);
    void stop();
    bool running() const { return running_; }

    // Hands the output chunks of at most 100 ms until it holds 200 ms beyond what is heard.
    // Reading sound takes time, so one call reads no more than that.
    void feed();
    // The sample of the slot's sound being heard.
    int64_t heard() const;
    // Every sample fed was heard and there is nothing more to feed.
    bool finished() const;
    // The first sample of the sound of a frame of the playing slot.
    int64_t firstSampleOf(LONG frame) const;
    // Whole milliseconds, rounded up, until `sample` is heard; 0 when it is.
    int64_t millisecondsUntil(int64_t sample) const;

  private:
    std::unique_ptr<AudioOutput> output_;
    SoundSource source_;
    PAVISTREAM stream_ = nullptr; // the slot's, borrowed while the slot does not change
    WAVEFORMATEX format_{};
    int slot_ = -1;
    int64_t first_ = 0; // the sample played first
    int64_t fed_ = 0;   // the sample fed next
    int64_t end_ = 0;   // the sample after the last to play
    bool running_ = false;
    std::vector<char> chunk_;
};
