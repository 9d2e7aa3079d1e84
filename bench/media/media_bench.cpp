// Speed of the AVI reader against baselines measured in the same run: plain read() of the
// file's bytes and the ffmpeg command line decoding the same file (also converting to 24-bit with
// the view's thread count, which is what the view does), each interleaved with the view
// (bench/timing.h); seeking and scrubbing against one frame's decode; random seeks against
// `ffmpeg -ss` seeking accurately to the same frames, and scrubbing once the pictures are cached;
// 4K sequential decoding against ffmpeg; and stepping back through a group against stepping
// forward.
// Usage: media_bench <work folder>; the test files are made there on the first run.
#include "avifile.h"
#include "dib.h"
#include "objects.h"

#include "timing.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/log.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::string workDir;
std::string RawPath() {
    return workDir + "/raw_640x480_2000.avi";
}
std::string H264Path() {
    return workDir + "/h264_1080p_gop250.avi";
}
std::string H264Path4k() {
    return workDir + "/h264_2160p.avi";
}
constexpr int kGop = 250;
constexpr int kH264Frames = 500;
constexpr int kScrubMoves = 50;
constexpr int kFrames4k = 60;
constexpr int kRate = 25;
// Random seeks: rounds of seeks, ours and ffmpeg's in turn.
constexpr int kSeekRounds = 3;
constexpr int kSeeks = 20;
// Scrubbing: frames first..first+kScrubSpan-1 read once forward, then back and forth.
constexpr int kScrubSpan = 100;
constexpr int kScrubPasses = 4;
constexpr int kScrubRounds = 3;
// Stepping through most of the second group, a frame at a time.
constexpr int kSteps = 240;
constexpr int kStepRounds = 2;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

bool MakeRawFile() {
    if (std::filesystem::exists(RawPath())) return true;
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.dwRate = 25;
    info.dwScale = 1;
    info.rcFrame = RECT{0, 0, 640, 480};
    if (AVIFileOpenA(&file, RawPath().c_str(), OF_CREATE | OF_WRITE, nullptr) != AVIERR_OK ||
        AVIFileCreateStreamA(file, &stream, &info) != AVIERR_OK)
        return false;
    BITMAPINFOHEADER format = avi::MakeDibHeader(640, 480, 24);
    std::vector<uint8_t> frame(format.biSizeImage);
    bool ok = true;
    for (LONG i = 0; ok && i < 2000; ++i) {
        for (size_t b = 0; b < frame.size(); b += 997)
            frame[b] = static_cast<uint8_t>(i + b);
        ok = AVIStreamSetFormat(stream, i, &format, sizeof format) == AVIERR_OK &&
             AVIStreamWrite(stream, i, 1, frame.data(), LONG(frame.size()), AVIIF_KEYFRAME, nullptr,
                            nullptr) == AVIERR_OK;
    }
    AVIStreamRelease(stream);
    AVIFileRelease(file);
    return ok;
}

bool MakeH264File4k() {
    if (std::filesystem::exists(H264Path4k())) return true;
    const std::string command =
        "ffmpeg -v error -y -f lavfi -i testsrc2=size=3840x2160:rate=25 -frames:v " +
        std::to_string(kFrames4k) +
        " -c:v libx264 -preset veryfast -g 250 -bf 3 -pix_fmt yuv420p " + H264Path4k();
    return std::system(command.c_str()) == 0;
}

bool MakeH264File() {
    if (std::filesystem::exists(H264Path())) return true;
    const std::string command =
        "ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v " +
        std::to_string(kH264Frames) +
        " -c:v libx264 -preset veryfast -g 250 -keyint_min 250 -sc_threshold 0 -bf 3"
        " -pix_fmt yuv420p " +
        H264Path();
    return std::system(command.c_str()) == 0;
}

PAVISTREAM OpenView(const std::string& path) {
    PAVISTREAM raw = nullptr;
    PAVISTREAM view = nullptr;
    if (AVIStreamOpenFromFileA(&raw, path.c_str(), streamtypeVIDEO, 0, OF_READ, nullptr) !=
        AVIERR_OK)
        return nullptr;
    AVIMakeCompressedStream(&view, raw, nullptr, nullptr);
    AVIStreamRelease(raw);
    return view;
}

