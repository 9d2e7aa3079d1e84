// Zooms 60 frames of 1920x1080 24-bit from 100 % to 150 % with all eight smoothing taps through
// the zoom dialog's Ok (read, zoom, smooth, write, replace the slot's file) and compares it with
// the ffmpeg command line on the same file, one thread each, writing raw AVI: scale and crop to a
// fixed 150 % (goal: at least 2.0 times as fast), and the frames written with no filter, the
// input and output limit (goal: at least 0.6 of its speed). Runs interleave (bench/timing.h).
#include "avi_fixtures.h"
#include "avi_io.h"
#include "host.h"
#include "ui/ui_script.h"
#include "zoom_dialog.h"

#include "timing.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMainWindow>
#include <QSlider>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

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

// The dialog's Ok over the whole stream. Each run zooms the slot the run before left.
bool RenderThroughDialog(int frames) {
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
    click(dlg::kIdOk);
    if (!ui_script::ShownMessages().empty() || dialog.result() != 1) return false;
    session::ReloadAfterEffect();
    return true;
}

// One ffmpeg run writing raw AVI on one thread, removed again; with and without a filter the
// frames take the same path through the decoder, the encoder and the muxer.
bool RunFfmpeg(const fs::path& input, const fs::path& output, const std::string& filter) {
    const bool ok =
        bench::Command("ffmpeg -nostdin -v error -y -threads 1 -i '" + input.string() +
                       "' -filter_threads 1 -vf " + filter +
                       " -threads 1 -c:v rawvideo -pix_fmt bgr24 -f avi '" + output.string() + "'");
    fs::remove(output);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    const fs::path data = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "mivra-zoom";
    const int frames = argc > 2 ? std::atoi(argv[2]) : 60;
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
    const fs::path output = data / "ffmpeg.avi";
    const std::string scaleCrop =
        "scale=" + std::to_string(kWidth * 3 / 2) + ":" + std::to_string(kHeight * 3 / 2) +
        ":flags=neighbor,crop=" + std::to_string(kWidth) + ":" + std::to_string(kHeight);
    std::vector<bench::Side> sides{
        {"dialog Ok", [&] { return RenderThroughDialog(frames); }},
        {"ffmpeg scale+crop", [&] { return RunFfmpeg(input, output, scaleCrop); }},
        {"ffmpeg no filter", [&] { return RunFfmpeg(input, output, "null"); }},
    };
    fs::current_path(work);
    ui_script::Begin();
    const bool measured = CreateMainWindow() && Open(input.string()) && bench::Interleave(sides);
    DestroyMainWindow();
    ui_script::End();
    fs::current_path(data);
    fs::remove_all(work);
    if (!measured) return 1;

    std::printf("zoom 100%%->150%%, 8 taps, %d frames %dx%d 24-bit, one thread each, frames per "
                "second\n",
                frames, kWidth, kHeight);
    for (const bench::Side& side : sides)
        bench::PrintRate(side, frames);
    bench::PrintSpeedGoal("effects/zoom", "dialog Ok vs ffmpeg scale+crop", sides[0], sides[1],
                          2.0);
    bench::PrintSpeedGoal("effects/zoom", "dialog Ok vs ffmpeg no-filter copy", sides[0], sides[2],
                          0.6);
    return 0;
}
