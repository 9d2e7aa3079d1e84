// Time per 1920 x 1080 frame of every effect kernel, and its speed as a share of memcpy of the
// same frame measured in the same run (1.0 = as fast as memcpy). CPU time, so that other
// processes on the machine disturb the ratios less. The kernels run at one SIMD level: the one
// MIVRA_SIMD names, or else the processor's best.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "blend.h"
#include "color_transform.h"
#include "key_replace.h"
#include "zoom_resample.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

size_t FrameBytes(int bitCount) {
    return size_t(kWidth) * kHeight * (bitCount / 8);
}

BITMAPINFOHEADER Format(int bitCount) {
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = kWidth;
    h.biHeight = kHeight;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bitCount);
    h.biSizeImage = static_cast<DWORD>(FrameBytes(bitCount));
    return h;
}

std::vector<uint8_t> NoiseFrame(int bitCount, uint32_t seed) {
    std::vector<uint8_t> frame(FrameBytes(bitCount));
    uint32_t x = seed;
    for (auto& b : frame) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        b = static_cast<uint8_t>(x >> 24);
    }
    return frame;
}

struct Entry {
    const char* name;
    const char* baseline;
    double goal;
};
const Entry kEntries[] = {
    {"memcpy/24", "memcpy/24", 0},
    {"memcpy/16", "memcpy/16", 0},
    {"KeyReplace/24", "memcpy/24", 0.25},
    {"BlendFrames/24", "memcpy/24", 0.25},
    {"BlendFrames/16", "memcpy/16", 0.25},
    {"TransformFrame/24/wrap", "memcpy/24", 0.25},
    {"TransformFrame/24/saturate", "memcpy/24", 0.25},
    {"TransformFrame/16/wrap", "memcpy/16", 0.25},
    {"ConvertPixelDepth/24to16", "memcpy/24", 0.25},
    {"ConvertPixelDepth/16to24", "memcpy/24", 0.25},
    {"ZoomFrame/24/100%", "memcpy/24", 0.1},
    {"ZoomFrame/24/150%", "memcpy/24", 0.1},
    {"ZoomFrame/24/50%", "memcpy/24", 0.1},
    {"ZoomFrame/16/150%", "memcpy/16", 0.1},
    {"SmoothFrame/24/all-taps", "memcpy/24", 0.1},
    {"SmoothFrame/24/no-left", "memcpy/24", 0.1},
};

void Memcpy(benchmark::State& state, int bitCount) {
    const auto source = NoiseFrame(bitCount, 1);
    std::vector<uint8_t> target(source.size());
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
}

void KeyReplaceBench(benchmark::State& state) {
    auto out = NoiseFrame(24, 1);
    auto mask = NoiseFrame(24, 2);
    const auto back = NoiseFrame(24, 3);
    for (size_t i = 0; i < mask.size(); i += 3)
        if ((i / 3) % kWidth < kWidth / 2)
            mask[i] = mask[i + 1] = mask[i + 2] = 0; // left half keyed
    const uint8_t key[3] = {0, 0, 0};
    for (auto _ : state) {
        KeyReplace(out.data(), mask.data(), back.data(), key, uint32_t(out.size()), 1);
        benchmark::ClobberMemory();
    }
}

void BlendBench(benchmark::State& state, int bitCount) {
    auto target = NoiseFrame(bitCount, 1);
    const auto other = NoiseFrame(bitCount, 2);
    const BITMAPINFOHEADER format = Format(bitCount);
    BlendParams params{};
    params.startTransPercent = 100;
    SetupBlend(params, 0, 30);
    for (auto _ : state) {
        if (params.weight >= params.rangeLength) SetupBlend(params, 0, 30);
        const double ratio = AdvanceBlendWeight(params); // a new weight each frame, as rendered
        BlendFrames(target.data(), other.data(), other.size(), ratio, format);
        benchmark::ClobberMemory();
    }
}

void TransformBench(benchmark::State& state, int bitCount, int mode) {
    auto frame = NoiseFrame(bitCount, 1);
    const BITMAPINFOHEADER format = Format(bitCount);
    ColorChangeState color{};
    InitColorMasks(color, format);
    const int16_t offsets[3] = {20, -10, 5};
    const int16_t steps[3] = {1, 1, -1};
    PackColorTriple(color, offsets, &color.offsetR);
    PackColorTriple(color, steps, &color.stepR);
    for (auto _ : state) {
        TransformFrame(frame.data(), color, format, mode, 0, kHeight / 2); // one step mid-frame
        benchmark::ClobberMemory();
    }
}

