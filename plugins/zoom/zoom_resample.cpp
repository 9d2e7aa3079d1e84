#include "zoom_resample.h"

#include "kernel_support.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

// The chains run side by side with AVX2, checked at run time.
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define MIVRA_AVX2_LANES 1
#endif

namespace {

// Far beyond any frame: keys past it only place the picture outside the frame, and bounding
// them keeps every loop of the resampler short.
constexpr double kKeyLimit = 16777216.0;

bool KeyIsUsable(const ZoomKey& k) {
    for (double v : {k.xSize, k.ySize, k.xPos, k.yPos, k.xZoom, k.yZoom})
        if (!(std::fabs(v) <= kKeyLimit)) return false;
    return true;
}

double AdvanceZoom(double zoom, double step, double end, bool movesDown) {
    zoom += step;
    if ((movesDown && zoom < end) || (!movesDown && zoom > end)) zoom = end;
    return zoom;
}

// A stretch of a destination row showing consecutive source pixels.
struct ColumnRun {
    int64_t dst, src, count;
};

// Which source pixels a destination row shows: the same for every row of a frame. Each source
// pixel from srcPixel on is written `repeats` times and once more where its column reaches the
// threshold truncate(nextX), which then moves on by xr. Source pixels left of the frame write
// nothing (black); destination pixels left of it are skipped.
std::vector<ColumnRun> MapColumns(int64_t w, int64_t srcPixel, int64_t dstPixel, int64_t repeats,
                                  double nextX, double xr) {
    std::vector<ColumnRun> runs;
    auto put = [&] {
        if (srcPixel >= 0 && dstPixel >= 0) {
            ColumnRun* last = runs.empty() ? nullptr : &runs.back();
            if (last && last->dst + last->count == dstPixel && last->src + last->count == srcPixel)
                ++last->count;
            else
                runs.push_back({dstPixel, srcPixel, 1});
        }
        ++dstPixel;
    };
    int64_t threshold = TruncateSafely(nextX);
    while (srcPixel < w && dstPixel < w) {
        if (repeats <= 0 && srcPixel < threshold) { // nothing is written before the threshold
            srcPixel = std::min(threshold, w);
            continue;
        }
        for (int64_t r = 0; r < repeats && dstPixel < w; ++r)
            put();
        if (srcPixel >= threshold) {
            if (dstPixel >= w) break;
            put();
            nextX += xr;
            threshold = TruncateSafely(nextX);
        }
        ++srcPixel;
    }
    return runs;
}

// Copies of a fixed size compile to a few moves; the short runs of zooms such as 150 % and
// 200 % take them, the long ones of zooms near 100 % a library copy.
template <int Bpp>
void CopyRuns(const uint8_t* src, uint8_t* dst, const std::vector<ColumnRun>& runs) {
    for (const ColumnRun& run : runs) {
        uint8_t* to = dst + run.dst * Bpp;
        const uint8_t* from = src + run.src * Bpp;
        switch (run.count) {
        case 1:
            std::memcpy(to, from, Bpp);
            break;
        case 2:
            std::memcpy(to, from, 2 * Bpp);
            break;
        case 3:
            std::memcpy(to, from, 3 * Bpp);
            break;
        case 4:
            std::memcpy(to, from, 4 * Bpp);
            break;
        default:
            std::memcpy(to, from, static_cast<size_t>(run.count * Bpp));
        }
    }
}

template <int Bpp>
void Resample(ZoomKey k, const uint8_t* source, uint8_t* output, int64_t w, int64_t h, bool pick) {
    const int64_t rowBytes = w * Bpp;
    const double W = static_cast<double>(w);
    const double H = static_cast<double>(h);

    double xr = static_cast<double>(rowBytes + 1);
    const int64_t tx = TruncateSafely(k.xZoom / 100);
    if (k.xSize - W * static_cast<double>(tx) != 0)
        xr = W / (k.xSize - W * static_cast<double>(tx));
    double yr = pick ? H : H + 1;
    const int64_t ty = TruncateSafely(k.yZoom / 100);
    if (k.ySize - H * static_cast<double>(ty) != 0)
        yr = (H / (k.ySize - H * static_cast<double>(ty))) * (k.yZoom / 100);

    // Zooming in steps the source cursor by 1 / whole zoom per row; zooming out by 100 / zoom,
    // with the roles of the two row counters swapped.
    double yi = 1.0;
    bool shrinking = false;
    if (k.ySize != H) {
        if (H < k.ySize) {
            yi = 1.0 / static_cast<double>(ty);
        } else {
            yi = 1.0 / (k.yZoom / 100);
            shrinking = true;
        }
    }
    if (W < k.xSize) k.xPos = k.xPos / (k.xZoom / 100);
    if (H < k.ySize) k.yPos = k.yPos / (k.yZoom / 100);

    double nextY = H - yr;
    int64_t srcRow = h - (TruncateSafely(k.yPos) + 1);
    double ySrc = static_cast<double>(pick ? srcRow : h - TruncateSafely(k.yPos));
    int64_t xSkip = 0, ySkip = 0;
    const bool narrower = W > k.xSize;
    if (narrower) {
        xSkip = TruncateSafely(-k.xPos);
        k.xPos = 0;
    }
    if (H > k.ySize) {
        ySkip = TruncateSafely(-k.yPos);
        k.yPos = 0;
        srcRow = h - 1;
        ySrc = pick ? H - 1 : H;
    }

    const int64_t firstSrcPixel = TruncateSafely(k.xPos);
    if (firstSrcPixel >= w) return; // no column is ever read: the frame stays black
    const std::vector<ColumnRun> runs =
        MapColumns(w, firstSrcPixel, narrower ? xSkip : 0, TruncateSafely(k.xZoom) / 100,
                   static_cast<double>(firstSrcPixel) + xr, xr);
    const int64_t lastRow = pick ? 1 : 0;
    const int64_t lowestSrcRow = pick ? 0 : 1;
    for (int64_t dstRow = h - 1 - ySkip; dstRow >= lastRow; --dstRow) {
        if (srcRow < lowestSrcRow) return; // the rows not yet written stay black
        if (dstRow < h && srcRow < h)
            CopyRuns<Bpp>(source + srcRow * rowBytes, output + dstRow * rowBytes, runs);
        const bool belowNextY = TruncateSafely(nextY) < dstRow;
        if (belowNextY != shrinking) {
            ySrc -= yi;
            srcRow = TruncateSafely(ySrc);
        } else {
            nextY -= yr; // the next destination row repeats this source row
        }
    }
}

// The smoothing divides sums of up to nine bytes by the number of pixels taken, 1 to 9.
constexpr uint32_t DivisionMultiplier(uint32_t count) {
    return (65536 + count - 1) / count;
}

constexpr bool MultiplierDividesExactly() {
    for (uint32_t count = 1; count <= 9; ++count)
        for (uint32_t sum = 0; sum <= 9 * 255; ++sum)
            if (((sum * DivisionMultiplier(count)) >> 16) != sum / count) return false;
    return true;
}
static_assert(MultiplierDividesExactly());

enum Tap : uint16_t {
    kAbove = 0x01,
    kAboveRight = 0x02,
    kRight = 0x04,
    kBelowRight = 0x08,
    kBelow = 0x10,
    kBelowLeft = 0x20,
    kLeft = 0x40,
    kAboveLeft = 0x80,
};

// Own byte plus every neighbour but the left one (the chain carries it), for 2 x words bytes
// from begin of a row whose pixels have both neighbours, split by position: even[t] for byte
// begin + 2t, odd[t] for the byte after it. Reading the bytes as little-endian words and
// shifting them widens them without the shuffles that widening bytes costs. A tap left out
// reads a row of zeros, which costs less than masking every byte. One pass the compiler
// vectorises, for the widest vectors the processor has.
static_assert(std::endian::native == std::endian::little);
MIVRA_VECTOR_CLONES void SumNeighbourPairs(uint16_t* __restrict even, uint16_t* __restrict odd,
                                           const uint8_t* __restrict row,
                                           const uint8_t* __restrict above,
                                           const uint8_t* __restrict aboveRight,
                                           const uint8_t* __restrict right,
                                           const uint8_t* __restrict belowRight,
                                           const uint8_t* __restrict below,
                                           const uint8_t* __restrict belowLeft,
                                           const uint8_t* __restrict aboveLeft, size_t begin,
                                           size_t words) {
    auto word = [](const uint8_t* p) {
        uint16_t w;
        std::memcpy(&w, p, 2);
        return w;
    };
    for (size_t t = 0; t < words; ++t) {
        const size_t j = begin + 2 * t;
        const uint16_t w[8] = {word(row + j),           word(above + j),
                               word(aboveRight + j + 3), word(right + j + 3),
                               word(belowRight + j + 3), word(below + j),
                               word(belowLeft + j - 3),  word(aboveLeft + j - 3)};
        // The words' total counts each high byte 256 times, modulo 2^16; taking those out
        // leaves the sum of the low bytes (below 2^16), one mask fewer a word.
        uint16_t total = 0, high = 0;
        for (uint16_t x : w) {
            total = static_cast<uint16_t>(total + x);
            high = static_cast<uint16_t>(high + (x >> 8));
        }
        even[t] = static_cast<uint16_t>(total - (high << 8));
        odd[t] = high;
    }
}

// Own byte plus every selected neighbour (a mask of 0xFF selects, 0 leaves out) for the bytes
// begin..end of a row whose pixels have both neighbours, divided by count, into a row apart
// from the input; one pass the compiler vectorises.
MIVRA_VECTOR_CLONES void SmoothInterior(uint8_t* __restrict result, const uint8_t* __restrict row,
                                        const uint8_t* __restrict above,
                                        const uint8_t* __restrict below, const uint8_t m[8],
                                        size_t begin, size_t end, uint32_t count) {
    if (count == 1) { // no neighbour is taken
        std::memcpy(result + begin, row + begin, end - begin);
        return;
    }
    const uint16_t multiplier = static_cast<uint16_t>(DivisionMultiplier(count));
    for (size_t j = begin; j < end; ++j) {
        const uint16_t sum = static_cast<uint16_t>(
            row[j] + (above[j] & m[0]) + (above[j + 3] & m[1]) + (row[j + 3] & m[2]) +
            (below[j + 3] & m[3]) + (below[j] & m[4]) + (below[j - 3] & m[5]) +
            (row[j - 3] & m[6]) + (above[j - 3] & m[7]));
        const uint16_t quotient = static_cast<uint16_t>((uint32_t{sum} * multiplier) >> 16);
        result[j] = static_cast<uint8_t>(quotient);
    }
}

// The same for a byte of the first or last pixel, reading only the neighbours that exist.
uint16_t EdgeSum(const uint8_t* row, const uint8_t* above, const uint8_t* below, const uint8_t m[8],
                 size_t j, size_t a) {
    uint32_t sum = row[j] + (above[j] & m[0]) + (below[j] & m[4]);
    if (j + 3 < a) sum += (above[j + 3] & m[1]) + (row[j + 3] & m[2]) + (below[j + 3] & m[3]);
    if (j >= 3) sum += (below[j - 3] & m[5]) + (row[j - 3] & m[6]) + (above[j - 3] & m[7]);
    return static_cast<uint16_t>(sum);
}

MIVRA_VECTOR_CLONES void DivideRow(uint8_t* __restrict out, const uint16_t* __restrict sums,
                                   size_t begin, size_t end, uint32_t count) {
    if (count == 1) {
        for (size_t j = begin; j < end; ++j)
            out[j] = static_cast<uint8_t>(sums[j]);
        return;
    }
    // A 16-bit multiplier, so that the product's high half is one vector instruction.
    const uint16_t m = static_cast<uint16_t>(DivisionMultiplier(count));
    for (size_t j = begin; j < end; ++j)
        out[j] = static_cast<uint8_t>((uint32_t{sums[j]} * m) >> 16);
}

// The pixels a smoothed byte is divided by: itself with the taps above and below, the taps on
// its right and the taps on its left, each only where that neighbour exists.
struct TapCounts {
    uint32_t own, right, left;
};

TapCounts CountTaps(uint16_t taps, bool hasAbove, bool hasBelow) {
    auto used = [&](uint16_t tap, bool exists) { return uint32_t((taps & tap) && exists); };
    return {1 + used(kAbove, hasAbove) + used(kBelow, hasBelow),
            used(kAboveRight, hasAbove) + used(kRight, true) + used(kBelowRight, hasBelow),
            used(kBelowLeft, hasBelow) + used(kLeft, true) + used(kAboveLeft, hasAbove)};
}

// 0xFF for each selected tap in the order SmoothInterior and EdgeSum read them; the left tap is
// left out when it is the running value of a chain instead.
void TapMasks(uint16_t taps, bool chainedLeft, uint8_t masks[8]) {
    const uint16_t order[8] = {kAbove, kAboveRight, kRight, kBelowRight,
                               kBelow, kBelowLeft,  kLeft,  kAboveLeft};
    for (int n = 0; n < 8; ++n)
        masks[n] = (taps & order[n]) && !(order[n] == kLeft && chainedLeft) ? 0xFF : 0;
}

// Without a smoothed left neighbour every value of the row is known before any is written.
// A missing line above or below is given as a row of zeros; result is a scratch row.
void SmoothRow(uint8_t* out, const uint8_t* row, const uint8_t* above, const uint8_t* below,
               bool hasAbove, bool hasBelow, uint16_t taps, size_t a, uint16_t* sums,
               uint8_t* result) {
    uint8_t masks[8];
    TapMasks(taps, false, masks);
    const TapCounts n = CountTaps(taps, hasAbove, hasBelow);
    for (size_t j = 0; j < 3; ++j) {
        sums[j] = EdgeSum(row, above, below, masks, j, a);
        sums[a - 3 + j] = EdgeSum(row, above, below, masks, a - 3 + j, a);
    }
    if (a == 3) return DivideRow(out, sums, 0, 3, n.own);
    if (a > 6) SmoothInterior(result, row, above, below, masks, 3, a - 3, n.own + n.right + n.left);
    DivideRow(result, sums, 0, 3, n.own + n.right);
    DivideRow(result, sums, a - 3, a, n.own + n.left);
    std::memcpy(out, result, a);
}

// A stretch of a row whose left neighbours are the values just smoothed: out starts at its
// first byte, out[-3..-1] is the smoothed pixel before it. The sums of its bytes are split by
// position as SumNeighbourPairs makes them.
struct Chain {
    uint8_t* out;
    const uint16_t* even;
    const uint16_t* odd;
    uint32_t multiplier; // of a count of at least 2: the left tap is taken
};

// bytes is a multiple of 3.
void RunChain(const Chain& chain, size_t bytes) {
    uint32_t left[3] = {chain.out[-3], chain.out[-2], chain.out[-1]};
    for (size_t j = 0; j < bytes; j += 3)
        for (size_t k = 0; k < 3; ++k) {
            const size_t n = j + k;
            const uint32_t sum = n % 2 ? chain.odd[n / 2] : chain.even[n / 2];
            left[k] = ((sum + left[k]) * chain.multiplier) >> 16;
            chain.out[n] = static_cast<uint8_t>(left[k]);
        }
}

// Each pixel of a chain waits for the one to its left, so a chain alone leaves the processor
// idle. Sixteen chains run side by side instead, one in each 16-bit lane of an AVX2 vector:
// blocks of eight sums of each chain are turned into lanes by transposes, and the results
// turned back.
constexpr size_t kLanes = 16;
constexpr size_t kHalf = 8;
// Chains run in steps of 48 bytes: three blocks of sixteen, after which the channels line up
// again.
constexpr size_t kLaneStep = 48;

#if MIVRA_AVX2_LANES
// The multipliers and the left neighbours of the chains, lane by lane.
struct LaneStart {
    alignas(32) uint16_t multipliers[kLanes], lefts[3][kLanes];
    explicit LaneStart(const Chain* chains) {
        for (size_t r = 0; r < kLanes; ++r) {
            multipliers[r] = static_cast<uint16_t>(chains[r].multiplier);
            for (size_t k = 0; k < 3; ++k)
                lefts[k][r] = *(chains[r].out - 3 + k);
        }
    }
};

// In each 128-bit half, row r, column c of the 8 x 8 matrix of 16-bit values v[r] moves to row
// c, column r (the unpacks work within each half). Inlined, so that it stays in registers.
[[gnu::always_inline]] inline __attribute__((target("avx2"))) void Transpose8x8Twice(__m256i v[8]) {
    __m256i a[8], b[8];
    for (int n = 0; n < 4; ++n) {
        a[2 * n] = _mm256_unpacklo_epi16(v[2 * n], v[2 * n + 1]);
        a[2 * n + 1] = _mm256_unpackhi_epi16(v[2 * n], v[2 * n + 1]);
    }
    for (int n = 0; n < 2; ++n) {
        b[4 * n] = _mm256_unpacklo_epi32(a[4 * n], a[4 * n + 2]);
        b[4 * n + 1] = _mm256_unpackhi_epi32(a[4 * n], a[4 * n + 2]);
        b[4 * n + 2] = _mm256_unpacklo_epi32(a[4 * n + 1], a[4 * n + 3]);
        b[4 * n + 3] = _mm256_unpackhi_epi32(a[4 * n + 1], a[4 * n + 3]);
    }
    for (int n = 0; n < 4; ++n) {
        v[2 * n] = _mm256_unpacklo_epi64(b[n], b[n + 4]);
        v[2 * n + 1] = _mm256_unpackhi_epi64(b[n], b[n + 4]);
    }
}

[[gnu::always_inline]] inline __attribute__((target("avx2"))) __m256i
LoadHalves(const uint16_t* low, const uint16_t* high) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

// Sixteen bytes at j (even) of every chain, the first eight chains in the low halves of the
// vectors; byte j is channel Phase of its pixel. The multiply-high of 16-bit lanes is the same
// (sum * multiplier) >> 16 as RunChain's, as the multiplier of a count of 2 or more fits in 16
// bits and sums stay below 9 * 255 + 1. Each result pair is joined into the word it is stored
// as, so one transpose takes them back.
template <size_t Phase>
__attribute__((target("avx2"))) void RunLaneBlock(const Chain* chains, size_t j, __m256i left[3],
                                                  __m256i multiplier) {
    __m256i even[kHalf], odd[kHalf];
    for (size_t r = 0; r < kHalf; ++r) {
        even[r] = LoadHalves(chains[r].even + j / 2, chains[kHalf + r].even + j / 2);
        odd[r] = LoadHalves(chains[r].odd + j / 2, chains[kHalf + r].odd + j / 2);
    }
    Transpose8x8Twice(even);
    Transpose8x8Twice(odd);
    for (size_t t = 0; t < 8; ++t) {
        __m256i& first = left[(Phase + 2 * t) % 3];
        first = _mm256_mulhi_epu16(_mm256_add_epi16(even[t], first), multiplier);
        __m256i& second = left[(Phase + 2 * t + 1) % 3];
        second = _mm256_mulhi_epu16(_mm256_add_epi16(odd[t], second), multiplier);
        even[t] = _mm256_or_si256(first, _mm256_slli_epi16(second, 8));
    }
    Transpose8x8Twice(even);
    for (size_t r = 0; r < kHalf; ++r) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(chains[r].out + j),
                         _mm256_castsi256_si128(even[r]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(chains[kHalf + r].out + j),
                         _mm256_extracti128_si256(even[r], 1));
    }
}

