// The disk a render takes: a colour change of 300 frames in the middle of a long stream, through
// the colour dialog's Ok, against the same change of every frame of a 300-frame stream. Prints
// the temporary bytes the long stream's render left in the instance's folder over 300 frames'
// pixels (goal: at most 1.1) and the ratio of the two renders' times from interleaved runs
// (goal: at most 1.5). Each render is undone again, so every run starts from the file.
//
//   render_disk_bench <long.avi> <short.avi>
#include "color_dialog.h"
#include "host.h"
#include "session.h"
#include "ui/ui_script.h"

#include "timing.h"

#include <QAbstractButton>
#include <QApplication>
#include <QSlider>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kChanged = 300;
constexpr int kCentre = 127;
// Every run writes 1.9 GB: three rounds keep the benchmark within minutes.
constexpr int kRounds = 3;

// Bytes of the frame files in the instance's temporary folder (the journal beside them is
// rewritten by every change, growing or shrinking).
uint64_t TemporaryBytes() {
    uint64_t bytes = 0;
    std::error_code error;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(fs::path(workspace.tempDir).parent_path(), error))
        if (entry.path().extension() == ".avi") bytes += entry.file_size();
    return bytes;
}

// The colour change of frames first .. first + 299 of slot `slot` (the range starts one frame
// later: the frame before it changes too), then undone.
bool RenderAndUndo(int slot, int first, uint64_t* temporaryBytes = nullptr) {
    if (!session::SwitchSlot(slot).done) {
        std::fprintf(stderr, "could not make slot %d current\n", slot);
        return false;
    }
    session::SetRange(first + 1, first + kChanged - 1);
    const uint64_t before = TemporaryBytes();
    const Outcome rendered = session::ApplyEffect([](EditWorkspace* record) {
        ColorDialog dialog(nullptr, *record);
        dialog.show();
        static_cast<QSlider*>(dialog.control(kColorOffsetRed))->setValue(kCentre + 40);
        static_cast<QAbstractButton*>(dialog.control(dlg::kIdOk))->click();
        return dialog.rendered();
    });
    if (temporaryBytes) *temporaryBytes = TemporaryBytes() - before;
    for (const ui_script::ShownMessage& message : ui_script::ShownMessages())
        std::fprintf(stderr, "%s\n", message.text.c_str());
    return rendered.done && ui_script::ShownMessages().empty() && session::Undo().done;
}

bool Open(const char* path) {
    ui_script::QueueFileAnswer(path, 1);
    const bool opened = DispatchCommand(kCmdFileOpen) && ui_script::ShownMessages().empty();
    if (!opened) std::fprintf(stderr, "could not open %s\n", path);
    for (const ui_script::ShownMessage& message : ui_script::ShownMessages())
        std::fprintf(stderr, "%s\n", message.text.c_str());
    return opened;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <long.avi> <short.avi>\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    const fs::path folder = fs::temp_directory_path() / "mivra-render-disk-bench";
    fs::remove_all(folder);
    fs::create_directories(folder / "temp");
    fs::current_path(folder);
    ui_script::Begin();
    bool measured = false;
    uint64_t bytes = 0;
    int longFrames = 0, frameBytes = 0;
    std::vector<bench::Side> sides;
    if (CreateMainWindow() && Open(argv[1]) && Open(argv[2])) {
        session::SwitchSlot(0);
        longFrames = int(workspace.streamInfo.dwLength);
        frameBytes = int(workspace.frameFormat->biSizeImage);
        const int middle = (longFrames - kChanged) / 2;
        sides = {{"300 frames of " + std::to_string(longFrames),
                  [middle] { return RenderAndUndo(0, middle); }},
                 {"all 300 frames of 300", [] { return RenderAndUndo(1, 0); }}};
        measured = RenderAndUndo(0, middle, &bytes) && bench::Interleave(sides, kRounds);
    }
    DestroyMainWindow();
    ui_script::End();
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(folder);
    if (!measured) return 1;

    const double disk = double(bytes) / (double(kChanged) * frameBytes);
    std::printf("colour change of %d frames, %d bytes each: %llu temporary bytes\n", kChanged,
                frameBytes, static_cast<unsigned long long>(bytes));
    bench::PrintGoal("render", "render disk, temporary bytes / 300 frames", disk, "one run",
                     "<= 1.1", disk <= 1.1);
    for (const bench::Side& side : sides)
        bench::PrintRate(side, kChanged);
    std::vector<double> ratios;
    for (size_t i = 0; i < sides[0].cpu.size(); ++i)
        ratios.push_back(sides[0].cpu[i] / sides[1].cpu[i]);
    const bench::Summary r = bench::Summarize(ratios);
    const double ratio =
        bench::Summarize(sides[0].cpu).median / bench::Summarize(sides[1].cpu).median;
    char spread[64];
    std::snprintf(spread, sizeof spread, "%.2f..%.2f", r.low, r.high);
    bench::PrintGoal("render",
                     "render disk, time 300 of " + std::to_string(longFrames) + " over 300 of 300",
                     ratio, spread, "<= 1.5", ratio <= 1.5);
    return 0;
}
