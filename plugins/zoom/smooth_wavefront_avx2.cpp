// In-place smoothing with the left tap as a wavefront of rows whose chains run sixteen at a
// time in the lanes of AVX2 vectors.
#include "smoothing.h"

#include <algorithm>
#include <vector>

#include "kernel_support.h"

namespace {

// Own byte plus every neighbour but the left one (the chain carries it), for 2 x words bytes
// from begin of a row whose pixels have both neighbours, split by position: even[t] for byte
// begin + 2t, odd[t] for the byte after it. Reading the bytes as little-endian words and
// shifting them widens them without the shuffles that widening bytes costs. A tap left out
// reads a row of zeros, which costs less than masking every byte. One pass the compiler
// vectorises.
MIVRA_AVX2 void SumNeighbourPairs(uint16_t* __restrict even, uint16_t* __restrict odd,
                                  const uint8_t* __restrict row, const uint8_t* __restrict above,
                                  const uint8_t* __restrict aboveRight,
                                  const uint8_t* __restrict right,
                                  const uint8_t* __restrict belowRight,
                                  const uint8_t* __restrict below,
                                  const uint8_t* __restrict belowLeft,
                                  const uint8_t* __restrict aboveLeft, size_t begin, size_t words) {
    for (size_t t = 0; t < words; ++t) {
        const size_t j = begin + 2 * t;
        const uint16_t w[8] = {
            LoadWord(row + j),           LoadWord(above + j),          LoadWord(aboveRight + j + 3),
            LoadWord(right + j + 3),     LoadWord(belowRight + j + 3), LoadWord(below + j),
            LoadWord(belowLeft + j - 3), LoadWord(aboveLeft + j - 3)};
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
[[gnu::always_inline]] inline MIVRA_AVX2 void Transpose8x8Twice(__m256i v[8]) {
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

[[gnu::always_inline]] inline MIVRA_AVX2 __m256i LoadHalves(const uint16_t* low,
                                                            const uint16_t* high) {
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
MIVRA_AVX2 void RunLaneBlock(const Chain* chains, size_t j, __m256i left[3], __m256i multiplier) {
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

// kLanes chains; bytes is a multiple of kLaneStep.
MIVRA_AVX2 void RunSixteenChains(const Chain* chains, size_t bytes) {
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
                    RunSixteenChains(chains, kChunkBytes);
                    waiting = 0;
                }
            }
            if (waiting == 0) continue;
            // Lanes without a row of their own run on spare bytes; what they compute is unused.
            for (size_t r = waiting; r < kLanes; ++r)
                chains[r] = {spareOut_.data() + 3, Even(kLanes), Odd(kLanes), 2};
            RunSixteenChains(chains, kChunkBytes);
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

void SmoothInPlaceAvx2(uint8_t* frame, uint16_t taps, size_t width, size_t height) {
    InPlaceSmoother(frame, taps, width, height).Run();
}