__attribute__((target("avx2"))) void RunSixteenChains(const Chain* chains, size_t bytes) {
    const LaneStart start(chains);
    const __m256i multiplier =
        _mm256_load_si256(reinterpret_cast<const __m256i*>(start.multipliers));
    __m256i left[3];
    for (size_t k = 0; k < 3; ++k)
        left[k] = _mm256_load_si256(reinterpret_cast<const __m256i*>(start.lefts[k]));
    for (size_t j = 0; j < bytes; j += kLaneStep) {
        RunLaneBlock<0>(chains, j, left, multiplier);
        RunLaneBlock<1>(chains, j + 16, left, multiplier);
        RunLaneBlock<2>(chains, j + 32, left, multiplier);
    }
}
#endif

// kLanes chains; bytes is a multiple of kLaneStep. Without AVX2 one chain after the other.
void RunChainLanes(const Chain chains[kLanes], size_t bytes) {
#if MIVRA_AVX2_LANES
    if (__builtin_cpu_supports("avx2")) return RunSixteenChains(chains, bytes);
#endif
    for (size_t r = 0; r < kLanes; ++r)
        RunChain(chains[r], bytes);
}

// In place with the left tap. A row is a serial chain, but it needs the smoothed row below
// only up to the pixel after its own. So the rows run as a skewed wavefront: the interior of a
// row is cut into chunks, and row i smooths chunk c in step c + 2i, two chunks behind the row
// below (one chunk behind would race with that row's next chunk). The rows of one step touch
// disjoint bytes and read nothing another row writes in that step, so their chains run
// together. The above row is still unsmoothed where it is read, as it is two chunks behind.
// Chunks of 64 pixels give a 1920-pixel row 29 of them, so about fifteen rows share a step
// and fill the lanes; longer chunks leave lanes empty, shorter ones cost more per call.
constexpr size_t kChunkPixels = 64;
constexpr size_t kChunkBytes = 3 * kChunkPixels;
static_assert(kChunkBytes % kLaneStep == 0);

