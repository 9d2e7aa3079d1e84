// Where the player's sound goes: the sound device, or in tests a stand-in whose clock the test
// drives.
#pragma once

#include "avifile/avifile.h"

#include <cstdint>
#include <memory>

class AudioOutput {
  public:
    virtual ~AudioOutput() = default;
    // Opens the output for 16-bit PCM of `format`; false, with nothing open, when there is no
    // device or it does not play that format.
    virtual bool start(const WAVEFORMATEX& format) = 0;
    // Bytes the output takes now without waiting.
    virtual int64_t room() const = 0;
    // Hands bytes over; returns how many the output took.
    virtual int64_t write(const char* bytes, int64_t size) = 0;
    // Samples heard since start, not merely handed over.
    virtual int64_t playedSamples() const = 0;
    virtual void stop() = 0;
};

// The system's default sound output, through Qt Multimedia.
std::unique_ptr<AudioOutput> MakeDeviceAudioOutput();