struct View {
    explicit View(const std::string& path) : stream(OpenView(path)) {
        BITMAPINFOHEADER header{};
        LONG size = sizeof header;
        if (stream && AVIStreamReadFormat(stream, 0, &header, &size) == AVIERR_OK)
            frame.resize(header.biSizeImage);
    }
    ~View() {
        if (stream) AVIStreamRelease(stream);
    }
    bool Read(LONG n) {
        return AVIStreamRead(stream, n, n + 1, frame.data(), LONG(frame.size()), nullptr,
                             nullptr) == AVIERR_OK;
    }
    int64_t Decoded() const { return avi::DecodedFrameCount(stream); }
    PAVISTREAM stream;
    std::vector<uint8_t> frame;
};

bool PlainRead(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    std::vector<char> buffer(1 << 20);
    ssize_t got = 0;
    while ((got = read(fd, buffer.data(), buffer.size())) > 0) {
    }
    close(fd);
    return got == 0;
}

// Opening is part of what ffmpeg does too.
bool ReadAllThroughView(const std::string& path, LONG frames) {
    View view(path);
    for (LONG i = 0; i < frames; ++i)
        if (!view.Read(i)) return false;
    return AVIStreamLength(view.stream) == frames;
}

// Results of the measurements, printed after the benchmarks ran.
struct Results {
    double interval = 0, randomMiddle = 0;
    double scrubTime = 0, scrubDecoded = 0;
} results;

void BM_H264DecodeInterval(benchmark::State& state) {
    for (auto _ : state) {
        View view(H264Path());
        view.Read(0);
        // The second interval, from its key frame to its end.
        const auto start = Clock::now();
        for (LONG i = kGop; i < 2 * kGop; ++i)
            view.Read(i);
        results.interval = Seconds(start);
    }
}

void BM_H264RandomMiddleOfInterval(benchmark::State& state) {
    for (auto _ : state) {
        View view(H264Path());
        view.Read(0);
        const auto start = Clock::now();
        if (!view.Read(kGop + kGop / 2)) state.SkipWithError("read failed");
        results.randomMiddle = Seconds(start);
    }
}

// The editor's range: the start moves one frame forward at a time, the end stays; both ends
// are read after every move.
void BM_H264Scrub(benchmark::State& state) {
    for (auto _ : state) {
        View view(H264Path());
        LONG first = kGop + 100;
        const LONG last = kH264Frames - 10;
        view.Read(first);
        view.Read(last);
        const int64_t before = view.Decoded();
        const auto start = Clock::now();
        for (int move = 0; move < kScrubMoves; ++move) {
            ++first;
            view.Read(first);
            view.Read(last);
        }
        results.scrubTime = Seconds(start) / kScrubMoves;
        results.scrubDecoded = double(view.Decoded() - before) / kScrubMoves;
    }
}

