#include "zoom_render.h"

#include "render.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace zoom {

namespace {

const char kFrameUnreadable[] = "フレームを読み込めませんでした";

// Bytes the kernels write into a frame: rows of packed pixels, none for depths they leave alone
// (the smoothing runs on 24-bit frames only).
size_t KernelBytes(const BITMAPINFOHEADER& format) {
    const int64_t width = format.biWidth, height = format.biHeight, bits = format.biBitCount;
    if ((bits != 16 && bits != 24) || width <= 0 || height <= 0) return 0;
    return size_t(width * height * (bits / 8));
}

} // namespace

size_t FrameBufferBytes(const BITMAPINFOHEADER& format) {
    return std::max<size_t>(format.biSizeImage, KernelBytes(format));
}

void ZoomAndSmooth(const ZoomParams& params, const ZoomKey& key, const uint8_t* source,
                   uint8_t* output) {
    const BITMAPINFOHEADER& f = params.format;
    ZoomFrame(key, source, output, f.biWidth, f.biHeight, f.biBitCount);
    if (params.filter)
        SmoothFrame(output, output, params.taps, f.biWidth, f.biHeight, f.biBitCount);
}

ZoomRenderer::ZoomRenderer(const ZoomParams& params)
    : params_(params), kernelBytes_(KernelBytes(params.format)),
      source_(FrameBufferBytes(params.format)), running_(params.start) {
    if (kernelBytes_ > params_.format.biSizeImage) zoomed_.resize(kernelBytes_);
    ComputeZoomSteps(running_, params_.end, params_.rangeStart, params_.rangeEnd);
}

bool ZoomRenderer::passes(int64_t index) const {
    return index < params_.rangeStart || index > params_.rangeEnd;
}

plugin::FrameResult ZoomRenderer::render(int64_t index, uint8_t* pixels) {
    const BITMAPINFOHEADER& f = params_.format;
    const bool inRange = !passes(index);
    if (!plugin::ReadFrame(params_.stream, index, inRange ? source_.data() : pixels, f))
        return plugin::FrameResult::Failed(kFrameUnreadable);
    if (!inRange) return plugin::FrameResult::Passed();
    running_.xSize = f.biWidth * (running_.xZoom / 100);
    running_.ySize = f.biHeight * (running_.yZoom / 100);
    // Straight into the output frame when it holds the kernels' rows; the rest of it (row
    // padding, or the whole frame at a depth they leave alone) turns black.
    if (zoomed_.empty()) {
        ZoomAndSmooth(params_, running_, source_.data(), pixels);
        std::memset(pixels + kernelBytes_, 0, f.biSizeImage - kernelBytes_);
    } else {
        ZoomAndSmooth(params_, running_, source_.data(), zoomed_.data());
        std::memcpy(pixels, zoomed_.data(), f.biSizeImage);
    }
    AdvanceZoomKey(running_, params_.end);
    return plugin::FrameResult::Made();
}

} // namespace zoom
