// The player panel: speed, stepping, timed playback and writing the rate into the stream.
#include "fake_audio_output.h"
#include "host_fixture.h"

#include "fake_sound.h"
#include "player.h"

#include <QAbstractButton>
#include <QLabel>

#include <cstdlib>
#include <functional>
#include <memory>

namespace {

// A host with the player tab selected, so the panel's controls take the user's clicks.
class Player : public HostFixture {
  protected:
    void OpenPlaying(const std::string& name, int frames) {
        Open(MakeAvi(name, 8, 6, frames));
        SelectTab(kTabPlayer);
    }
};

void Click(int id) {
    static_cast<QAbstractButton*>(PlayerPanel()->control(id))->click();
}

void Speed(int position) {
    static_cast<QSlider*>(PlayerPanel()->control(kPlayerSpeedSlider))->setValue(position);
}

// Runs the panel's pending paint and nothing else: no timer event can slip in.
void Paint() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

std::string Text(int id) {
    Paint();
    return PlayerPanel()->text(id).toStdString();
}

// The grey level of the picture's centre; frame i of a fixture file is grey FrameByte(i).
int PictureGrey() {
    Paint();
    QWidget* picture = PlayerPanel()->control(kPlayerPicture);
    const QImage shot = picture->grab().toImage();
    return qBlue(shot.pixel(shot.width() / 2, shot.height() / 2));
}

// Gives the working stream a new rate and makes its slot current again.
void SetRate(DWORD rate, DWORD scale) {
    AVISTREAMINFOA info = workspace.streamInfo;
    info.dwRate = rate;
    info.dwScale = scale;
    ASSERT_EQ(EditStreamSetInfoA(workspace.currentStream, &info, sizeof info), AVIERR_OK);
    SwitchToSlot(workspace.currentSlot);
}

std::pair<DWORD, DWORD> RateOf(PAVISTREAM stream) {
    AVISTREAMINFOA info{};
    AVIStreamInfoA(stream, &info, sizeof info);
    return {info.dwRate, info.dwScale};
}

struct SpeedCase {
    const char* name;
    DWORD rate, scale;
    int slider;
    const char* rateText;
    const char* offsetText;
    int delay;
    friend void PrintTo(const SpeedCase& c, std::ostream* out) { *out << c.name; }
};

class PlayerSpeed : public Player, public testing::WithParamInterface<SpeedCase> {};

TEST_P(PlayerSpeed, ShowsTheEffectiveRateAndTicksAtItsPeriod) {
    const SpeedCase& c = GetParam();
    ASSERT_NE(CreateMainWindow(), nullptr);
    OpenPlaying("a.avi", 10);
    SetRate(c.rate, c.scale);
    Speed(c.slider);
    Click(kPlayerPlay);
    EXPECT_EQ(PlaybackTick(), c.delay);
    EXPECT_EQ(Text(kPlayerRateText), c.rateText);
    EXPECT_EQ(Text(kPlayerSpeedOffset), c.offsetText);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, PlayerSpeed,
    testing::Values(SpeedCase{"Own25", 25, 1, 100, "1 Sec 025 Frame", "0", 40},
                    SpeedCase{"SlowestOf25", 25, 1, 1, "1 Sec 001 Frame", "-99", 1000},
                    SpeedCase{"Ntsc", 30000, 1001, 100, "1 Sec 029 Frame", "0", 34},
                    SpeedCase{"Own30", 30, 1, 100, "1 Sec 030 Frame", "0", 33},
                    SpeedCase{"Half30More", 30, 1, 150, "1 Sec 045 Frame", "50", 22},
                    SpeedCase{"Double30", 30, 1, 200, "1 Sec 060 Frame", "100", 16},
                    SpeedCase{"BelowOnePerSecond", 1, 2, 100, "1 Sec 001 Frame", "0", 1000}),
    [](const auto& info) { return std::string(info.param.name); });

struct TickCase {
    const char* name;
    int frames;
    std::vector<std::string> positions; // after each tick
    const char* timeText;               // after the last
    friend void PrintTo(const TickCase& c, std::ostream* out) { *out << c.name; }
};

class PlayerTicks : public Player, public testing::WithParamInterface<TickCase> {};

TEST_P(PlayerTicks, PlayLoopsOverAllButTheLastFrame) {
    const TickCase& c = GetParam();
    ASSERT_NE(CreateMainWindow(), nullptr);
    OpenPlaying("a.avi", c.frames);
    Click(kPlayerPlay);
    for (const std::string& expected : c.positions) {
        PlaybackTick();
        EXPECT_EQ(Text(kPlayerPosition), expected);
        EXPECT_EQ(PictureGrey(), tiny_avi::FrameByte(std::stoi(expected)));
    }
    EXPECT_EQ(Text(kPlayerTime), c.timeText);
    EXPECT_TRUE(PlaybackRunning());
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, PlayerTicks,
    testing::Values(TickCase{"TenFrames",
                             10,
                             {"1", "2", "3", "4", "5", "6", "7", "8", "0", "1", "2"},
                             "00:00.40 / 00:00.08"},
                    TickCase{"OneFrame", 1, {"0", "0", "0"}, "00:00.04 / 00:00.00"},
                    TickCase{"TwoFrames", 2, {"0", "0"}, "00:00.08 / 00:00.00"}),
    [](const auto& info) { return std::string(info.param.name); });

struct StepCase {
    const char* name;
    std::vector<int> buttons;
    int ticks; // of the timer, after the buttons
    const char* position;
    bool playing;
    friend void PrintTo(const StepCase& c, std::ostream* out) { *out << c.name; }
};

class PlayerSteps : public Player, public testing::WithParamInterface<StepCase> {};

TEST_P(PlayerSteps, ButtonsMoveWithinTheStreamAndStopOrRestartPlayback) {
    const StepCase& c = GetParam();
    ASSERT_NE(CreateMainWindow(), nullptr);
    OpenPlaying("a.avi", 10);
    for (int button : c.buttons)
        Click(button);
    for (int i = 0; i < c.ticks; ++i)
        PlaybackTick();
    EXPECT_EQ(Text(kPlayerPosition), c.position);
    EXPECT_EQ(PictureGrey(), tiny_avi::FrameByte(std::stoi(c.position)));
    EXPECT_EQ(PlaybackRunning(), c.playing);
}

const int F = kPlayerForward, B = kPlayerBack;
INSTANTIATE_TEST_SUITE_P(
    Buttons, PlayerSteps,
    testing::Values(StepCase{"ForwardToTheLast", {F, F, F, F, F, F, F, F, F}, 0, "9", false},
                    StepCase{"ForwardAtTheLast", {F, F, F, F, F, F, F, F, F, F, F}, 0, "9", false},
                    StepCase{"BackAtTheFirst", {B}, 0, "0", false},
                    StepCase{"ForwardThenBack", {F, F, F, B}, 0, "2", false},
                    StepCase{"StepStopsPlay", {kPlayerPlay, F}, 0, "1", false},
                    StepCase{"StopKeepsTheFrame", {F, F, kPlayerPlay, kPlayerStop}, 0, "2", false},
                    StepCase{"PlayTwice", {kPlayerPlay, kPlayerPlay}, 1, "1", true},
                    StepCase{
                        "PlayFromTheLast", {F, F, F, F, F, F, F, F, F, kPlayerPlay}, 1, "1", true}),
    [](const auto& info) { return std::string(info.param.name); });

struct RateSetCase {
    const char* name;
    DWORD rate;
    int slider;
    DWORD stored;
    const char* rateText;
    friend void PrintTo(const RateSetCase& c, std::ostream* out) { *out << c.name; }
};

class PlayerRateSet : public Player, public testing::WithParamInterface<RateSetCase> {};

TEST_P(PlayerRateSet, StoresTheEffectiveRateInBothStreamsAndResetsTheSpeed) {
    const RateSetCase& c = GetParam();
    ASSERT_NE(CreateMainWindow(), nullptr);
    OpenPlaying("a.avi", 10);
    SetRate(c.rate, 1);
    Speed(c.slider);
    Click(kPlayerForward);
    Click(kPlayerPlay);
    Click(kPlayerRateSet);
    const std::pair<DWORD, DWORD> expected{c.stored, 1};
    EXPECT_EQ(RateOf(workspace.currentStream), expected);
    EXPECT_EQ(RateOf(workspace.slotStreams[workspace.currentSlot]), expected);
    EXPECT_EQ(Text(kPlayerRateText), c.rateText);
    EXPECT_EQ(PlayerPanel()->position(kPlayerSpeedSlider), 100);
    EXPECT_EQ(Text(kPlayerSpeedOffset), "0");
    EXPECT_EQ(Text(kPlayerPosition), "0");
    EXPECT_FALSE(PlaybackRunning());
}

INSTANTIATE_TEST_SUITE_P(Speeds, PlayerRateSet,
                         testing::Values(RateSetCase{"Half20More", 20, 150, 30, "1 Sec 030 Frame"},
                                         RateSetCase{"Slowest25", 25, 1, 1, "1 Sec 001 Frame"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct TimeCase {
    const char* name;
    int32_t rate;
    uint32_t position;
    double frames;
    const char* text;
    friend void PrintTo(const TimeCase& c, std::ostream* out) { *out << c.name; }
};

class PlayTime : public testing::TestWithParam<TimeCase> {};

TEST_P(PlayTime, ReadsTotalThenPosition) {
    const TimeCase& c = GetParam();
    PlayerState state;
    state.baseRate = c.rate;
    state.playPosition = c.position;
    FormatPlayTime(state, c.frames);
    EXPECT_STREQ(state.timeText, c.text);
}

INSTANTIATE_TEST_SUITE_P(Times, PlayTime,
                         testing::Values(TimeCase{"Middle", 30, 150, 300, "00:10.00 / 00:05.01"},
                                         TimeCase{"SixMinutes", 25, 0, 9000, "06:00.00 / 00:00.00"},
                                         TimeCase{"OneFrame", 25, 0, 1, "00:00.04 / 00:00.00"},
                                         TimeCase{"SlowerThanOnePerSecond", 0, 1, 2,
                                                  "00:02.00 / 00:02.00"}),
                         [](const auto& info) { return std::string(info.param.name); });

// The play time is read whole, not cut short with "…", at its widest.
TEST_F(Player, ThePlayTimeIsShownWhole) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    OpenPlaying("a.avi", 10);
    Paint();
    const auto* shown = qobject_cast<QLabel*>(PlayerPanel()->control(kPlayerTime));
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->text().toStdString(), Text(kPlayerTime));
}

// What replaces or releases the stream a tick reads.
struct ReplaceCase {
    const char* name;
    std::function<void()> replace;
    const char* position; // after playing on once more, when a panel remains
    int frame;            // of the file, shown there
    friend void PrintTo(const ReplaceCase& c, std::ostream* out) { *out << c.name; }
};

class PlayerReplaced : public Player, public testing::WithParamInterface<ReplaceCase> {};

TEST_P(PlayerReplaced, StreamsAreReplacedOnlyWithPlaybackStopped) {
    const ReplaceCase& c = GetParam();
    ASSERT_NE(CreateMainWindow(), nullptr);
    OpenPlaying("a.avi", 10);
    OpenPlaying("b.avi", 3);
    Click(kPlayerPlay);
    PlaybackTick();
    c.replace();
    EXPECT_FALSE(PlaybackRunning());
    if (!PlayerPanel()) return;
    Click(kPlayerPlay);
    PlaybackTick();
    EXPECT_EQ(Text(kPlayerPosition), c.position);
    EXPECT_EQ(PictureGrey(), tiny_avi::FrameByte(c.frame));
}

INSTANTIATE_TEST_SUITE_P(
    Operations, PlayerReplaced,
    testing::Values(ReplaceCase{"Switch", [] { SwitchToSlot(0); }, "1", 1},
                    ReplaceCase{"CloseCurrent", [] { CloseStream(1); }, "1", 1},
                    ReplaceCase{"CloseOther", [] { CloseStream(0); }, "1", 1},
                    ReplaceCase{"CloseAll", [] { CloseStream(1), CloseStream(0); }, "", 0},
                    ReplaceCase{"Cut", [] { DispatchCommand(kCmdCut); }, "0", 1},
                    ReplaceCase{"Reverse", [] { DispatchCommand(kCmdStreamReverse); }, "0", 1},
                    ReplaceCase{"Exit", [] { DestroyMainWindow(); }, "", 0}),
    [](const auto& info) { return std::string(info.param.name); });

// The fixture files run at 25 frames per second: their sound, 8000 samples per second, has 320
// samples to a frame.
constexpr int64_t kSoundRate = 8000;
constexpr int64_t kSamplesPerFrame = kSoundRate / 25;

// A player whose slot has a sound, played through an output whose clock the test moves.
class PlayerWithSound : public Player {
  protected:
    void OpenWithSound(int frames, bool deviceWorks = true) {
        OpenPlaying("a.avi", frames);
        sound = new FakeSound(LONG(frames * kSamplesPerFrame), kSoundRate);
        auto fake = std::make_unique<FakeAudioOutput>(deviceWorks);
        output = fake.get();
        FakeSound* slotSound = sound;
        PlayerPanel()->useSound(std::move(fake),
                                {[slotSound](int) {
                                     return session::SlotSound{slotSound, slotSound->Format()};
                                 },
                                 [](int, LONG frame) { return frame * kSamplesPerFrame; }});
    }
    void TearDown() override {
        Player::TearDown();
        if (sound) AVIStreamRelease(sound);
    }

    // The sample of the slot's sound being heard.
    int64_t SoundClock() const {
        return FakeSound::SampleAt(output->runs.back().data()) + output->playedSamples();
    }
    std::string SoundBytes(int64_t first, int64_t samples) const {
        std::string bytes(std::size_t(samples) * FakeSound::kBlockAlign, '\0');
        sound->Read(LONG(first), LONG(samples), bytes.data(), LONG(bytes.size()), nullptr, nullptr);
        return bytes;
    }

    FakeSound* sound = nullptr;
    FakeAudioOutput* output = nullptr;
};

struct FeedCase {
    const char* name;
    int forward; // steps before play
    int slider;
    bool deviceWorks;
    bool sounds;
    friend void PrintTo(const FeedCase& c, std::ostream* out) { *out << c.name; }
};

class PlayerFeed : public PlayerWithSound, public testing::WithParamInterface<FeedCase> {};

TEST_P(PlayerFeed, FeedsTheSoundFromThePlayPositionAtTheStreamsOwnSpeedOnly) {
    const FeedCase& c = GetParam();
    ASSERT_NE(CreateMainWindow(), nullptr);
    OpenWithSound(50, c.deviceWorks);
    for (int i = 0; i < c.forward; ++i)
        Click(kPlayerForward);
    Speed(c.slider);
    Click(kPlayerPlay);
    const int ticks = 10;
    for (int i = 0; i < ticks; ++i) {
        output->advance(kSamplesPerFrame);
        PlaybackTick();
    }
    EXPECT_EQ(Text(kPlayerPosition), std::to_string(c.forward + ticks));
    if (!c.sounds) {
        EXPECT_TRUE(output->runs.empty());
        return;
    }
    ASSERT_EQ(output->runs.size(), 1u);
    const std::string& fed = output->runs[0];
    ASSERT_FALSE(fed.empty());
    EXPECT_EQ(fed, SoundBytes(c.forward * kSamplesPerFrame,
                              int64_t(fed.size()) / FakeSound::kBlockAlign));
}

INSTANTIATE_TEST_SUITE_P(Speeds, PlayerFeed,
                         testing::Values(FeedCase{"FromTheFirstFrame", 0, 100, true, true},
                                         FeedCase{"FromASteppedFrame", 3, 100, true, true},
                                         FeedCase{"FasterIsMuted", 0, 150, true, false},
                                         FeedCase{"SlowerIsMuted", 3, 50, true, false},
                                         FeedCase{"NoDeviceKeepsTheTimer", 2, 100, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PlayerWithSound, ThePictureStaysWithinAFrameOfTheSoundForTenMinutes) {
    ASSERT_NE(CreateMainWindow(), nullptr);
    OpenWithSound(250); // ten seconds, played round and round
    Click(kPlayerPlay);
    // A device's clock moves by uneven steps between two ticks.
    const int64_t stepsMs[] = {7, 33, 61, 12, 40, 25, 54};
    int64_t worst = 0;
    for (int64_t elapsed = 0, i = 0; elapsed < 10 * 60 * 1000; ++i) {
        const int64_t step = stepsMs[i % std::size(stepsMs)];
        elapsed += step;
        output->advance(step * kSoundRate / 1000);
        PlaybackTick();
        const int64_t shown = PlayerPanel()->playPosition();
        worst = std::max(worst, std::abs(shown - SoundClock() / kSamplesPerFrame));
    }
    EXPECT_LE(worst, 1);
    EXPECT_GT(output->runs.size(), 50u); // the sound started again at every loop
    EXPECT_EQ(PictureGrey(), tiny_avi::FrameByte(int(PlayerPanel()->playPosition())));
}

} // namespace
