// Colour change of 60 frames of 1920x1080 24-bit uncompressed video through the dialog's Ok
// (read from the slot, transform, write the scratch file, copy it over the slot's file), against
// the ffmpeg command line applying lutrgb to the same frames and writing them with no filter,
// each writing raw AVI on one thread. Runs interleave (bench/timing.h); goals: at least 2.0
// against lutrgb, at least 0.8 of the no-filter run (the I/O limit).
#include "avi_fixtures.h"
#include "avi_io.h"
#include "color_dialog.h"
#include "editor_panel.h"
#include "host.h"
#include "panels.h"
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

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 60;
// The same offsets on both sides, saturating: red +40, green +20, blue +10.
constexpr const char* kLut = "lutrgb=r=val+40:g=val+20:b=val+10";
constexpr int kCentre = 127;

// One ffmpeg run writing raw AVI on one thread, as the dialog renders on one. With and without
// a filter the frames take the same path through the decoder, the encoder and the muxer.
bool Ffmpeg(const fs::path& source, const std::string& filter, const fs::path& output) {
    const bool ok =
        bench::Command("ffmpeg -nostdin -v error -y -threads 1 -i " + source.string() +
                       " -filter_threads 1 -vf " + (filter.empty() ? "null" : filter) +
                       " -threads 1 -c:v rawvideo -pix_fmt bgr24 -f avi " + output.string());
    fs::remove(output);
    return ok;
}

void Slide(dlg::Dialog& dialog, int id, int position) {
    static_cast<QSlider*>(dialog.control(id))->setValue(position);
}

// The dialog's Ok over the whole slot, with the offsets above and a red step of 1 per frame; the
// slot is reloaded from its file as the editor does after a render.
bool DialogRender() {
    EditWorkspace ws = workspace;
    ColorDialog dialog(nullptr, ws);
    dialog.show();
    static_cast<QAbstractButton*>(dialog.control(kColorNotLooping))->click();
    Slide(dialog, kColorOffsetRed, kCentre + 40);
    Slide(dialog, kColorOffsetGreen, kCentre + 20);
    Slide(dialog, kColorOffsetBlue, kCentre + 10);
    Slide(dialog, kColorStepRed, kCentre + 1);
    static_cast<QAbstractButton*>(dialog.control(dlg::kIdOk))->click();
    if (!dialog.rendered() || !ui_script::ShownMessages().empty()) return false;
    session::ReloadAfterEffect();
    return true;
}

bool OpenWholeSlot(const fs::path& source) {
    ui_script::QueueFileAnswer(source.string(), 1);
    if (!DispatchCommand(kCmdFileOpen)) return false;
    Slide(*EditorPanel(), kEditorEndSlider, kFrames - 1);
    Slide(*EditorPanel(), kEditorStartSlider, 0);
    return true;
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
    std::vector<bench::Side> sides{
        {"color.tsk dialog, Ok", DialogRender},
        {"ffmpeg -vf " + std::string(kLut),
         [&] { return Ffmpeg(source, kLut, folder / "lut.avi"); }},
        {"ffmpeg, no filter", [&] { return Ffmpeg(source, "", folder / "copy.avi"); }},
    };
    ui_script::Begin();
    bool measured = false;
    if (QMainWindow* window = CreateMainWindow()) {
        window->show();
        measured = OpenWholeSlot(source) && bench::Interleave(sides);
        DestroyMainWindow();
    }
    ui_script::End();
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(folder);
    if (!measured) return 1;

    std::printf("colour change, %d frames of %dx%d 24-bit, raw AVI, one thread, frames per "
                "second\n",
                kFrames, kWidth, kHeight);
    for (const bench::Side& side : sides)
        bench::PrintRate(side, kFrames);
    bench::PrintSpeedGoal("effects/color", "dialog Ok vs ffmpeg lutrgb", sides[0], sides[1], 2.0);
    bench::PrintSpeedGoal("effects/color", "dialog Ok vs ffmpeg no-filter copy", sides[0], sides[2],
                          0.8);
    return 0;
}
