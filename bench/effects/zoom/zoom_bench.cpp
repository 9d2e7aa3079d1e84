// Zooms 300 frames of 1920x1080 24-bit from 100 % to 150 % with all eight smoothing taps through
// the zoom dialog's Ok (read, zoom, smooth, write, replace the slot's file) and prints its frames
// per second against the ffmpeg command line on the same file, one thread each: scale and crop
// to a fixed 150 % (goal: at least 2.0 times as fast), and copying the frames without a filter,
// the input and output limit (goal: at least 0.6 of its speed). Each is run three times and its
// fastest run counts, as other work on the machine slows single runs unevenly.
#include "avi_fixtures.h"
#include "avi_io.h"
#include "host.h"
#include "ui/ui_script.h"
#include "zoom_dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMainWindow>
#include <QSlider>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kRuns = 3;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Written frame by frame, so that the whole stream is never held in memory.
bool WriteInput(const std::string& path, int frames) {
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    AVISTREAMINFOA info = fixtures::VideoInfo(kWidth, kHeight, 30);
    BITMAPINFOHEADER format = fixtures::DibHeader(kWidth, kHeight, 24);
    bool ok = AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE | OF_SHARE_DENY_NONE,
                           nullptr) == AVIERR_OK &&
              AVIFileCreateStreamA(file, &stream, &info) == AVIERR_OK;
    for (int n = 0; ok && n < frames; ++n) {
        fixtures::Frame pixels = fixtures::PatternFrame(kWidth, kHeight, 24, n);
        ok = AVIStreamSetFormat(stream, n, &format, sizeof format) == AVIERR_OK &&
             AVIStreamWrite(stream, n, 1, pixels.data(), LONG(pixels.size()), AVIIF_KEYFRAME,
                            nullptr, nullptr) == AVIERR_OK;
    }
    if (stream) AVIStreamRelease(stream);
    if (file) AVIFileRelease(file);
    return ok;
}

bool Open(const std::string& path) {
    ui_script::QueueFileAnswer(path, 1);
    if (DispatchCommand(kCmdFileOpen)) return true;
    for (const ui_script::ShownMessage& message : ui_script::ShownMessages())
        std::fprintf(stderr, "%s: %s\n", path.c_str(), message.text.c_str());
    return false;
}

// Seconds of the dialog's Ok over the whole stream, or a negative value when it failed. Each run
// zooms the slot the run before left.
double RenderThroughDialog(int frames) {
    workspace.rangeStart = 0;
    workspace.rangeEnd = frames - 1;
    EditWorkspace ws = workspace;
    zoom::ZoomDialog dialog(nullptr, ws);
    dialog.show();
    for (int id : {kZoomEndXZoom, kZoomEndYZoom})
        static_cast<QSlider*>(dialog.control(id))->setValue(150);
    auto click = [&](int id) { static_cast<QAbstractButton*>(dialog.control(id))->click(); };
    click(kZoomFiltering);
    for (int k = 0; k < zoom::kTapCount; ++k)
        click(kZoomFirstTap + k);
    QCoreApplication::processEvents();
    ui_script::ClearShownMessages();
    const auto start = Clock::now();
    click(dlg::kIdOk);
    const double seconds = SecondsSince(start);
    if (!ui_script::ShownMessages().empty() || dialog.result() != 1) return -1;
    ReloadSlotFromTemp(workspace, workspace.currentSlot);
    return seconds;
}

// Seconds of one ffmpeg run writing a raw AVI, or a negative value when it failed.
double RunFfmpeg(const fs::path& input, const fs::path& output, const std::string& arguments) {
    const std::string command = "ffmpeg -nostdin -v error -y -threads 1 -filter_threads 1 -i '" +
                                input.string() + "' " + arguments + " '" + output.string() + "'";
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double seconds = SecondsSince(start);
    fs::remove(output);
    return status == 0 ? seconds : -1;
}

} // namespace

int main(int argc, char** argv) {
    const fs::path data = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "mivra-zoom";
    const int frames = argc > 2 ? std::atoi(argv[2]) : 300;
    QApplication app(argc, argv);
    const fs::path input = data / ("input-" + std::to_string(frames) + ".avi");
    const fs::path work = data / "work";
    fs::remove_all(work);
    fs::create_directories(work / "temp");
    if (!fs::exists(input) && !WriteInput(input.string(), frames)) {
        std::fprintf(stderr, "could not write %s\n", input.c_str());
        fs::remove(input);
        return 1;
    }
    fs::current_path(work);
    ui_script::Begin();
    if (!CreateMainWindow() || !Open(input.string())) return 1;

    double zoom = 1e30;
    for (int run = 0; run < kRuns && zoom > 0; ++run)
        zoom = std::min(zoom, RenderThroughDialog(frames));
    DestroyMainWindow();
    ui_script::End();
    fs::current_path(data);
    fs::remove_all(work);
    const fs::path output = data / "ffmpeg.avi";
    const double scaled = RunFfmpeg(input, output,
                                    "-vf scale=" + std::to_string(kWidth * 3 / 2) + ":" +
                                        std::to_string(kHeight * 3 / 2) +
                                        ":flags=neighbor,crop=" + std::to_string(kWidth) + ":" +
                                        std::to_string(kHeight) + " -c:v rawvideo -pix_fmt bgr24");
    const double copied = RunFfmpeg(input, output, "-c:v copy");
    if (zoom < 0 || scaled < 0 || copied < 0) {
        std::fprintf(stderr, "a run failed (dialog %.1f s, scale+crop %.1f s, copy %.1f s)\n", zoom,
                     scaled, copied);
        return 1;
    }

    const double fps = frames / zoom, scaledFps = frames / scaled, copiedFps = frames / copied;
    std::printf("zoom 100%%->150%%, 8 taps, %d frames %dx%d 24-bit, one thread each, best of %d\n",
                frames, kWidth, kHeight, kRuns);
    std::printf("  dialog Ok               %7.1f frames/s\n", fps);
    std::printf("  ffmpeg scale+crop       %7.1f frames/s  ratio %.2f (goal >= 2.0)\n", scaledFps,
                fps / scaledFps);
    std::printf("  ffmpeg copy, no filter  %7.1f frames/s  ratio %.2f (goal >= 0.6)\n", copiedFps,
                fps / copiedFps);
    return fps / scaledFps >= 2.0 && fps / copiedFps >= 0.6 ? 0 : 1;
}
