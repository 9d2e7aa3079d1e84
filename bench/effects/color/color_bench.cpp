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

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 300;
// The same offsets on both sides, saturating: red +40, green +20, blue +10.
constexpr const char* kLut = "lutrgb=r=val+40:g=val+20:b=val+10";
constexpr int kCentre = 127;

double Seconds(const std::function<bool()>& run) {
    const auto start = std::chrono::steady_clock::now();
    if (!run()) return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One ffmpeg run writing raw AVI on one thread, as the dialog renders on one.
double Ffmpeg(const fs::path& source, const std::string& filter, const fs::path& output) {
    const std::string command = "ffmpeg -v error -y -threads 1 -i " + source.string() +
                                " -filter_threads 1 " + (filter.empty() ? "" : "-vf " + filter) +
                                " -threads 1 -c:v rawvideo -pix_fmt bgr24 -f avi " +
                                output.string();
    const double seconds = Seconds([&] { return std::system(command.c_str()) == 0; });
    fs::remove(output);
    if (seconds < 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
    return seconds;
}

void Slide(dlg::Dialog& dialog, int id, int position) {
    static_cast<QSlider*>(dialog.control(id))->setValue(position);
}

// The dialog's Ok over the whole slot, with the offsets above and a red step of 1 per frame.
double DialogRender(const fs::path& source) {
    ui_script::QueueFileAnswer(source.string(), 1);
    if (!DispatchCommand(kCmdFileOpen)) return -1;
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
    const double seconds = Seconds([&] {
        ok->click();
        return dialog.rendered() && ui_script::ShownMessages().empty();
    });
    if (seconds < 0) std::fprintf(stderr, "the dialog's render failed\n");
    ReloadSlotFromTemp(workspace, workspace.currentSlot);
    return seconds;
}

void Print(const char* what, double seconds) {
    std::printf("%-46s %8.1f frames/s\n", what, kFrames / seconds);
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
    const double copy = Ffmpeg(source, "", folder / "copy.avi");
    const double lut = Ffmpeg(source, kLut, folder / "lut.avi");
    ui_script::Begin();
    double ours = -1;
    if (QMainWindow* window = CreateMainWindow()) {
        window->show();
        ours = DialogRender(source);
        DestroyMainWindow();
    }
    ui_script::End();
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(folder);
    if (copy < 0 || lut < 0 || ours < 0) return 1;

    std::printf("colour change, %d frames of %dx%d 24-bit, raw AVI, one thread\n", kFrames, kWidth,
                kHeight);
    Print("ffmpeg, no filter (copy)", copy);
    Print(("ffmpeg -vf " + std::string(kLut)).c_str(), lut);
    Print("color.tsk dialog, Ok", ours);
    std::printf("ratio against lutrgb      %.2f (goal >= 2.0)\n", lut / ours);
    std::printf("ratio against the copy    %.2f (goal >= 0.8)\n", copy / ours);
    return lut / ours >= 2.0 && copy / ours >= 0.8 ? 0 : 1;
}
