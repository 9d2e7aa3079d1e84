// Plays a 640x480 24-bit uncompressed slot and a 1920x1080 MJPEG slot at 30 frames per second
// on the player panel and prints, for each, the frames shown per second over the nominal rate
// (goal: at least 0.98) and the cost of one tick (reading the frame and arming the next). Then
// plays the uncompressed slot with a 48 kHz stereo sound through an output whose clock runs with
// real time, as a device's does, and prints the frames shown over nominal (goal: at least 0.98)
// and the 95th percentile of how far each frame is shown from the moment its sound is heard
// (goal: at most 20 ms).
#include "audio_output.h"
#include "avi_fixtures.h"
#include "fake_sound.h"
#include "main_window.h"
#include "panels.h"
#include "player.h"
#include "ui/ui_script.h"

#include "timing.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QMainWindow>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRate = 30;
constexpr int kTickSamples = 300;
constexpr int kFrames = 60;
constexpr int64_t kSoundRate = 48000;
constexpr int64_t kSamplesPerFrame = kSoundRate / kRate;

struct Result {
    double shownOverNominal;
    double tickMilliseconds;
};

void Click(int id) {
    static_cast<QAbstractButton*>(PlayerPanel()->control(id))->click();
}

// Frames shown: the player's timer firing, counted while the event loop runs for `seconds`.
double ShownOverNominal(double seconds) {
    int shown = 0;
    auto* timer = PlayerPanel()->findChild<QTimer*>();
    const auto counter = QObject::connect(timer, &QTimer::timeout, [&shown] { ++shown; });
    const auto start = Clock::now();
    Click(kPlayerPlay);
    // A loop of its own: quitting the application's would close the main window.
    QEventLoop loop;
    QTimer::singleShot(std::chrono::milliseconds(int(seconds * 1000)), &loop, &QEventLoop::quit);
    loop.exec();
    Click(kPlayerStop);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    QObject::disconnect(counter);
    return shown / elapsed / kRate;
}

double TickMilliseconds() {
    Click(kPlayerPlay);
    const auto start = Clock::now();
    for (int i = 0; i < kTickSamples; ++i)
        PlaybackTick();
    const double total = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    StopPlayback();
    QCoreApplication::processEvents();
    return total / kTickSamples;
}

// A sound output whose clock runs with real time from its start, never past what it was fed.
class RealTimeOutput final : public AudioOutput {
  public:
    bool start(const WAVEFORMATEX& format) override {
        samplesPerSecond_ = format.nSamplesPerSec;
        blockAlign_ = format.nBlockAlign;
        fed_ = 0;
        started = Clock::now();
        return true;
    }
    int64_t room() const override { return int64_t{1} << 20; }
    int64_t write(const char*, int64_t size) override {
        fed_ += size / blockAlign_;
        return size;
    }
    int64_t playedSamples() const override {
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        return std::min(fed_, int64_t(seconds * double(samplesPerSecond_)));
    }
    void stop() override {}

    Clock::time_point started;

  private:
    int64_t samplesPerSecond_ = 1, blockAlign_ = 1, fed_ = 0;
};

struct SoundResult {
    double shownOverNominal;
    double offsetP95Milliseconds;
};

// Frames shown: the changes of the play position after each tick, each one's distance from the
// moment its sound is heard. Every start of the sound is at frame 0, where the play begins and
// every loop starts again.
SoundResult ShownWithSound(double seconds, RealTimeOutput& output) {
    int shown = 0;
    uint32_t last = PlayerPanel()->playPosition();
    std::vector<double> offsets;
    auto* timer = PlayerPanel()->findChild<QTimer*>();
    const auto counter = QObject::connect(timer, &QTimer::timeout, [&] {
        const uint32_t position = PlayerPanel()->playPosition();
        if (position == last) return;
        last = position;
        ++shown;
        const double since =
            std::chrono::duration<double, std::milli>(Clock::now() - output.started).count();
        offsets.push_back(std::abs(since - double(position) * 1000.0 / kRate));
    });
    const auto start = Clock::now();
    Click(kPlayerPlay);
    QEventLoop loop;
    QTimer::singleShot(std::chrono::milliseconds(int(seconds * 1000)), &loop, &QEventLoop::quit);
    loop.exec();
    Click(kPlayerStop);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    QObject::disconnect(counter);
    std::sort(offsets.begin(), offsets.end());
    const double p95 = offsets.empty() ? 0 : offsets[(offsets.size() * 95 + 99) / 100 - 1];
    return {shown / elapsed / kRate, p95};
}