class InPlaceSmoother {
  public:
    InPlaceSmoother(uint8_t* frame, uint16_t taps, size_t width, size_t height)
        : frame_(frame), taps_(taps), height_(height), a_(3 * width), zeros_(a_, 0),
          sums_((kLanes + 1) * kChunkBytes), spareOut_(3 + kChunkBytes) {
        TapMasks(taps, true, masks_);
        chunks_ = width >= 3 ? (width - 2) / kChunkPixels : 0;
        for (int above = 0; above < 2; ++above)
            for (int below = 0; below < 2; ++below) {
                const TapCounts c = CountTaps(taps, above, below);
                counts_[above][below] = c;
                interiorMultipliers_[above][below] = DivisionMultiplier(c.own + c.right + c.left);
            }
    }

    void Run() {
        // Step s holds the rows i with 0 <= s - 2i <= chunks_, the last being the row's tail.
        for (size_t step = 0; step <= chunks_ + 2 * (height_ - 1); ++step) {
            const size_t lowest = step > chunks_ ? (step - chunks_ + 1) / 2 : 0;
            const size_t highest = std::min(step / 2, height_ - 1);
            Chain chains[kLanes];
            size_t waiting = 0;
            for (size_t i = lowest; i <= highest; ++i) {
                const size_t chunk = step - 2 * i;
                if (chunk == 0) SmoothFirstPixel(i);
                if (chunk == chunks_) {
                    SmoothTail(i, 3 + chunks_ * kChunkBytes);
                    continue;
                }
                chains[waiting] = PrepareChunk(i, 3 + chunk * kChunkBytes, waiting);
                if (++waiting == kLanes) {
                    RunChainLanes(chains, kChunkBytes);
                    waiting = 0;
                }
            }
            if (waiting == 0) continue;
            // Lanes without a row of their own run on spare bytes; what they compute is unused.
            for (size_t r = waiting; r < kLanes; ++r)
                chains[r] = {spareOut_.data() + 3, Even(kLanes), Odd(kLanes), 2};
            RunChainLanes(chains, kChunkBytes);
        }
    }

