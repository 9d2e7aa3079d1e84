// Composites 300 frames of 1920x1080 24-bit through the mask dialog's Ok (base, mask and
// background slots, the whole base range, key black) and compares it with the ffmpeg command
// line on the same files, both on one thread: the colour-key chain that makes the same picture
// (colorkey on the mask, its alpha on the base, overlay on the background) and a plain copy of
// the base, the I/O limit. Prints frames per second and the ratios.
// Usage: mask_bench <work folder>; the folder is made and removed.
#include "avi_fixtures.h"
#include "host.h"
#include "mask_dialog.h"
#include "slots.h"
#include "ui/ui_script.h"

#include "cpu_clock.h"

#include <QAbstractButton>
#include <QApplication>
#include <QSlider>
#include <QTreeWidget>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kW = 1920, kH = 1080, kFrames = 300;
constexpr int kRow = kW * 3;

using Clock = std::chrono::steady_clock;

struct Span {
    double wall = 0, cpu = 0;
};

// Wall and CPU time of `work`, started with no writes of earlier steps still pending, so that
// the file system's write-back of one step does not slow down the next.
template <typename Work> Span Measure(Work work) {
    ::sync();
    const auto start = Clock::now();
    const double cpu = CpuSeconds();
    work();
    return {std::chrono::duration<double>(Clock::now() - start).count(), CpuSeconds() - cpu};
}

// Writes kFrames frames through the platform's writer, each painted row by row.
bool WriteStream(const std::string& path,
                 const std::function<void(int n, int y, uint8_t* row)>& paintRow) {
    PAVIFILE file = nullptr;
    if (AVIFileOpenA(&file, path.c_str(), OF_CREATE | OF_WRITE | OF_SHARE_DENY_NONE, nullptr))
        return false;
    AVISTREAMINFOA info = fixtures::VideoInfo(kW, kH);
    PAVISTREAM stream = nullptr;
    const bool created = AVIFileCreateStreamA(file, &stream, &info) == AVIERR_OK;
    AVIFileRelease(file);
    if (!created) return false;
    BITMAPINFOHEADER format = fixtures::DibHeader(kW, kH, 24);
    std::vector<uint8_t> pixels(format.biSizeImage);
    bool ok = true;
    for (int n = 0; n < kFrames && ok; ++n) {
        for (int y = 0; y < kH; ++y)
            paintRow(n, y, &pixels[size_t(y) * kRow]);
        ok = AVIStreamSetFormat(stream, n, &format, sizeof format) == AVIERR_OK &&
             AVIStreamWrite(stream, n, 1, pixels.data(), LONG(pixels.size()), AVIIF_KEYFRAME,
                            nullptr, nullptr) == AVIERR_OK;
    }
    AVIStreamRelease(stream);
    return ok;
}

// Base: horizontal bands that move; mask: black (the key) left of a column that moves, grey
// elsewhere; background: a grey level per frame.
bool MakeFiles(const fs::path& folder) {
    return WriteStream((folder / "base.avi").string(),
                       [](int n, int y, uint8_t* row) { std::memset(row, (y + n) & 255, kRow); }) &&
           WriteStream((folder / "mask.avi").string(),
                       [](int n, int, uint8_t* row) {
                           const int black = (n * 6 % kW) * 3;
                           std::memset(row, 0, black);
                           std::memset(row + black, 90, kRow - black);
                       }) &&
           WriteStream((folder / "back.avi").string(),
                       [](int n, int, uint8_t* row) { std::memset(row, (n * 7) & 255, kRow); });
}

bool Open(const fs::path& path) {
    ui_script::QueueFileAnswer(path.string(), 1);
    if (DispatchCommand(kCmdFileOpen) && ui_script::ShownMessages().empty()) return true;
    std::fprintf(stderr, "%s does not open\n", path.c_str());
    return false;
}

void Activate(mask::MaskDialog& dialog, int listId, int row) {
    auto* list = static_cast<QTreeWidget*>(dialog.control(listId));
    list->setCurrentItem(list->topLevelItem(row));
    emit list->itemActivated(list->topLevelItem(row), 0);
}

