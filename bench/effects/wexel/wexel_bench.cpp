// Cross-fades 300 frames of 1920x1080 24-bit uncompressed video through the dialog's Ok (the
// render into scratch file 98 and the copy into the slot's file) and compares its frames per
// second with the ffmpeg command line on the same file: the blend filter (all_opacity) and a plain
// copy without a filter, both writing raw AVI on one thread as the render does.
#include "avi_fixtures.h"
#include "crossfade_dialog.h"
#include "host.h"
#include "ui/ui_script.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMainWindow>
#include <QSlider>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int kFrames = 300;

double Seconds(const std::function<bool()>& run) {
    const auto start = std::chrono::steady_clock::now();
    if (!run()) return 0.0;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The current slot blended into itself over all its frames, through the controls.
bool Render() {
    EditWorkspace ws = workspace;
    crossfade::CrossfadeDialog dialog(nullptr, ws);
    dialog.show();
    static_cast<QSlider*>(dialog.control(kCrossfadeSourceEnd))->setValue(kFrames - 1);
    static_cast<QAbstractButton*>(dialog.control(dlg::kIdOk))->click();
    return dialog.result() == 1;
}

// ffmpeg on one thread from `inputs` through `filter` to raw 24-bit AVI.
bool Ffmpeg(const std::string& inputs, const std::string& filter) {
    const std::string command = "ffmpeg -v error -y " + inputs + " -filter_complex_threads 1 " +
                                filter + " -threads 1 -c:v rawvideo -pix_fmt bgr24 ffmpeg.avi";
    return std::system(command.c_str()) == 0;
}

double Fps(double seconds) {
    return seconds > 0 ? kFrames / seconds : 0.0;
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
    ui_script::Begin();
    if (!CreateMainWindow()) return 1;
    ui_script::QueueFileAnswer(source, 1);
    DispatchCommand(kCmdFileOpen);

    const double render = Fps(Seconds(Render));
    const std::string input = "-threads 1 -i " + source;
    const double blend = Fps(Seconds([&] {
        return Ffmpeg(input + " " + input, "-filter_complex [0:v][1:v]blend=all_opacity=0.5");
    }));
    const double copy = Fps(Seconds([&] { return Ffmpeg(input, "-map 0:v"); }));

    std::printf("cross-fade, %d frames of 1920x1080 24-bit, all blended, one thread\n", kFrames);
    std::printf("  wexel render (Ok through the slot's file)  %7.1f fps\n", render);
    std::printf("  ffmpeg blend=all_opacity to raw AVI        %7.1f fps   render / blend %.2f "
                "(goal >= 2.0)\n",
                blend, blend > 0 ? render / blend : 0.0);
    std::printf("  ffmpeg copy, no filter, to raw AVI         %7.1f fps   render / copy  %.2f "
                "(goal >= 0.8)\n",
                copy, copy > 0 ? render / copy : 0.0);

    DestroyMainWindow();
    ui_script::End();
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(folder);
    return render > 0 && blend > 0 && copy > 0 ? 0 : 1;
}