  private:
    struct Row {
        uint8_t* row;
        const uint8_t* above; // still the input
        const uint8_t* below; // already smoothed
        TapCounts counts;
        uint32_t interiorMultiplier;
    };

    Row RowAt(size_t i) const {
        uint8_t* row = frame_ + i * a_;
        const bool hasAbove = i + 1 < height_, hasBelow = i > 0;
        return {row, hasAbove ? row + a_ : zeros_.data(), hasBelow ? row - a_ : zeros_.data(),
                counts_[hasAbove][hasBelow], interiorMultipliers_[hasAbove][hasBelow]};
    }

    // Sums the pairs of bytes from begin into slot n.
    void SumPairs(const Row& r, size_t n, size_t begin, size_t words) {
        auto tap = [&](uint16_t bit, const uint8_t* line) {
            return taps_ & bit ? line : zeros_.data();
        };
        SumNeighbourPairs(Even(n), Odd(n), r.row, tap(kAbove, r.above), tap(kAboveRight, r.above),
                          tap(kRight, r.row), tap(kBelowRight, r.below), tap(kBelow, r.below),
                          tap(kBelowLeft, r.below), tap(kAboveLeft, r.above), begin, words);
    }

    // Slot n holds the even and the odd sums of one chunk.
    uint16_t* Even(size_t n) { return sums_.data() + n * kChunkBytes; }
    uint16_t* Odd(size_t n) { return Even(n) + kChunkBytes / 2; }

