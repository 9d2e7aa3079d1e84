// Timed playback of the current slot on the player panel (dialog 140): a speed slider, stepping
// one frame back or forward, and writing the chosen speed into the stream as its frame rate. At
// the stream's own speed the slot's sound plays and the picture follows it.
#pragma once

#include "avifile/avifile.h"
#include "dialog.h"
#include "sound_feed.h"

#include <chrono>
#include <cstdint>
#include <vector>

class QTimer;

enum PlayerControl : int {
    kPlayerPlay = 1023,
    kPlayerPicture = 1024,
    kPlayerStop = 1025,
    kPlayerSpeedSlider = 1026,
    kPlayerBack = 1027,
    kPlayerSpeedOffset = 1028,
    kPlayerForward = 1029,
    kPlayerPosition = 1030,
    kPlayerTime = 1031,
    kPlayerRateText = 1033,
    kPlayerRateSet = 1037,
};

struct PlayerState {
    uint32_t playPosition = 0;
    int32_t speedOffset = 0; // slider position - 100
    int32_t speedExtra = 0;  // frames per second the slider adds to baseRate
    int32_t baseRate = 0;    // whole frames per second of the stream
    double totalSeconds = 0;
    double positionSeconds = 0;
    char timeText[48] = {};
};

// Frames per second played: baseRate + speedExtra, and at least 1 so that streams slower than
// one frame per second still advance.
int64_t EffectiveRate(const PlayerState& state);

// Writes the play time of `frames` frames and of the position, at the effective rate, as
// "mm:ss.hh / mm:ss.hh" (total first). A one-frame stream's position time is 0.
void FormatPlayTime(PlayerState& state, double frames);

class PlayerPanelDialog : public dlg::Dialog {
  public:
    explicit PlayerPanelDialog(QWidget* parent);

    // Shows the current stream from frame 0 at its own rate; a running playback goes on.
    void initialise();
    void stop();
    // Reads the frame at the play position again from the current slot, whose content changed;
    // a position past the new end moves to the last frame.
    void rereadFrame();
    // Shows the next frame of the current slot, or while its sound plays the frame of the sound
    // heard, and arms the next tick; returns the nominal delay in milliseconds (1000 / effective
    // rate).
    int tick();
    bool playing() const;
    // The frame shown.
    uint32_t playPosition() const { return state_.playPosition; }
    // Plays sound through `output`, found through `source`; stops a running playback.
    void useSound(std::unique_ptr<AudioOutput> output, SoundSource source = {});

  protected:
    void onCommand(int id) override;
    void onScroll(int id) override;
    void onPaint() override;

  private:
    using Clock = std::chrono::steady_clock;

    void play();
    // Starts the sound from the play position when the speed is the stream's own.
    void startSound();
    void advanceOneFrame();
    void followSound();
    void step(int direction);
    void setRate();
    void showRate();
    void armNextTick();
    uint32_t frameCount() const;
    uint8_t* frameBuffer();
    void readFrame(PAVISTREAM stream);

    PlayerState state_;
    std::vector<uint8_t> frame_;
    QTimer* timer_;
    SoundFeed sound_;
    // Ticks keep to a fixed schedule from "play": the timer's lateness and the tick's own work
    // do not push the later frames back.
    Clock::time_point due_;
};