SoundResult PlayWithSound(double seconds) {
    auto* sound = new FakeSound(LONG(kFrames * kSamplesPerFrame), kSoundRate);
    auto output = std::make_unique<RealTimeOutput>();
    RealTimeOutput& clock = *output;
    PlayerPanel()->useSound(std::move(output),
                            {[sound](int) {
                                 return session::SlotSound{sound, sound->Format()};
                             },
                             [](int, LONG frame) { return frame * kSamplesPerFrame; }});
    SelectTab(kTabPlayer);
    QCoreApplication::processEvents();
    const SoundResult result = ShownWithSound(seconds, clock);
    PlayerPanel()->useSound(MakeDeviceAudioOutput());
    AVIStreamRelease(sound);
    return result;
}

// False, after saying why, when the file does not open into a slot.
bool Open(const std::string& path) {
    ui_script::QueueFileAnswer(path, 1);
    if (DispatchCommand(kCmdFileOpen) && PlayerPanel()) return true;
    for (const ui_script::ShownMessage& message : ui_script::ShownMessages())
        std::fprintf(stderr, "%s: %s\n", path.c_str(), message.text.c_str());
    return false;
}

Result Play(double seconds) {
    SelectTab(kTabPlayer);
    QCoreApplication::processEvents();
    return {ShownOverNominal(seconds), TickMilliseconds()};
}

bool MakeFiles(const fs::path& folder) {
    fixtures::EncodeOptions mjpeg;
    mjpeg.encoder = "mjpeg";
    mjpeg.width = 1920;
    mjpeg.height = 1080;
    mjpeg.frames = kFrames;
    mjpeg.rate = kRate;
    return fixtures::WriteTinyAvi((folder / "raw.avi").string(), 640, 480, 24, kFrames, kRate) &&
           fixtures::EncodeAvi((folder / "mjpeg.avi").string(), mjpeg);
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    QApplication app(argc, argv);
    const fs::path folder = fs::temp_directory_path() / "mivra-playback-bench";
    fs::remove_all(folder);
    fs::create_directories(folder / "temp");
    fs::current_path(folder);
    if (!MakeFiles(folder)) {
        std::fprintf(stderr, "could not write the test files\n");
        return 1;
    }
    ui_script::Begin();
    QMainWindow* window = CreateMainWindow();
    if (!window) return 1;
    window->show();
    int failures = 0;
    for (const char* name : {"raw.avi", "mjpeg.avi"}) {
        if (!Open((folder / name).string())) return 1;
        const Result result = Play(seconds);
        std::printf("%-10s tick %.3f ms per frame\n", name, result.tickMilliseconds);
        bench::PrintGoal("playback", std::string(name) + " frames shown over nominal",
                         result.shownOverNominal, "one run", ">= 0.98",
                         result.shownOverNominal >= 0.98);
        failures += result.shownOverNominal < 0.98;
    }
    SwitchToSlot(0); // raw.avi
    const SoundResult sound = PlayWithSound(seconds);
    std::printf("%-10s with sound: A/V offset p95 %.2f ms\n", "raw.avi",
                sound.offsetP95Milliseconds);
    bench::PrintGoal("playback", "raw.avi with sound frames shown over nominal",
                     sound.shownOverNominal, "one run", ">= 0.98", sound.shownOverNominal >= 0.98);
    bench::PrintGoal("playback", "raw.avi with sound A/V offset p95 ms",
                     sound.offsetP95Milliseconds, "one run", "<= 20",
                     sound.offsetP95Milliseconds <= 20);
    failures += sound.shownOverNominal < 0.98;
    failures += sound.offsetP95Milliseconds > 20;
    DestroyMainWindow();
    ui_script::End();
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(folder);
    return failures ? 1 : 0;
}
