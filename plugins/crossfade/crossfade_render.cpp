#include "crossfade_render.h"

#include "render.h"

#include "avifile/dib.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

namespace crossfade {

namespace {

const char kSourceUnreadable[] = "このストリームのフレーム %lld を読めませんでした";
const char kDestinationUnreadable[] = "合成するストリームのフレーム %lld を読めませんでした";

plugin::FrameResult Unreadable(const char* format, int64_t frame) {
    char text[128];
    std::snprintf(text, sizeof text, format, static_cast<long long>(frame));
    return plugin::FrameResult::Failed(text);
}

// The blend changes no byte of a depth it does not know, nor with a weight of nothing (an
// infinite ratio) or of 0 / 0.
bool BlendChangesFrame(double ratio, int bitCount) {
    return std::isfinite(ratio) && (bitCount == 16 || bitCount == 24);
}

} // namespace

int64_t OutputFrames(const CrossfadeParams& p) {
    const int64_t appended =
        p.insertOverStream ? std::max(0, p.destinationFrames - 1 - p.destinationEnd) : 0;
    return int64_t{p.sourceFrames} + appended;
}

CrossfadeRenderer::CrossfadeRenderer(const CrossfadeParams& params)
    : params_(params), blend_{0.0, 0.0, params.endTransPercent, params.startTransPercent, 0},
      destFrame_(params.destinationFormat.biSizeImage),
      converted_(params.sourceFormat.biSizeImage) {
    SetupBlend(blend_, params_.rangeStart, params_.rangeEnd);
}

// Source frames outside the range; appended frames are always made.
bool CrossfadeRenderer::passes(int64_t index) const {
    return index < params_.sourceFrames && (index < params_.rangeStart || index > params_.rangeEnd);
}

// Frames come in order, so the weight advances once per frame of the range.
plugin::FrameResult CrossfadeRenderer::render(int64_t index, uint8_t* pixels) {
    if (index >= params_.sourceFrames) {
        if (!readDestination(params_.destinationEnd + 1 + (index - params_.sourceFrames)))
            return Unreadable(kDestinationUnreadable,
                              params_.destinationEnd + 1 + (index - params_.sourceFrames));
        copyInSourceDepth(pixels, params_.sourceFormat.biSizeImage);
        return plugin::FrameResult::Made();
    }
    if (!plugin::ReadFrame(params_.source, index, pixels, params_.sourceFormat))
        return Unreadable(kSourceUnreadable, index);
    destinationShare_ = 0;
    if (passes(index)) return plugin::FrameResult::Passed();
    return blendDestinationInto(index, pixels);
}

plugin::FrameSound CrossfadeRenderer::soundOf(int64_t index) const {
    if (index >= params_.sourceFrames)
        return {-1, params_.destination,
                params_.destinationEnd + 1 + (index - params_.sourceFrames), 1.0};
    if (passes(index) || destinationShare_ <= 0) return plugin::FrameSound::Own(index);
    const int64_t frame = params_.destinationStart + (index - params_.rangeStart);
    return {index, params_.destination, frame, destinationShare_};
}

// Past the destination's last frame the source frame stays as it is.
plugin::FrameResult CrossfadeRenderer::blendDestinationInto(int64_t index, uint8_t* pixels) {
    const double ratio = AdvanceBlendWeight(blend_);
    const int64_t frame = params_.destinationStart + (index - params_.rangeStart);
    if (frame >= params_.destinationFrames) return plugin::FrameResult::Passed();
    if (!readDestination(frame)) return Unreadable(kDestinationUnreadable, frame);
    const BITMAPINFOHEADER& target = params_.sourceFormat;
    if (!BlendChangesFrame(ratio, target.biBitCount)) return plugin::FrameResult::Passed();
    destinationShare_ = std::clamp(1.0 / ratio, 0.0, 1.0);
    if (params_.destinationFormat.biBitCount == target.biBitCount) {
        BlendFrames(pixels, destFrame_.data(), destFrame_.size(), ratio, target);
    } else {
        copyInSourceDepth(converted_.data(), converted_.size());
        BlendFrames(pixels, converted_.data(), converted_.size(), ratio, target);
    }
    return plugin::FrameResult::Made();
}

bool CrossfadeRenderer::readDestination(int64_t frame) {
    return plugin::ReadFrame(params_.destination, frame, destFrame_.data(),
                             params_.destinationFormat);
}

// The destination frame in the source's depth; row by row, so that each depth's rows keep their
// own padding to four bytes.
void CrossfadeRenderer::copyInSourceDepth(uint8_t* out, size_t outSize) const {
    const BITMAPINFOHEADER& in = params_.destinationFormat;
    const BITMAPINFOHEADER& target = params_.sourceFormat;
    if (in.biBitCount == target.biBitCount) {
        std::memcpy(out, destFrame_.data(), std::min(destFrame_.size(), outSize));
        return;
    }
    const auto inRow = size_t(avi::DibRowBytes(in.biWidth, in.biBitCount));
    const auto outRow = size_t(avi::DibRowBytes(target.biWidth, target.biBitCount));
    if (inRow == 0 || outRow == 0) return;
    BITMAPINFOHEADER row = in;
    row.biSizeImage = DWORD(in.biWidth * (in.biBitCount / 8));
    const size_t rows = std::min(destFrame_.size() / inRow, outSize / outRow);
    for (size_t r = 0; r < rows; ++r)
        ConvertPixelDepth(target.biBitCount, row, destFrame_.data() + r * inRow, out + r * outRow,
                          outRow);
}

} // namespace crossfade
