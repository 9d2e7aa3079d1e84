// Cross-fades 60 frames of 1920x1080 24-bit uncompressed video through the dialog's Ok (the
// render into scratch file 98 and the copy into the slot's file) and compares it with the ffmpeg
// command line on the same file: the blend filter (all_opacity) and the frames written with no
// filter, both writing raw AVI on one thread as the render does. Runs interleave
// (bench/timing.h).
#include "avi_fixtures.h"
#include "avi_io.h"
#include "crossfade_dialog.h"
#include "host.h"
#include "ui/ui_script.h"

#include "timing.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMainWindow>
#include <QSlider>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kFrames = 60;

// The current slot blended into itself over all its frames, through the controls; the slot is
// reloaded from its file as the editor does after a render.
bool Render() {
    EditWorkspace ws = workspace;
    crossfade::CrossfadeDialog dialog(nullptr, ws);
    dialog.show();
    static_cast<QSlider*>(dialog.control(kCrossfadeSourceEnd))->setValue(kFrames - 1);
    static_cast<QAbstractButton*>(dialog.control(dlg::kIdOk))->click();
    if (dialog.result() != 1) return false;
    session::ReloadAfterEffect();
    return true;
}

// ffmpeg on one thread from `inputs` through `filter` to raw 24-bit AVI, removed again.
bool Ffmpeg(const std::string& inputs, const std::string& filter) {
    const bool ok = bench::Command("ffmpeg -nostdin -v error -y " + inputs +
                                   " -filter_complex_threads 1 -filter_complex " + filter +
                                   " -threads 1 -c:v rawvideo -pix_fmt bgr24 -f avi ffmpeg.avi");
    fs::remove("ffmpeg.avi");
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const fs::path folder = fs::temp_directory_path() / "mivra-wexel-bench";
    fs::remove_all(folder);
    fs::create_directories(folder / "temp");
    fs::current_path(folder);
    const std::string source = (folder / "source.avi").string();
    if (!fixtures::WriteTinyAvi(source, 1920, 1080, 24, kFrames)) {
        std::fprintf(stderr, "could not write %s\n", source.c_str());
        return 1;
    }
    const std::string input = "-threads 1 -i " + source;
    std::vector<bench::Side> sides{
        {"wexel render (Ok through the slot's file)", Render},
        {"ffmpeg blend=all_opacity to raw AVI",
         [&] { return Ffmpeg(input + " " + input, "[0:v][1:v]blend=all_opacity=0.5"); }},
        {"ffmpeg no filter to raw AVI", [&] { return Ffmpeg(input, "[0:v]null"); }},
    };
    ui_script::Begin();
    bool measured = false;
    if (CreateMainWindow()) {
        ui_script::QueueFileAnswer(source, 1);
        measured = DispatchCommand(kCmdFileOpen) && bench::Interleave(sides);
        DestroyMainWindow();
    }
    ui_script::End();
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(folder);
    if (!measured) return 1;

    std::printf("cross-fade, %d frames of 1920x1080 24-bit, all blended, one thread, frames per "
                "second\n",
                kFrames);
    for (const bench::Side& side : sides)
        bench::PrintRate(side, kFrames);
    bench::PrintSpeedGoal("effects/wexel", "dialog Ok vs ffmpeg blend", sides[0], sides[1], 2.0);
    bench::PrintSpeedGoal("effects/wexel", "dialog Ok vs ffmpeg no-filter copy", sides[0], sides[2],
                          0.8);
    return 0;
}