    void SmoothFirstPixel(size_t i) {
        const Row r = RowAt(i);
        uint16_t sums[3];
        for (size_t j = 0; j < 3; ++j)
            sums[j] = EdgeSum(r.row, r.above, r.below, masks_, j, a_);
        DivideRow(r.row, sums, 0, 3, r.counts.own + (a_ > 3 ? r.counts.right : 0));
    }

    // Sums the chunk at begin into slot n; the chain adds the left neighbours.
    Chain PrepareChunk(size_t i, size_t begin, size_t n) {
        const Row r = RowAt(i);
        SumPairs(r, n, begin, kChunkBytes / 2);
        return {r.row + begin, Even(n), Odd(n), r.interiorMultiplier};
    }

    // The interior pixels after the last whole chunk (fewer than a chunk), then the last pixel.
    void SmoothTail(size_t i, size_t begin) {
        if (a_ == 3) return; // the first pixel was the whole row
        const Row r = RowAt(i);
        const TapCounts& c = r.counts;
        const size_t last = a_ - 3, bytes = last - begin;
        if (bytes > 0) {
            // A byte without a partner would read a word past the row's end at its right
            // neighbours.
            SumPairs(r, kLanes, begin, bytes / 2);
            if (bytes % 2)
                Even(kLanes)[bytes / 2] = EdgeSum(r.row, r.above, r.below, masks_, last - 1, a_);
            RunChain({r.row + begin, Even(kLanes), Odd(kLanes), r.interiorMultiplier}, bytes);
        }
        uint16_t even[2], odd[1];
        even[0] = EdgeSum(r.row, r.above, r.below, masks_, last, a_);
        odd[0] = EdgeSum(r.row, r.above, r.below, masks_, last + 1, a_);
        even[1] = EdgeSum(r.row, r.above, r.below, masks_, last + 2, a_);
        RunChain({r.row + last, even, odd, DivisionMultiplier(c.own + c.left)}, 3);
    }