// Nearest-rank percentile of latencies in seconds.
double Percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const size_t rank = size_t(std::ceil(share * double(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

// The median of per-round values, with their range as the spread.
void PrintRoundsGoal(const std::string& what, const std::vector<double>& values, const char* format,
                     const std::string& goal, bool met) {
    const bench::Summary s = bench::Summarize(values);
    char spread[64];
    std::snprintf(spread, sizeof spread, format, s.low, s.high);
    bench::PrintGoal("media", what, s.median, spread, goal, met);
}

// The editor jumps to random frames of an open file: each seek on a view that has read only its
// first frame (its cache holds nothing near), against the ffmpeg command line seeking accurately
// to the same frame and converting it, in turn. Latency is wall time: it is what the user waits.
// Each round's percentiles give a ratio; the goal line shows their median and range.
bool RandomSeeks() {
    std::mt19937 random(250);
    std::uniform_int_distribution<LONG> position(1, kH264Frames - 1);
    const std::string ffmpeg = "ffmpeg -nostdin -v error -threads " +
                               std::to_string(av_cpu_count()) + " -accurate_seek -ss ";
    std::vector<double> p50, p95;
    for (int round = 0; round < kSeekRounds; ++round) {
        std::vector<double> ours, theirs;
        for (int seek = 0; seek < kSeeks; ++seek) {
            const LONG n = position(random);
            View view(H264Path());
            if (!view.Read(0)) return false;
            auto start = Clock::now();
            if (!view.Read(n)) return false;
            ours.push_back(Seconds(start));
            char time[32];
            std::snprintf(time, sizeof time, "%d.%06d", n / kRate, (n % kRate) * (1000000 / kRate));
            start = Clock::now();
            if (!bench::Command(ffmpeg + time + " -i " + H264Path() +
                                " -frames:v 1 -pix_fmt bgr24 -f null -"))
                return false;
            theirs.push_back(Seconds(start));
        }
        std::printf("random seeks, round %d: view p50 %.0f p95 %.0f ms, ffmpeg -ss p50 %.0f p95 "
                    "%.0f ms\n",
                    round + 1, Percentile(ours, 0.5) * 1e3, Percentile(ours, 0.95) * 1e3,
                    Percentile(theirs, 0.5) * 1e3, Percentile(theirs, 0.95) * 1e3);
        p50.push_back(Percentile(ours, 0.5) / Percentile(theirs, 0.5));
        p95.push_back(Percentile(ours, 0.95) / Percentile(theirs, 0.95));
    }
    const double m50 = bench::Summarize(p50).median, m95 = bench::Summarize(p95).median;
    PrintRoundsGoal("random seek 1080p GOP 250, p50 latency, view vs ffmpeg -ss", p50, "%.2f..%.2f",
                    "<= 1.0", m50 <= 1.0);
    PrintRoundsGoal("random seek 1080p GOP 250, p95 latency, view vs ffmpeg -ss", p95, "%.2f..%.2f",
                    "<= 1.0", m95 <= 1.0);
    return true;
}

// A slider dragged back and forth over 100 frames mid-interval, after one pass over them, on a
// fresh view each round.
bool ScrubCached() {
    std::vector<double> p95;
    for (int round = 0; round < kScrubRounds; ++round) {
        View view(H264Path());
        const LONG first = kGop + 50;
        for (LONG n = first; n < first + kScrubSpan; ++n)
            if (!view.Read(n)) return false;
        std::vector<double> latency;
        for (int pass = 0; pass < kScrubPasses; ++pass)
            for (int step = 0; step < kScrubSpan; ++step) {
                const LONG n = pass % 2 == 0 ? first + kScrubSpan - 1 - step : first + step;
                const auto start = Clock::now();
                if (!view.Read(n)) return false;
                latency.push_back(Seconds(start));
            }
        std::printf("scrub over %d cached frames, round %d: p50 %.1f ms, p95 %.1f ms\n", kScrubSpan,
                    round + 1, Percentile(latency, 0.5) * 1e3, Percentile(latency, 0.95) * 1e3);
        p95.push_back(Percentile(latency, 0.95) * 1e3);
    }
    const double median = bench::Summarize(p95).median;
    PrintRoundsGoal("scrub 100 frames after the first pass, p95 ms", p95, "%.1f..%.1f ms", "<= 20",
                    median <= 20);
    return true;
}

// Holding an arrow key over most of a group of pictures, one step each frame's time, on a fresh
// view each round: stepping back, where frames come from the cache and the look-ahead, against
// stepping forward, where the decoder reads on. Wall time per step: what the user waits.
bool StepThroughGroup() {
    std::vector<double> back99, forward99;
    for (int round = 0; round < kStepRounds; ++round) {
        std::vector<double> back, forward;
        const auto step = [](View& view, LONG n, std::vector<double>& latency) {
            const auto start = Clock::now();
            if (!view.Read(n)) return false;
            latency.push_back(Seconds(start));
            std::this_thread::sleep_until(start + std::chrono::milliseconds(1000 / kRate));
            return true;
        };
        View backward(H264Path()), onward(H264Path());
        const LONG last = kGop + kSteps;
        if (!backward.Read(last) || !onward.Read(kGop)) return false;
        for (LONG n = last - 1; n >= kGop; --n)
            if (!step(backward, n, back)) return false;
        for (LONG n = kGop + 1; n <= last; ++n)
            if (!step(onward, n, forward)) return false;
        std::printf("%d steps, round %d: back p50 %.1f p99 %.1f max %.1f ms, forward p50 %.1f "
                    "p99 %.1f max %.1f ms\n",
                    kSteps, round + 1, Percentile(back, 0.5) * 1e3, Percentile(back, 0.99) * 1e3,
                    Percentile(back, 1) * 1e3, Percentile(forward, 0.5) * 1e3,
                    Percentile(forward, 0.99) * 1e3, Percentile(forward, 1) * 1e3);
        back99.push_back(Percentile(back, 0.99) * 1e3);
        forward99.push_back(Percentile(forward, 0.99) * 1e3);
    }
    const bench::Summary b = bench::Summarize(back99), f = bench::Summarize(forward99);
    std::printf("step through a 1080p group at %d steps/s, p99 ms: back %.1f (%.1f..%.1f), "
                "forward %.1f (%.1f..%.1f)\n",
                kRate, b.median, b.low, b.high, f.median, f.low, f.high);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <work folder>\n", argv[0]);
        return 2;
    }
    av_log_set_level(AV_LOG_ERROR);
    workDir = argv[1];
    std::filesystem::create_directories(workDir);
    if (!MakeRawFile() || !MakeH264File() || !MakeH264File4k()) {
        std::fprintf(stderr, "could not make the test files in %s\n", workDir.c_str());
        return 1;
    }
    for (auto* bm : {benchmark::RegisterBenchmark("h264 1080p: decode one 250-frame interval",
                                                  BM_H264DecodeInterval),
                     benchmark::RegisterBenchmark("h264 1080p: random frame mid-interval",
                                                  BM_H264RandomMiddleOfInterval),
                     benchmark::RegisterBenchmark("h264 1080p: scrub 50 moves", BM_H264Scrub)})
        bm->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::vector<bench::Side> raw{
        {"raw 640x480x24 x2000: view, in order",
         [] { return ReadAllThroughView(RawPath(), 2000); }},
        {"raw 640x480x24 x2000: plain read()", [] { return PlainRead(RawPath()); }},
    };
    // Thread count 0: automatic, as the view's decoder is set up. Like for like: the view decodes
    // with one thread per core and converts every picture to 24-bit BGR with as many threads.
    const std::string ffmpeg = "ffmpeg -nostdin -v error -threads ";
    std::vector<bench::Side> h264{
        {"h264 1080p: view, in order", [] { return ReadAllThroughView(H264Path(), kH264Frames); }},
        {"h264 1080p: ffmpeg -f null",
         [&] { return bench::Command(ffmpeg + "0 -i " + H264Path() + " -f null -"); }},
        {"h264 1080p: ffmpeg -pix_fmt bgr24 -f null",
         [&] {
             return bench::Command(ffmpeg + std::to_string(av_cpu_count()) + " -i " + H264Path() +
                                   " -pix_fmt bgr24 -f null -");
         }},
    };
    std::vector<bench::Side> h264k{
        {"h264 2160p: view, in order", [] { return ReadAllThroughView(H264Path4k(), kFrames4k); }},
        {"h264 2160p: ffmpeg -pix_fmt bgr24 -f null",
         [&] {
             return bench::Command(ffmpeg + std::to_string(av_cpu_count()) + " -i " + H264Path4k() +
                                   " -pix_fmt bgr24 -f null -");
         }},
    };
    if (!bench::Interleave(raw) || !bench::Interleave(h264) || !bench::Interleave(h264k)) return 1;
    std::printf("\nframes per second\n");
    for (const bench::Side& side : raw)
        bench::PrintRate(side, 2000);
    for (const bench::Side& side : h264)
        bench::PrintRate(side, kH264Frames);
    for (const bench::Side& side : h264k)
        bench::PrintRate(side, kFrames4k);

    const double frameDecode = bench::Summarize(h264[0].wall).median / kH264Frames;
    std::printf("raw file written through the API (OpenDML): %.2f GiB\n",
                double(std::filesystem::file_size(RawPath())) / (1 << 30));
    bench::PrintSpeedGoal("media", "sequential raw read, view vs plain read()", raw[0], raw[1],
                          0.5);
    bench::PrintSpeedGoal("media", "1080p H.264 decode, view vs ffmpeg (auto threads)", h264[0],
                          h264[1], 0.9);
    bench::PrintSpeedGoal("media", "1080p H.264 decode, view vs ffmpeg -pix_fmt bgr24", h264[0],
                          h264[2], 1.0);
    bench::PrintSpeedGoal("media", "2160p H.264 decode, view vs ffmpeg -pix_fmt bgr24", h264k[0],
                          h264k[1], 1.0);
    std::printf("random frame mid-interval vs decoding interval: %.2f (%.0f ms vs %.0f ms)\n",
                results.randomMiddle / results.interval, results.randomMiddle * 1e3,
                results.interval * 1e3);
    bench::PrintGoal("media", "scrub: decoded frames per move", results.scrubDecoded, "one run",
                     "<= 2", results.scrubDecoded <= 2);
    std::printf("scrub: time per move vs one frame's decode: %.2f (%.1f ms vs %.1f ms)\n",
                results.scrubTime / frameDecode, results.scrubTime * 1e3, frameDecode * 1e3);
    if (!RandomSeeks() || !ScrubCached() || !StepThroughGroup()) return 1;
    double load[1] = {0};
    if (getloadavg(load, 1) == 1) std::printf("load average during the run: %.1f\n", load[0]);
    return 0;
}
