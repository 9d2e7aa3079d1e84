// Runs an effect's renderer over all its frames, as the framework's render does.
#pragma once

#include "renderer.h"

#include <cstdint>
#include <string>
#include <vector>

struct RenderedFrames {
    std::vector<std::vector<uint8_t>> frames;
    std::string kinds; // per frame: M made, P passed through
    std::string error; // the failure that stopped the render
};

inline RenderedFrames RenderAll(plugin::Renderer& renderer) {
    RenderedFrames out;
    for (int64_t i = 0; i < renderer.frameCount(); ++i) {
        std::vector<uint8_t> pixels(renderer.format().biSizeImage);
        const plugin::FrameResult result = renderer.render(i, pixels.data());
        if (!result.ok) {
            out.error = result.error;
            break;
        }
        if (result.made && renderer.passes(i)) {
            out.error = "a frame passes() lets through was made";
            break;
        }
        out.kinds += result.made ? 'M' : 'P';
        out.frames.push_back(std::move(pixels));
    }
    return out;
}
