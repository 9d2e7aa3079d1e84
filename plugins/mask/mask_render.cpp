#include "mask_render.h"

#include "key_replace.h"
#include "render.h"

#include <algorithm>
#include <limits>

namespace mask {

namespace {

constexpr const char* kFrameUnreadable = "フレームを読み込めませんでした";

// Frame n of a linked stream; a range reaching past the stream's end (a one-frame stream under
// the default range) repeats the stream's last frame.
bool ReadLinkedFrame(const LinkedStream& linked, int64_t n, std::vector<uint8_t>& buffer) {
    const int64_t inside = std::clamp<int64_t>(n, 0, std::max(linked.length - 1, 0));
    const DWORD bytes = linked.format.biSizeImage;
    if (bytes == 0 || bytes > buffer.size() || bytes > uint32_t(std::numeric_limits<LONG>::max()))
        return false;
    return AVIStreamRead(linked.stream, LONG(inside), 1, buffer.data(), LONG(bytes), nullptr,
                         nullptr) == AVIERR_OK;
}

// Room for a linked stream's frame and for the base frame the key pass addresses alike.
size_t Room(const LinkedStream& linked, const BITMAPINFOHEADER& base) {
    return std::max(linked.format.biSizeImage, base.biSizeImage);
}

} // namespace

MaskRenderer::MaskRenderer(const MaskParams& params)
    : params_(params), maskFrame_(Room(params.mask, params.format)),
      backFrame_(Room(params.back, params.format)) {}

bool MaskRenderer::passes(int64_t index) const {
    return index < params_.start || index > params_.end;
}

plugin::FrameResult MaskRenderer::render(int64_t index, uint8_t* pixels) {
    const MaskParams& p = params_;
    const bool back = p.useBackground;
    // The start frames are read before the first frame, so a group holding its start frame
    // has it for the whole range.
    if (!startRead_ && !(ReadLinkedFrame(p.mask, p.mask.start, maskFrame_) &&
                         (!back || ReadLinkedFrame(p.back, p.back.start, backFrame_))))
        return plugin::FrameResult::Failed(kFrameUnreadable);
    startRead_ = true;
    if (!plugin::ReadFrame(p.base, index, pixels, p.format))
        return plugin::FrameResult::Failed(kFrameUnreadable);
    if (passes(index)) return plugin::FrameResult::Passed();
    const int64_t k = index - p.start;
    if (!p.mask.holds && !ReadLinkedFrame(p.mask, p.mask.start + k, maskFrame_))
        return plugin::FrameResult::Failed(kFrameUnreadable);
    if (back && !p.back.holds && !ReadLinkedFrame(p.back, p.back.start + k, backFrame_))
        return plugin::FrameResult::Failed(kFrameUnreadable);
    const uint8_t keyRGB[3] = {p.key[2], p.key[1], p.key[0]};
    KeyReplace(pixels, maskFrame_.data(), backFrame_.data(), keyRGB, p.format.biSizeImage,
               back ? 1 : 0);
    return plugin::FrameResult::Made();
}

} // namespace mask