    uint8_t* frame_;
    uint16_t taps_;
    size_t height_, a_, chunks_;
    uint8_t masks_[8];
    // By whether the row has a line above and below; dividing once per frame, not per chunk.
    TapCounts counts_[2][2];
    uint32_t interiorMultipliers_[2][2];
    std::vector<uint8_t> zeros_;
    std::vector<uint16_t> sums_;    // a slot for each lane, one for tails and spare lanes
    std::vector<uint8_t> spareOut_; // written by the spare lanes, never read
};

} // namespace

void ComputeZoomSteps(ZoomKey& start, const ZoomKey& end, int32_t rangeStart, int32_t rangeEnd) {
    const double n = static_cast<double>(int64_t{rangeEnd} - rangeStart);
    start.flags = 0;
    if (!(end.xZoom > start.xZoom)) start.flags |= 1;
    if (!(end.yZoom > start.yZoom)) start.flags |= 2;
    if (n == 0) { // one frame: rendered with the start key, the steps are never used
        start.xZoomStep = start.yZoomStep = start.xPosStep = start.yPosStep = 0;
        return;
    }
    start.xZoomStep = (end.xZoom - start.xZoom) / n;
    start.yZoomStep = (end.yZoom - start.yZoom) / n;
    start.xPosStep = (end.xPos - start.xPos) / n;
    start.yPosStep = (end.yPos - start.yPos) / n;
}