void ConvertBench(benchmark::State& state, int targetBits) {
    const int otherBits = targetBits == 16 ? 24 : 16;
    const auto other = NoiseFrame(otherBits, 1);
    std::vector<uint8_t> scratch(FrameBytes(targetBits));
    const BITMAPINFOHEADER format = Format(otherBits);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            ConvertPixelDepth(targetBits, format, other.data(), scratch.data(), scratch.size()));
        benchmark::ClobberMemory();
    }
}

void ZoomBench(benchmark::State& state, int bitCount, double zoom) {
    const auto source = NoiseFrame(bitCount, 1);
    std::vector<uint8_t> output(source.size());
    ZoomKey key{};
    key.xZoom = key.yZoom = zoom;
    key.xSize = kWidth * (zoom / 100);
    key.ySize = kHeight * (zoom / 100);
    key.xPos = (kWidth - key.xSize) / 2; // centred, as the dialog places it
    key.yPos = (kHeight - key.ySize) / 2;
    for (auto _ : state) {
        ZoomFrame(key, source.data(), output.data(), kWidth, kHeight, bitCount);
        benchmark::ClobberMemory();
    }
}

void SmoothBench(benchmark::State& state, uint16_t taps) {
    auto frame = NoiseFrame(24, 1);
    for (auto _ : state) {
        SmoothFrame(frame.data(), frame.data(), taps, kWidth, kHeight, 24);
        benchmark::ClobberMemory();
    }
}

// Collects the time per frame of each run for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> millisecondsPerFrame;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Iteration)
                millisecondsPerFrame[run.run_name.function_name] = run.GetAdjustedCPUTime();
    }
};

void PrintSummary(const std::map<std::string, double>& ms) {
    std::printf("\n%-28s %10s %10s %10s %6s\n", "kernel (1920x1080)", "ms/frame", "frames/s",
                "vs memcpy", "goal");
    for (const Entry& e : kEntries) {
        auto it = ms.find(e.name);
        auto base = ms.find(e.baseline);
        if (it == ms.end() || base == ms.end()) continue;
        const double ratio = base->second / it->second;
        std::printf("%-28s %10.3f %10.1f %10.3f %6s %s\n", e.name, it->second, 1000 / it->second,
                    ratio, e.goal > 0 ? std::to_string(e.goal).substr(0, 4).c_str() : "",
                    e.goal > 0 ? (ratio >= e.goal ? "met" : "MISSED") : "");
    }
}

} // namespace

int main(int argc, char** argv) {
    auto add = [](const char* name, auto function) {
        benchmark::RegisterBenchmark(name, function)->Unit(benchmark::kMillisecond);
    };
    add("memcpy/24", [](benchmark::State& s) { Memcpy(s, 24); });
    add("memcpy/16", [](benchmark::State& s) { Memcpy(s, 16); });
    add("KeyReplace/24", KeyReplaceBench);
    add("BlendFrames/24", [](benchmark::State& s) { BlendBench(s, 24); });
    add("BlendFrames/16", [](benchmark::State& s) { BlendBench(s, 16); });
    add("TransformFrame/24/wrap", [](benchmark::State& s) { TransformBench(s, 24, 0); });
    add("TransformFrame/24/saturate", [](benchmark::State& s) { TransformBench(s, 24, 1); });
    add("TransformFrame/16/wrap", [](benchmark::State& s) { TransformBench(s, 16, 0); });
    add("ConvertPixelDepth/24to16", [](benchmark::State& s) { ConvertBench(s, 16); });
    add("ConvertPixelDepth/16to24", [](benchmark::State& s) { ConvertBench(s, 24); });
    add("ZoomFrame/24/100%", [](benchmark::State& s) { ZoomBench(s, 24, 100); });
    add("ZoomFrame/24/150%", [](benchmark::State& s) { ZoomBench(s, 24, 150); });
    add("ZoomFrame/24/50%", [](benchmark::State& s) { ZoomBench(s, 24, 50); });
    add("ZoomFrame/16/150%", [](benchmark::State& s) { ZoomBench(s, 16, 150); });
    add("SmoothFrame/24/all-taps", [](benchmark::State& s) { SmoothBench(s, 0xFF); });
    add("SmoothFrame/24/no-left", [](benchmark::State& s) { SmoothBench(s, 0xFF & ~0x40); });

    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter.millisecondsPerFrame);
    benchmark::Shutdown();
    return 0;
}
