#include "zoom_resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "kernel_support.h"
#include "smoothing.h"

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

// Own byte plus every selected neighbour (a mask of 0xFF selects, 0 leaves out) of byte j of a
// row whose pixels have both neighbours.
inline uint16_t InteriorSum(const uint8_t* __restrict row, const uint8_t* __restrict above,
                            const uint8_t* __restrict below, const uint8_t m[8], size_t j) {
    return static_cast<uint16_t>(row[j] + (above[j] & m[0]) + (above[j + 3] & m[1]) +
                                 (row[j + 3] & m[2]) + (below[j + 3] & m[3]) + (below[j] & m[4]) +
                                 (below[j - 3] & m[5]) + (row[j - 3] & m[6]) +
                                 (above[j - 3] & m[7]));
}

// The sums of the bytes begin..end divided by count, into a row apart from the input; one pass
// the compiler vectorises.
void SmoothInterior(uint8_t* __restrict result, const uint8_t* __restrict row,
                    const uint8_t* __restrict above, const uint8_t* __restrict below,
                    const uint8_t m[8], size_t begin, size_t end, uint32_t count) {
    if (count == 1) { // no neighbour is taken
        std::memcpy(result + begin, row + begin, end - begin);
        return;
    }
    const uint16_t multiplier = static_cast<uint16_t>(DivisionMultiplier(count));
    for (size_t j = begin; j < end; ++j)
        result[j] = static_cast<uint8_t>(
            (uint32_t{InteriorSum(row, above, below, m, j)} * multiplier) >> 16);
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

// The table of this process's SIMD level, chosen on first use.
SmoothInPlaceRun SmoothInPlace() {
    static const SmoothInPlaceRun run = [] {
#if MIVRA_X86
        if (ProcessSimdLevel() >= SimdLevel::Avx2) return SmoothInPlaceAvx2;
#endif
        return SmoothInPlacePlain;
    }();
    return run;
}

} // namespace

uint16_t EdgeSum(const uint8_t* row, const uint8_t* above, const uint8_t* below, const uint8_t m[8],
                 size_t j, size_t a) {
    uint32_t sum = row[j] + (above[j] & m[0]) + (below[j] & m[4]);
    if (j + 3 < a) sum += (above[j + 3] & m[1]) + (row[j + 3] & m[2]) + (below[j + 3] & m[3]);
    if (j >= 3) sum += (below[j - 3] & m[5]) + (row[j - 3] & m[6]) + (above[j - 3] & m[7]);
    return static_cast<uint16_t>(sum);
}

void DivideRow(uint8_t* out, const uint16_t* sums, size_t begin, size_t end, uint32_t count) {
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

TapCounts CountTaps(uint16_t taps, bool hasAbove, bool hasBelow) {
    auto used = [&](uint16_t tap, bool exists) { return uint32_t((taps & tap) && exists); };
    return {1 + used(kAbove, hasAbove) + used(kBelow, hasBelow),
            used(kAboveRight, hasAbove) + used(kRight, true) + used(kBelowRight, hasBelow),
            used(kBelowLeft, hasBelow) + used(kLeft, true) + used(kAboveLeft, hasAbove)};
}

void TapMasks(uint16_t taps, bool chainedLeft, uint8_t masks[8]) {
    const uint16_t order[8] = {kAbove, kAboveRight, kRight, kBelowRight,
                               kBelow, kBelowLeft,  kLeft,  kAboveLeft};
    for (int n = 0; n < 8; ++n)
        masks[n] = (taps & order[n]) && !(order[n] == kLeft && chainedLeft) ? 0xFF : 0;
}

// A row's sums without the left tap are all taken before any of its bytes is written; then
// each byte adds its left neighbour, just smoothed.
void SmoothInPlacePlain(uint8_t* frame, uint16_t taps, size_t width, size_t height) {
    const size_t a = 3 * width;
    const std::vector<uint8_t> zeros(a, 0);
    std::vector<uint16_t> sums(a);
    uint8_t masks[8];
    TapMasks(taps, true, masks);
    for (size_t i = 0; i < height; ++i) {
        uint8_t* row = frame + i * a;
        const bool hasAbove = i + 1 < height, hasBelow = i > 0;
        const uint8_t* above = hasAbove ? row + a : zeros.data();
        const uint8_t* below = hasBelow ? row - a : zeros.data();
        const TapCounts n = CountTaps(taps, hasAbove, hasBelow);
        for (size_t j = 0; j < a; ++j)
            sums[j] = j >= 3 && j + 3 < a ? InteriorSum(row, above, below, masks, j)
                                          : EdgeSum(row, above, below, masks, j, a);
        DivideRow(row, sums.data(), 0, 3, n.own + (a > 3 ? n.right : 0));
        const uint32_t interior = DivisionMultiplier(n.own + n.right + n.left);
        const uint32_t last = DivisionMultiplier(n.own + n.left);
        for (size_t j = 3; j < a; ++j)
            row[j] = static_cast<uint8_t>(
                ((sums[j] + row[j - 3]) * (j + 3 < a ? interior : last)) >> 16);
    }
}

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
        return SmoothInPlace()(output, taps, size_t(width), size_t(height));
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
