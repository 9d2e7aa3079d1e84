#include "color_render.h"

#include "render.h"

#include <cstdio>
#include <limits>
#include <string>

namespace {

constexpr const char* kCannotReadFrame = "フレーム %lld を読み込めませんでした";

std::string CannotRead(int64_t n) {
    char text[96];
    std::snprintf(text, sizeof text, kCannotReadFrame, static_cast<long long>(n));
    return text;
}

} // namespace

ColorRenderer::ColorRenderer(const ColorParams& params) : params_(params), ramp_(params.state) {}

// The range and the frame before it change; the offsets step only there.
bool ColorRenderer::passes(int64_t index) const {
    return index < int64_t{params_.rangeStart} - 1 || index > params_.rangeEnd;
}

plugin::FrameResult ColorRenderer::render(int64_t index, uint8_t* pixels) {
    const ColorParams& p = params_;
    if (!plugin::ReadFrame(p.source, index, pixels, p.format))
        return plugin::FrameResult::Failed(CannotRead(index));
    if (passes(index)) return plugin::FrameResult::Passed();
    const bool changes = !TransformKeepsFrame(ramp_, p.format, p.mode(), p.pixelX, p.pixelY);
    if (changes) TransformFrame(pixels, ramp_, p.format, p.mode(), p.pixelX, p.pixelY);
    AdvanceColorOffsets(ramp_, p.mode());
    return changes ? plugin::FrameResult::Made() : plugin::FrameResult::Passed();
}
