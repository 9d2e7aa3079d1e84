// Speed of AVISaveVA writing 60 frames of 1920x1080 24-bit with four compressors, against the
// ffmpeg command line encoding the same raw frames with the same settings and threads, and full
// frames against cp of the same bytes. Runs interleave (bench/timing.h).
// Usage: save_bench <work folder>
#include "avi_fixtures.h"

#include "avifile/avifile.h"
#include "avifile/stream.h"

#include "timing.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 60;
constexpr int kDistinct = 30; // pictures cycled through, to keep the source in memory
constexpr int kRate = 30;
constexpr DWORD kQuality = ICQUALITY_HIGH / 2;
constexpr double kGoal = 0.9;
constexpr double kFullFramesGoal = 0.5;

// The source slot: kFrames frames cycling through the distinct pictures held in memory.
class MemoryStream final : public AviStream {
  public:
    explicit MemoryStream(const std::vector<fixtures::Frame>& pictures) : pictures(pictures) {}
    HRESULT Info(AVISTREAMINFOA& info) override {
        info = fixtures::VideoInfo(kWidth, kHeight, kRate, 1);
        info.dwLength = kFrames;
        return AVIERR_OK;
    }
    LONG Length() override { return kFrames; }
    HRESULT ReadFormat(LONG, void* format, LONG* size) override {
        const BITMAPINFOHEADER header = fixtures::DibHeader(kWidth, kHeight, 24);
        std::memcpy(format, &header, sizeof header);
        *size = sizeof header;
        return AVIERR_OK;
    }
    HRESULT ReadFrame(LONG frame, void* buffer, LONG bufferSize, LONG* bytes) override {
        const fixtures::Frame& picture = pictures[size_t(frame % kDistinct)];
        if (frame < 0 || frame >= kFrames || bufferSize < LONG(picture.size())) return AVIERR_ERROR;
        std::memcpy(buffer, picture.data(), picture.size());
        if (bytes) *bytes = LONG(picture.size());
        return AVIERR_OK;
    }

  private:
    const std::vector<fixtures::Frame>& pictures;
};

// The pictures top-down, as ffmpeg reads raw bgr24.
bool WriteRaw(const std::string& path, const std::vector<fixtures::Frame>& pictures) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const size_t row = size_t(kWidth) * 3;
    for (const fixtures::Frame& picture : pictures)
        for (int y = kHeight - 1; y >= 0; --y)
            out.write(reinterpret_cast<const char*>(picture.data() + row * size_t(y)),
                      std::streamsize(row));
    return bool(out);
}

struct Codec {
    const char* name;
    DWORD handler;
    std::string ffmpegArguments; // empty: compare with cp instead
};

bool Save(PAVISTREAM source, const Codec& codec, const std::string& path) {
    AVICOMPRESSOPTIONS options{};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = codec.handler;
    options.dwQuality = kQuality;
    options.dwFlags = AVICOMPRESSF_VALID;
    AVICOMPRESSOPTIONS* list[] = {&options};
    return AVISaveVA(path.c_str(), nullptr, nullptr, 1, &source, list) == AVIERR_OK;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: save_bench <work folder>\n");
        return 2;
    }
    const fs::path work = argv[1];
    fs::create_directories(work);
    std::vector<fixtures::Frame> pictures;
    for (int n = 0; n < kDistinct; ++n)
        pictures.push_back(fixtures::PictureFor(kWidth, kHeight, n));
    const std::string raw = (work / "frames.bgr").string();
    if (!WriteRaw(raw, pictures)) return 1;
    auto* source = new MemoryStream(pictures);

    // Quality half-way: quantiser scale 16 for Motion JPEG, rate factor 25.5 for H.264.
    const Codec codecs[] = {
        {"full frames", mmioFOURCC('D', 'I', 'B', ' '), ""},
        {"Motion JPEG", mmioFOURCC('M', 'J', 'P', 'G'), "-c:v mjpeg -pix_fmt yuvj420p -q:v 16"},
        {"FFV1", mmioFOURCC('F', 'F', 'V', '1'), "-c:v ffv1 -pix_fmt bgr0"},
        {"H.264", mmioFOURCC('H', '2', '6', '4'), "-c:v libx264 -pix_fmt yuv420p -crf 25.5"},
    };
    const std::string input = "ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt bgr24 -s " +
                              std::to_string(kWidth) + "x" + std::to_string(kHeight) + " -r " +
                              std::to_string(kRate) + " -stream_loop " +
                              std::to_string(kFrames / kDistinct - 1) + " -i " + raw + " ";
    bool ok = true;
    for (const Codec& codec : codecs) {
        const std::string saved = (work / "saved.avi").string();
        const std::string other = (work / "other.avi").string();
        const bool full = codec.ffmpegArguments.empty();
        std::vector<bench::Side> sides{
            {std::string(codec.name) + ": AVISaveVA", [&] { return Save(source, codec, saved); }},
            {std::string(codec.name) + (full ? ": cp of the saved file" : ": ffmpeg"),
             [&] {
                 return bench::Command(full ? "cp " + saved + " " + other
                                            : input + codec.ffmpegArguments + " -bf 0 -threads 0 " +
                                                  other);
             }},
        };
        const bool measured = bench::Interleave(sides);
        fs::remove(saved);
        fs::remove(other);
        if (!measured) {
            ok = false;
            continue;
        }
        for (const bench::Side& side : sides)
            bench::PrintRate(side, kFrames);
        bench::PrintSpeedGoal("save", std::string(codec.name) + (full ? " vs cp" : " vs ffmpeg"),
                              sides[0], sides[1], full ? kFullFramesGoal : kGoal);
    }
    source->Release();
    fs::remove(raw);
    return ok ? 0 : 1;
}
