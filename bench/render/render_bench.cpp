// Renders every frame of an uncompressed slot into the slot through renderToSlot with an effect
// that leaves the frames as they are, and prints frames per second and the peak resident memory
// of the process. With --ffmpeg it first times ffmpeg copying the same file's frames into an
// AVI (-c:v rawvideo) and prints our frames per second over ffmpeg's.
//
//   render_bench <width> <height> <frames> [--ffmpeg]
#include "avi_fixtures.h"
#include "avi_io.h"
#include "framework.h"
#include "host.h"
#include "ui/ui_script.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <sys/resource.h>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

const dlg::ControlDef kControls[] = {
    {dlg::kIdOk, dlg::Kind::PushButton, "Ok", 5, 5, 40, 14},
    {dlg::kIdCancel, dlg::Kind::PushButton, "Cansel", 50, 5, 40, 14},
    {plugin::kIdProgress, dlg::Kind::Progress, "", 5, 24, 85, 8, dlg::kBorder},
};

// The identity effect: every output frame is the source frame.
class IdentityDialog : public plugin::PluginDialog {
  public:
    explicit IdentityDialog(EditWorkspace& ws)
        : PluginDialog({"Identity", 95, 37, kControls}, nullptr, ws) {}

    bool render() {
        const EditWorkspace& ws = workspace();
        const BITMAPINFOHEADER format = *ws.frameFormat;
        return renderToSlot(ws.streamInfo.dwLength, format, [&](int64_t i, uint8_t* pixels) {
            return plugin::ReadFrame(ws.currentStream, i, pixels, format);
        });
    }
};

// Writes the source file one pattern frame at a time, so that making it costs no more memory
// than one frame: the peak the benchmark prints is the render's.
bool WriteSource(const fs::path& path, int width, int height, int frames) {
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE | OF_SHARE_DENY_NONE, nullptr) !=
        AVIERR_OK)
        return false;
    AVISTREAMINFOA info = fixtures::VideoInfo(width, height, 30);
    PAVISTREAM stream = nullptr;
    const bool created = AVIFileCreateStreamA(file, &stream, &info) == AVIERR_OK;
    AVIFileRelease(file);
    if (!created) return false;
    BITMAPINFOHEADER format = fixtures::DibHeader(width, height, 24);
    bool ok = true;
    for (int i = 0; ok && i < frames; ++i) {
        fixtures::Frame pixels = fixtures::PatternFrame(width, height, 24, i);
        ok = AVIStreamSetFormat(stream, i, &format, sizeof format) == AVIERR_OK &&
             AVIStreamWrite(stream, i, 1, pixels.data(), LONG(pixels.size()), AVIIF_KEYFRAME,
                            nullptr, nullptr) == AVIERR_OK;
    }
    AVIStreamRelease(stream);
    return ok;
}

// Both timed runs start with no dirty pages left from making the source: its write-back would
// otherwise slow whichever run comes first.
void Settle() {
    if (std::system("sync") != 0) std::fprintf(stderr, "sync failed\n");
}

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Wall-clock seconds of ffmpeg reading the file and writing its frames raw into an AVI, or a
// negative number when it failed.
double FfmpegSeconds(const fs::path& source, const fs::path& target) {
    Settle();
    const std::string command =
        "ffmpeg -v error -y -i '" + source.string() + "' -c:v rawvideo '" + target.string() + "'";
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double seconds = Seconds(start);
    fs::remove(target);
    return status == 0 ? seconds : -1;
}

double PeakResidentMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <width> <height> <frames> [--ffmpeg]\n", argv[0]);
        return 2;
    }
    const int width = std::atoi(argv[1]), height = std::atoi(argv[2]), frames = std::atoi(argv[3]);
    const bool compare = argc > 4 && std::strcmp(argv[4], "--ffmpeg") == 0;
    QApplication app(argc, argv);
    const fs::path folder = fs::temp_directory_path() / "mivra-render-bench";
    fs::remove_all(folder);
    fs::create_directories(folder / "temp");
    fs::current_path(folder);
    const fs::path source = folder / "raw.avi";
    if (!WriteSource(source, width, height, frames)) {
        std::fprintf(stderr, "could not write %s\n", source.c_str());
        return 1;
    }

    const double ffmpeg = compare ? FfmpegSeconds(source, folder / "ffmpeg.avi") : 0;
    ui_script::Begin();
    if (!CreateMainWindow()) return 1;
    ui_script::QueueFileAnswer(source.string(), 1);
    DispatchCommand(kCmdFileOpen);
    if (workspace.slotCount != 1) {
        std::fprintf(stderr, "could not open %s\n", source.c_str());
        return 1;
    }

    EditWorkspace copy = workspace;
    bool rendered = false;
    double seconds = 0;
    {
        IdentityDialog dialog(copy);
        Settle();
        const auto start = Clock::now();
        rendered = dialog.render();
        seconds = Seconds(start);
    }
    if (rendered) ReloadSlotFromTemp(workspace, workspace.currentSlot);
    for (const ui_script::ShownMessage& message : ui_script::ShownMessages())
        std::fprintf(stderr, "%s\n", message.text.c_str());

    const double fps = frames / seconds;
    std::printf("render %dx%d 24-bit, %d frames: %.1f frames/s\n", width, height, frames, fps);
    if (compare && ffmpeg > 0)
        std::printf("ffmpeg -c:v rawvideo, same frames: %.1f frames/s; ratio %.2f (goal >= 1.0)\n",
                    frames / ffmpeg, fps / (frames / ffmpeg));
    std::printf("peak resident memory: %.1f MB\n", PeakResidentMegabytes());

    DestroyMainWindow();
    ui_script::End();
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(folder);
    return rendered && (!compare || ffmpeg > 0) ? 0 : 1;
}
