// Speed of AVISaveVA writing 60 frames of 1920x1080 24-bit with four compressors, against the
// ffmpeg command line encoding the same raw frames with the same settings and threads, and full
// frames against cp of the same bytes; then Motion JPEG with 16-bit PCM sound beside it, against
// the same save without sound and against ffmpeg writing the same frames and samples. The sound
// comes from a PCM file made with ffmpeg: its audio stream opened through the platform where
// the platform reads audio, else its samples held in memory. Runs interleave (bench/timing.h).
// Usage: save_bench <work folder>
#include "avi_fixtures.h"

#include "avifile/avifile.h"
#include "avifile/stream.h"

#include "timing.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
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
constexpr double kAudioCostGoal = 0.95;
constexpr int kAudioRounds = 9;
constexpr int kSampleRate = 48000;
constexpr int kChannels = 2;

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

// The sound as 16-bit PCM held in memory, for a platform that does not read audio streams.
class MemoryAudioStream final : public AviStream {
  public:
    explicit MemoryAudioStream(std::vector<uint8_t> pcm) : pcm(std::move(pcm)) {
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = kChannels;
        format.nSamplesPerSec = kSampleRate;
        format.wBitsPerSample = 16;
        format.nBlockAlign = kChannels * sizeof(int16_t);
        format.nAvgBytesPerSec = kSampleRate * format.nBlockAlign;
    }
    HRESULT Info(AVISTREAMINFOA& info) override {
        info = {};
        info.fccType = streamtypeAUDIO;
        info.dwScale = info.dwSampleSize = format.nBlockAlign;
        info.dwRate = format.nAvgBytesPerSec;
        info.dwLength = DWORD(Length());
        return AVIERR_OK;
    }
    LONG Length() override { return LONG(pcm.size() / format.nBlockAlign); }
    HRESULT ReadFormat(LONG, void* out, LONG* size) override {
        std::memcpy(out, &format, std::min<size_t>(sizeof format, size_t(*size)));
        *size = sizeof format;
        return AVIERR_OK;
    }
    HRESULT ReadFrame(LONG sample, void* buffer, LONG bufferSize, LONG* bytes) override {
        return Read(sample, 1, buffer, bufferSize, bytes, nullptr);
    }
    HRESULT Read(LONG start, LONG samples, void* buffer, LONG bufferSize, LONG* bytes,
                 LONG* samplesRead) override {
        const LONG count = std::min(samples, Length() - start);
        const LONG needed = count * format.nBlockAlign;
        if (start < 0 || count < 0 || !buffer || bufferSize < needed) return AVIERR_ERROR;
        std::memcpy(buffer, pcm.data() + size_t(start) * format.nBlockAlign, size_t(needed));
        if (bytes) *bytes = needed;
        if (samplesRead) *samplesRead = count;
        return AVIERR_OK;
    }

  private:
    std::vector<uint8_t> pcm;
    WAVEFORMATEX format{};
};

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

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

// Saves the frames, and the sound when there is one, as PCM.
bool Save(PAVISTREAM source, const Codec& codec, const std::string& path,
          PAVISTREAM sound = nullptr) {
    AVICOMPRESSOPTIONS options{};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = codec.handler;
    options.dwQuality = kQuality;
    options.dwFlags = AVICOMPRESSF_VALID;
    AVICOMPRESSOPTIONS audio{};
    audio.fccType = streamtypeAUDIO;
    audio.fccHandler = WAVE_FORMAT_PCM;
    AVICOMPRESSOPTIONS* list[] = {&options, &audio};
    PAVISTREAM streams[] = {source, sound};
    return AVISaveVA(path.c_str(), nullptr, nullptr, sound ? 2 : 1, streams, list) == AVIERR_OK;
}

// The sound of the frames' length, made by ffmpeg as a PCM AVI file and as raw samples for the
// ffmpeg side; the platform's audio stream of the file, or the samples in memory.
PAVISTREAM MakeSound(const fs::path& work, std::string& raw) {
    const std::string file = (work / "sound.avi").string();
    raw = (work / "sound.pcm").string();
    const std::string seconds = std::to_string(kFrames / kRate);
    if (!bench::Command("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:sample_rate=" +
                        std::to_string(kSampleRate) + ":duration=" + seconds + " -ac " +
                        std::to_string(kChannels) + " -c:a pcm_s16le " + file) ||
        !bench::Command("ffmpeg -nostdin -v error -y -i " + file + " -f s16le " + raw))
        return nullptr;
    PAVISTREAM sound = nullptr;
    if (AVIStreamOpenFromFileA(&sound, file.c_str(), streamtypeAUDIO, 0, OF_READ, nullptr) ==
        AVIERR_OK) {
        std::printf("  sound: the audio stream of %s\n", file.c_str());
        return sound;
    }
    std::printf("  sound: %s held in memory (the platform opens no audio stream here)\n",
                raw.c_str());
    return new MemoryAudioStream(ReadBytes(raw));
}

// Motion JPEG with PCM sound against the same save without it and against ffmpeg.
bool MeasureWithAudio(PAVISTREAM source, const fs::path& work, const std::string& input) {
    std::string raw;
    PAVISTREAM sound = MakeSound(work, raw);
    if (!sound) return false;
    const Codec codec{"Motion JPEG", mmioFOURCC('M', 'J', 'P', 'G'),
                      "-c:v mjpeg -pix_fmt yuvj420p -q:v 16"};
    const std::string saved = (work / "saved.avi").string();
    const std::string other = (work / "other.avi").string();
    std::vector<bench::Side> sides{
        {"Motion JPEG + PCM: AVISaveVA", [&] { return Save(source, codec, saved, sound); }},
        {"Motion JPEG alone: AVISaveVA", [&] { return Save(source, codec, saved); }},
        {"Motion JPEG + PCM: ffmpeg",
         [&] {
             return bench::Command(input + "-f s16le -ar " + std::to_string(kSampleRate) + " -ac " +
                                   std::to_string(kChannels) + " -i " + raw +
                                   " -map 0:v -map 1:a " + codec.ffmpegArguments +
                                   " -c:a pcm_s16le -bf 0 -threads 0 " + other);
         }},
    };
    // Sound costs a few per cent at most: more rounds keep the machine's noise below that.
    const bool measured = bench::Interleave(sides, kAudioRounds);
    AVIStreamRelease(sound);
    fs::remove(saved);
    fs::remove(other);
    fs::remove(raw);
    fs::remove(work / "sound.avi");
    if (!measured) return false;
    for (const bench::Side& side : sides)
        bench::PrintRate(side, kFrames);
    bench::PrintSpeedGoal("save", "with audio: Motion JPEG + PCM vs without audio", sides[0],
                          sides[1], kAudioCostGoal);
    bench::PrintSpeedGoal("save", "with audio: Motion JPEG + PCM vs ffmpeg", sides[0], sides[2],
                          kGoal);
    return true;
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
    ok = MeasureWithAudio(source, work, input) && ok;
    source->Release();
    fs::remove(raw);
    return ok ? 0 : 1;
}
