// Saving a cut H.264 file as H.264, with two splices in the middle of groups of pictures: the
// save copies the untouched groups and encodes the frames around each splice. Against ffmpeg
// copying the same number of frames (-c copy; goal: at least 0.5 of its speed) and against
// ffmpeg encoding them all again (goal: at least 20 times faster). A full encode of ten minutes
// of 1080p takes the better part of an hour here, so ffmpeg encodes the first 300 frames and its
// time is scaled to the frames saved. Runs interleave (bench/timing.h).
//
//   smart_save_bench <source.mp4> <work folder>
#include "avi_fixtures.h"

#include "avifile/avifile.h"

#include "timing.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr LONG kCutFrames = 30;
constexpr int kEncodedSample = 300;
constexpr int kRounds = 3;
constexpr double kCopyGoal = 0.5;
constexpr double kEncodeGoal = 20;

// The source with a second cut out at a third and at two thirds of its length, each starting
// half-way into a group of pictures of 30 frames.
PAVISTREAM CutTwice(const std::string& path) {
    PAVISTREAM view = fixtures::OpenView(path), edited = nullptr;
    if (!view) return nullptr;
    const HRESULT made = CreateEditableStream(&edited, view);
    AVIStreamRelease(view);
    if (made != AVIERR_OK) return nullptr;
    const LONG length = AVIStreamLength(edited);
    for (LONG at : {length * 2 / 3 / 30 * 30 + 15, length / 3 / 30 * 30 + 15}) {
        LONG start = at, count = kCutFrames;
        PAVISTREAM cut = nullptr;
        if (EditStreamCut(edited, &start, &count, &cut) != AVIERR_OK) {
            AVIStreamRelease(edited);
            return nullptr;
        }
        AVIStreamRelease(cut);
    }
    return edited;
}

bool SaveAsH264(PAVISTREAM stream, const std::string& path) {
    AVICOMPRESSOPTIONS options{};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = mmioFOURCC('H', '2', '6', '4');
    options.dwQuality = ICQUALITY_HIGH * 3 / 4;
    AVICOMPRESSOPTIONS* list[] = {&options};
    return AVISaveVA(path.c_str(), nullptr, nullptr, 1, &stream, list) == AVIERR_OK;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: smart_save_bench <source.mp4> <work folder>\n");
        return 2;
    }
    const std::string source = argv[1];
    const fs::path work = argv[2];
    const std::string saved = (work / "saved.avi").string(),
                      copied = (work / "copied.avi").string(),
                      encoded = (work / "encoded.avi").string();
    PAVISTREAM stream = CutTwice(source);
    if (!stream) {
        std::fprintf(stderr, "could not open and cut %s\n", source.c_str());
        return 1;
    }
    const LONG frames = AVIStreamLength(stream);
    const std::string input = " -nostdin -v error -y -i '" + source + "' ";
    std::vector<bench::Side> sides{
        {"our save, cut twice", [&] { return SaveAsH264(stream, saved); }},
        {"ffmpeg -c copy, as many frames",
         [&] {
             return bench::Command("ffmpeg" + input + "-c copy -an -frames:v " +
                                   std::to_string(frames) + " '" + copied + "'");
         }},
        {"ffmpeg encoding 300 frames",
         [&] {
             return bench::Command("ffmpeg" + input + "-c:v libx264 -crf 12.75 -an -frames:v " +
                                   std::to_string(kEncodedSample) + " '" + encoded + "'");
         }},
    };
    const bool ran = bench::Interleave(sides, kRounds);
    AVIStreamRelease(stream);
    if (!ran) return 1;
    std::printf("%ld frames saved\n", long(frames));
    for (const bench::Side& side : sides)
        bench::PrintRate(side, side.name == sides[2].name ? kEncodedSample : frames);
    bench::PrintSpeedGoal("save", "smart save of a cut H.264 vs ffmpeg -c copy", sides[0], sides[1],
                          kCopyGoal);
    // The encode's CPU time per frame, for as many frames as the save writes.
    bench::Side scaled = sides[2];
    for (double& seconds : scaled.cpu)
        seconds *= double(frames) / kEncodedSample;
    for (double& seconds : scaled.wall)
        seconds *= double(frames) / kEncodedSample;
    bench::PrintSpeedGoal("save", "smart save of a cut H.264 vs ffmpeg encoding it all", sides[0],
                          scaled, kEncodeGoal);
    for (const std::string& path : {saved, copied, encoded})
        fs::remove(path);
    return 0;
}