void AdvanceZoomKey(ZoomKey& key, const ZoomKey& end) {
    key.xZoom = AdvanceZoom(key.xZoom, key.xZoomStep, end.xZoom, key.flags & 1);
    key.xPos += key.xPosStep;
    key.yZoom = AdvanceZoom(key.yZoom, key.yZoomStep, end.yZoom, key.flags & 2);
    key.yPos += key.yPosStep;
}

void ZoomFrame(ZoomKey key, const uint8_t* source, uint8_t* output, int32_t width, int32_t height,
               int32_t bitCount, ZoomVariant variant) {
    if (bitCount != 16 && bitCount != 24) return;
    if (width <= 0 || height <= 0) return;
    const int bpp = bitCount / 8;
    std::memset(output, 0, size_t(width) * size_t(height) * size_t(bpp));
    if (key.xSize == 0 || key.ySize == 0 || !KeyIsUsable(key)) return;
    const bool pick = variant == ZoomVariant::PickView;
    if (bpp == 2)
        Resample<2>(key, source, output, width, height, pick);
    else
        Resample<3>(key, source, output, width, height, pick);
}

void SmoothFrame(uint8_t* output, const uint8_t* input, uint16_t taps, int32_t width,
                 int32_t height, int32_t bitCount) {
    if (bitCount != 24 || width <= 0 || height <= 0) return;
    if (output == input && (taps & kLeft))
        return InPlaceSmoother(output, taps, size_t(width), size_t(height)).Run();
    const size_t a = size_t(width) * 3;
    const std::vector<uint8_t> zeros(a, 0);
    std::vector<uint16_t> sums(a);
    std::vector<uint8_t> result(a);
    for (size_t i = 0; i < size_t(height); ++i) {
        // Every neighbour is read before the row is written. Below: already smoothed when in
        // place, as the input still holds it otherwise.
        const bool hasAbove = i + 1 < size_t(height), hasBelow = i > 0;
        const uint8_t* row = input + i * a;
        SmoothRow(output + i * a, row, hasAbove ? row + a : zeros.data(),
                  hasBelow ? row - a : zeros.data(), hasAbove, hasBelow, taps, a, sums.data(),
                  result.data());
    }
}
