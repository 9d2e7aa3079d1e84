// Renders every frame of an uncompressed slot into the slot through renderToSlot with an effect
// that leaves the frames as they are, and prints frames per second and the peak resident memory
// of the process. With --ffmpeg it interleaves the render with ffmpeg writing the same file's
// frames into a raw AVI (bench/timing.h) and prints the ratio.
//
//   render_bench <width> <height> <frames> [--ffmpeg]
#include "avi_fixtures.h"
#include "avi_io.h"
#include "framework.h"
#include "host.h"
#include "ui/ui_script.h"

#include "timing.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace fs = std::filesystem;

namespace {

const dlg::ControlDef kControls[] = {
    {dlg::kIdOk, dlg::Kind::PushButton, "Ok", 5, 5, 40, 14},
    {dlg::kIdCancel, dlg::Kind::PushButton, "Cansel", 50, 5, 40, 14},
    {plugin::kIdProgress, dlg::Kind::Progress, "", 5, 24, 85, 8, dlg::kBorder},
};

// The identity effect: every output frame is the source frame, read and written again.
class IdentityRenderer : public plugin::Renderer {
  public:
    explicit IdentityRenderer(const EditWorkspace& ws) : ws_(ws), format_(*ws.frameFormat) {}
    int64_t frameCount() const override { return ws_.streamInfo.dwLength; }
    const BITMAPINFOHEADER& format() const override { return format_; }
    plugin::FrameResult render(int64_t i, uint8_t* pixels) override {
        if (!plugin::ReadFrame(ws_.currentStream, i, pixels, format_))
            return plugin::FrameResult::Failed("unreadable frame");
        return plugin::FrameResult::Made();
    }

  private:
    const EditWorkspace& ws_;
    BITMAPINFOHEADER format_;
};

class IdentityDialog : public plugin::PluginDialog {
  public:
    explicit IdentityDialog(EditWorkspace& ws)
        : PluginDialog({"Identity", 95, 37, kControls}, nullptr, ws) {}

    bool render() {
        IdentityRenderer renderer(workspace());
        return renderToSlot(renderer);
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

// ffmpeg reading the file and writing its frames raw into an AVI on one thread, as the render
// does; the output is removed again.
bool Ffmpeg(const fs::path& source, const fs::path& target) {
    const bool ok = bench::Command("ffmpeg -nostdin -v error -y -threads 1 -i '" + source.string() +
                                   "' -threads 1 -c:v rawvideo -pix_fmt bgr24 " + "-f avi '" +
                                   target.string() + "'");
    fs::remove(target);
    return ok;
}

// The identity render of the whole slot, then the slot reloaded from its file.
bool Render() {
    EditWorkspace copy = workspace;
    bool rendered = false;
    {
        IdentityDialog dialog(copy);
        rendered = dialog.render();
    }
    if (rendered) session::ReloadAfterEffect();
    for (const ui_script::ShownMessage& message : ui_script::ShownMessages())
        std::fprintf(stderr, "%s\n", message.text.c_str());
    return rendered && ui_script::ShownMessages().empty();
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

    ui_script::Begin();
    if (!CreateMainWindow()) return 1;
    ui_script::QueueFileAnswer(source.string(), 1);
    DispatchCommand(kCmdFileOpen);
    if (workspace.slotCount != 1) {
        std::fprintf(stderr, "could not open %s\n", source.c_str());
        return 1;
    }

    std::vector<bench::Side> sides{
        {"render into the slot", Render},
        {"ffmpeg -c:v rawvideo", [&] { return Ffmpeg(source, folder / "ffmpeg.avi"); }},
    };
    bool ok = true;
    if (compare) {
        ok = bench::Interleave(sides);
        if (ok) {
            std::printf("render %dx%d 24-bit, %d frames, frames per second\n", width, height,
                        frames);
            for (const bench::Side& side : sides)
                bench::PrintRate(side, frames);
            bench::PrintSpeedGoal("render", "identity render vs ffmpeg raw copy", sides[0],
                                  sides[1], 1.0);
        }
    } else {
        ok = Render();
    }
    std::printf("peak resident memory: %.1f MB\n", PeakResidentMegabytes());

    DestroyMainWindow();
    ui_script::End();
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(folder);
    return ok ? 0 : 1;
}