// The dialog on slots base, mask, background with the whole base range; the span is Ok's.
bool RenderThroughDialog(Span& span) {
    EditWorkspace copy = workspace;
    mask::MaskDialog dialog(nullptr, copy);
    dialog.show();
    QCoreApplication::processEvents();
    Activate(dialog, kMaskMaskSlots, 1);
    Activate(dialog, kMaskBackSlots, 2);
    static_cast<QSlider*>(dialog.control(kMaskBaseEnd))->setValue(kFrames - 1);
    QCoreApplication::processEvents();
    auto* ok = static_cast<QAbstractButton*>(dialog.control(dlg::kIdOk));
    span = Measure([ok] { ok->click(); });
    return dialog.result() == 1 && ui_script::ShownMessages().empty();
}

bool Ffmpeg(const std::string& arguments, Span& span) {
    const std::string command = "ffmpeg -v error -y " + arguments;
    int status = 0;
    span = Measure([&] { status = std::system(command.c_str()); });
    if (status != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
    return status == 0;
}

void Print(const char* what, const Span& span) {
    std::printf("%-52s %7.1f fps wall  %7.1f fps CPU\n", what, kFrames / span.wall,
                kFrames / span.cpu);
}

void PrintRatio(const char* what, const Span& ours, const Span& theirs, double goal) {
    std::printf("%-52s %7.2f wall      %7.2f CPU   (goal >= %.1f)\n", what, theirs.wall / ours.wall,
                theirs.cpu / ours.cpu, goal);
}

int Run(const fs::path& folder) {
    if (!MakeFiles(folder)) {
        std::fprintf(stderr, "could not write the test files\n");
        return 1;
    }
    ui_script::Begin();
    if (!CreateMainWindow()) return 1;
    for (const char* name : {"base.avi", "mask.avi", "back.avi"})
        if (!Open(folder / name)) return 1;
    SwitchSlot(0);
    Span ours, chain, copy;
    const bool rendered = RenderThroughDialog(ours);
    DestroyMainWindow();
    ui_script::End();
    if (!rendered) {
        std::fprintf(stderr, "the render did not complete\n");
        return 1;
    }
    fs::remove(folder / "temp" / "00.avi");
    const std::string base = (folder / "base.avi").string();
    const std::string inputs = "-threads 1 -i " + base + " -threads 1 -i " +
                               (folder / "mask.avi").string() + " -threads 1 -i " +
                               (folder / "back.avi").string();
    const std::string keyChain =
        "[1:v]format=bgra,colorkey=black:0.01:0,alphaextract[a];[0:v]format=bgra[b];"
        "[b][a]alphamerge[fg];[2:v][fg]overlay=format=rgb,format=bgr24";
    const std::string out = (folder / "ffmpeg.avi").string();
    if (!Ffmpeg(inputs + " -filter_complex_threads 1 -filter_complex \"" + keyChain +
                    "\" -c:v rawvideo -f avi " + out,
                chain) ||
        !Ffmpeg("-threads 1 -i " + base + " -c:v copy -f avi " + out, copy))
        return 1;
    std::printf("mask, 300 frames 1920x1080 24-bit, one thread\n");
    Print("mask dialog Ok (render into the slot)", ours);
    Print("ffmpeg colorkey+alphamerge+overlay", chain);
    Print("ffmpeg copy of the base, no filter", copy);
    PrintRatio("ours over the ffmpeg chain", ours, chain, 2.0);
    PrintRatio("ours over the ffmpeg copy", ours, copy, 0.6);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: mask_bench <work folder>\n");
        return 2;
    }
    QApplication app(argc, argv);
    const fs::path folder = fs::absolute(argv[1]);
    fs::remove_all(folder);
    fs::create_directories(folder / "temp");
    fs::current_path(folder);
    const int result = Run(folder);
    fs::current_path(folder.parent_path());
    fs::remove_all(folder);
    return result;
}
