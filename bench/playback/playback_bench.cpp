// Plays a 640x480 24-bit uncompressed slot and a 1920x1080 MJPEG slot at 30 frames per second
// on the player panel and prints, for each, the frames shown per second over the nominal rate
// (goal: at least 0.98) and the cost of one tick (reading the frame and arming the next).
#include "avi_fixtures.h"
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

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRate = 30;
constexpr int kTickSamples = 300;

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
    mjpeg.frames = 60;
    mjpeg.rate = kRate;
    return fixtures::WriteTinyAvi((folder / "raw.avi").string(), 640, 480, 24, 60, kRate) &&
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
    DestroyMainWindow();
    ui_script::End();
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(folder);
    return failures ? 1 : 0;
}
