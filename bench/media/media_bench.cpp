// Speed of the AVI reader against baselines measured in the same run: plain read() of the
// file's bytes, the ffmpeg command line decoding the same file (also converting to 24-bit with
// the view's thread count, which is what the view does), and one frame's decode.
// Usage: media_bench <work folder>; the test files are made there on the first run.
#include "avifile.h"
#include "dib.h"
#include "objects.h"

#include "cpu_clock.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/cpu.h>
#include <libavutil/log.h>
}

#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
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
constexpr int kGop = 250;
constexpr int kH264Frames = 500;
constexpr int kScrubMoves = 50;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

struct Span {
    double wall = 0, cpu = 0;
};

// Wall and CPU time of `work`.
template <typename Work> Span Measure(Work work) {
    const auto start = Clock::now();
    const double cpu = CpuSeconds();
    work();
    return Span{Seconds(start), CpuSeconds() - cpu};
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

Span PlainRead(const std::string& path) {
    return Measure([&] {
        const int fd = open(path.c_str(), O_RDONLY);
        std::vector<char> buffer(1 << 20);
        while (read(fd, buffer.data(), buffer.size()) > 0) {
        }
        close(fd);
    });
}

// Results of the measurements, printed as ratios after the benchmarks ran.
struct Results {
    Span plainRead, viewRaw;
    LONG rawFrames = 0;
    Span ffmpegDecode, ffmpegToBgr, viewDecode;
    double interval = 0, randomMiddle = 0;
    double scrubTime = 0, scrubDecoded = 0;
} results;

void BM_RawSequentialPlainRead(benchmark::State& state) {
    PlainRead(RawPath()); // same page-cache state for both
    for (auto _ : state)
        results.plainRead = PlainRead(RawPath());
}

void BM_RawSequentialView(benchmark::State& state) {
    for (auto _ : state) {
        View view(RawPath());
        results.rawFrames = AVIStreamLength(view.stream);
        results.viewRaw = Measure([&] {
            for (LONG i = 0; i < 2000; ++i)
                if (!view.Read(i)) state.SkipWithError("read failed");
        });
    }
}

void BM_H264FfmpegCommandLine(benchmark::State& state) {
    // Thread count 0: automatic, as the view's decoder is set up.
    const std::string command = "ffmpeg -v error -threads 0 -i " + H264Path() + " -f null - ";
    for (auto _ : state) {
        results.ffmpegDecode = Measure([&] {
            if (std::system(command.c_str()) != 0) state.SkipWithError("ffmpeg failed");
        });
    }
}

// Like for like: the view decodes with one thread per core and converts every picture to
// 24-bit BGR with as many threads.
void BM_H264FfmpegToBgr(benchmark::State& state) {
    const std::string command = "ffmpeg -v error -threads " + std::to_string(av_cpu_count()) +
                                " -i " + H264Path() + " -pix_fmt bgr24 -f null - ";
    for (auto _ : state) {
        results.ffmpegToBgr = Measure([&] {
            if (std::system(command.c_str()) != 0) state.SkipWithError("ffmpeg failed");
        });
    }
}

void BM_H264SequentialView(benchmark::State& state) {
    for (auto _ : state) {
        results.viewDecode = Measure([&] { // opening is part of what ffmpeg does too
            View view(H264Path());
            for (LONG i = 0; i < kH264Frames; ++i)
                if (!view.Read(i)) state.SkipWithError("read failed");
        });
    }
}

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
    if (!MakeRawFile() || !MakeH264File()) {
        std::fprintf(stderr, "could not make the test files in %s\n", workDir.c_str());
        return 1;
    }
    for (auto* bm :
         {benchmark::RegisterBenchmark("raw 640x480x24 x2000: plain read()",
                                       BM_RawSequentialPlainRead),
          benchmark::RegisterBenchmark("raw 640x480x24 x2000: view, in order",
                                       BM_RawSequentialView),
          benchmark::RegisterBenchmark("h264 1080p: ffmpeg -f null", BM_H264FfmpegCommandLine),
          benchmark::RegisterBenchmark("h264 1080p: ffmpeg -pix_fmt bgr24 -f null",
                                       BM_H264FfmpegToBgr),
          benchmark::RegisterBenchmark("h264 1080p: view, in order", BM_H264SequentialView),
          benchmark::RegisterBenchmark("h264 1080p: decode one 250-frame interval",
                                       BM_H264DecodeInterval),
          benchmark::RegisterBenchmark("h264 1080p: random frame mid-interval",
                                       BM_H264RandomMiddleOfInterval),
          benchmark::RegisterBenchmark("h264 1080p: scrub 50 moves", BM_H264Scrub)})
        bm->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const double frameDecode = results.viewDecode.wall / kH264Frames;
    std::printf("\n");
    std::printf("raw file written through the API (OpenDML):     %.2f GiB, %ld frames\n",
                double(std::filesystem::file_size(RawPath())) / (1 << 30), long(results.rawFrames));
    std::printf(
        "sequential raw read, view vs plain read():      %.2f wall, %.2f cpu (goal >= 0.5)\n",
        results.plainRead.wall / results.viewRaw.wall, results.plainRead.cpu / results.viewRaw.cpu);
    std::printf("sequential 1080p H.264 decode, view vs ffmpeg:  %.2f wall, %.2f cpu (goal >= 0.9; "
                "threads: auto, %d cores)\n",
                results.ffmpegDecode.wall / results.viewDecode.wall,
                results.ffmpegDecode.cpu / results.viewDecode.cpu, av_cpu_count());
    std::printf(
        "the same, view vs ffmpeg -pix_fmt bgr24:         %.2f wall, %.2f cpu (goal >= 1.0; "
        "threads: %d)\n",
        results.ffmpegToBgr.wall / results.viewDecode.wall,
        results.ffmpegToBgr.cpu / results.viewDecode.cpu, av_cpu_count());
    std::printf("random frame mid-interval vs decoding interval: %.2f (%.0f ms vs %.0f ms)\n",
                results.randomMiddle / results.interval, results.randomMiddle * 1e3,
                results.interval * 1e3);
    std::printf("scrub: decoded frames per move:                 %.2f (goal <= 2)\n",
                results.scrubDecoded);
    std::printf("scrub: time per move vs one frame's decode:     %.2f (%.1f ms vs %.1f ms)\n",
                results.scrubTime / frameDecode, results.scrubTime * 1e3, frameDecode * 1e3);
    double load[1] = {0};
    if (getloadavg(load, 1) == 1)
        std::printf("load average during the run:                   %.1f\n", load[0]);
    return 0;
}
