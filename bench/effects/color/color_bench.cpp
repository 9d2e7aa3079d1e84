// Colour change of 300 frames of 1920x1080 24-bit uncompressed video through the dialog's Ok
// (read from the slot, transform, write the scratch file, copy it over the slot's file), against
// the ffmpeg command line applying lutrgb to the same frames and copying them with no filter,
// each writing raw AVI on one thread. Prints frames per second and the ratios; goals: at least
// 2.0 against lutrgb, at least 0.8 of the plain copy (the I/O limit).
#include "avi_fixtures.h"
#include "avi_io.h"
#include "color_dialog.h"
#include "editor_panel.h"
#include "host.h"
#include "panels.h"
#include "ui/ui_script.h"

#include "cpu_clock.h"

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

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 300;
// The same offsets on both sides, saturating: red +40, green +20, blue +10.
constexpr const char* kLut = "lutrgb=r=val+40:g=val+20:b=val+10";
constexpr int kCentre = 127;

struct Cost {
    double wall = -1, cpu = -1; // seconds; negative when the run failed
    bool failed() const { return wall < 0; }
};

// Dirty pages of earlier writes are flushed first, so that no run pays for another's.
Cost Measure(const std::function<bool()>& run) {
    ::sync();
    const auto start = std::chrono::steady_clock::now();
    const double cpu = CpuSeconds();
    if (!run()) return {};
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            CpuSeconds() - cpu};
}

// One ffmpeg run writing raw AVI on one thread, as the dialog renders on one.
Cost Ffmpeg(const fs::path& source, const std::string& filter, const fs::path& output) {
    const std::string command = "ffmpeg -v error -y -threads 1 -i " + source.string() +
                                " -filter_threads 1 " + (filter.empty() ? "" : "-vf " + filter) +
                                " -threads 1 -c:v rawvideo -pix_fmt bgr24 -f avi " +
                                output.string();
    const Cost cost = Measure([&] { return std::system(command.c_str()) == 0; });
    fs::remove(output);
    if (cost.failed()) std::fprintf(stderr, "failed: %s\n", command.c_str());
    return cost;
}

void Slide(dlg::Dialog& dialog, int id, int position) {
    static_cast<QSlider*>(dialog.control(id))->setValue(position);
}

// The dialog's Ok over the whole slot, with the offsets above and a red step of 1 per frame.
Cost DialogRender(const fs::path& source) {
    ui_script::QueueFileAnswer(source.string(), 1);
    if (!DispatchCommand(kCmdFileOpen)) return {};
    Slide(*EditorPanel(), kEditorEndSlider, kFrames - 1);
    Slide(*EditorPanel(), kEditorStartSlider, 0);
    EditWorkspace ws = workspace;
    ColorDialog dialog(nullptr, ws);
    dialog.show();
    static_cast<QAbstractButton*>(dialog.control(kColorNotLooping))->click();
    Slide(dialog, kColorOffsetRed, kCentre + 40);
    Slide(dialog, kColorOffsetGreen, kCentre + 20);
    Slide(dialog, kColorOffsetBlue, kCentre + 10);
    Slide(dialog, kColorStepRed, kCentre + 1);
    auto* ok = static_cast<QAbstractButton*>(dialog.control(dlg::kIdOk));
    const Cost cost = Measure([&] {
        ok->click();
        return dialog.rendered() && ui_script::ShownMessages().empty();
    });
    if (cost.failed()) std::fprintf(stderr, "the dialog's render failed\n");
    ReloadSlotFromTemp(workspace, workspace.currentSlot);
    return cost;
}

void Print(const std::string& what, const Cost& cost) {
    std::printf("%-46s %8.1f %8.1f\n", what.c_str(), kFrames / cost.wall, kFrames / cost.cpu);
}

void PrintRatio(const char* what, const Cost& theirs, const Cost& ours, double goal) {
    std::printf("%-46s %8.2f %8.2f   (goal >= %.1f)\n", what, theirs.wall / ours.wall,
                theirs.cpu / ours.cpu, goal);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const fs::path folder = fs::temp_directory_path() / "mivra-color-bench";
    fs::remove_all(folder);
    fs::create_directories(folder / "temp");
    fs::current_path(folder);
    const fs::path source = folder / "source.avi";
    if (!fixtures::WriteTinyAvi(source.string(), kWidth, kHeight, 24, kFrames)) {
        std::fprintf(stderr, "could not write %s\n", source.c_str());
        return 1;
    }
    const Cost copy = Ffmpeg(source, "", folder / "copy.avi");
    const Cost lut = Ffmpeg(source, kLut, folder / "lut.avi");
    ui_script::Begin();
    Cost ours;
    if (QMainWindow* window = CreateMainWindow()) {
        window->show();
        ours = DialogRender(source);
        DestroyMainWindow();
    }
    ui_script::End();
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(folder);
    if (copy.failed() || lut.failed() || ours.failed()) return 1;

    std::printf("colour change, %d frames of %dx%d 24-bit, raw AVI, one thread\n", kFrames, kWidth,
                kHeight);
    std::printf("%-46s %8s %8s\n", "frames per second", "wall", "CPU");
    Print("ffmpeg, no filter (copy)", copy);
    Print("ffmpeg -vf " + std::string(kLut), lut);
    Print("color.tsk dialog, Ok", ours);
    PrintRatio("ratio against lutrgb", lut, ours, 2.0);
    PrintRatio("ratio against the copy", copy, ours, 0.8);
    return lut.wall / ours.wall >= 2.0 && copy.wall / ours.wall >= 0.8 ? 0 : 1;
}
