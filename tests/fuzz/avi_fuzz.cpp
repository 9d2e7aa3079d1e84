// libFuzzer target: arbitrary bytes opened as an AVI file, every frame read through the
// uncompressing view (in order, then a few positions chosen by the input).
#include "avifile.h"

extern "C" {
#include <libavutil/log.h>
}

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Enough frames to cross key-frame intervals; bounded so that one input stays fast.
constexpr LONG kMaxFrames = 300;

const std::string& InputPath() {
    static const std::string path = "/tmp/avi_fuzz_" + std::to_string(getpid()) + ".avi";
    return path;
}

bool WriteInput(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(InputPath().c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

void ReadEveryFrame(PAVISTREAM view, const uint8_t* data, size_t size) {
    BITMAPINFOHEADER header{};
    LONG formatSize = sizeof header;
    if (AVIStreamReadFormat(view, 0, &header, &formatSize) != AVIERR_OK) return;
    AVISTREAMINFOA info{};
    AVIStreamInfoA(view, &info, sizeof info);
    std::vector<uint8_t> frame(header.biSizeImage);
    const LONG bytes = static_cast<LONG>(frame.size());
    const LONG length = AVIStreamLength(view);
    const LONG frames = length < kMaxFrames ? length : kMaxFrames;
    for (LONG i = 0; i < frames; ++i)
        AVIStreamRead(view, i, i + 1, frame.data(), bytes, nullptr, nullptr);
    for (size_t k = 0; k < 8 && k < size && frames > 0; ++k) {
        const LONG at = data[size - 1 - k] % frames;
        AVIStreamRead(view, at, at + 1, frame.data(), bytes, nullptr, nullptr);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    av_log_set_level(AV_LOG_QUIET);
    if (!WriteInput(data, size)) return 0;
    PAVISTREAM stream = nullptr;
    if (AVIStreamOpenFromFileA(&stream, InputPath().c_str(), streamtypeVIDEO, 0,
                               OF_READ | OF_SHARE_DENY_NONE, nullptr) == AVIERR_OK) {
        PAVISTREAM view = nullptr;
        if (AVIMakeCompressedStream(&view, stream, nullptr, nullptr) == AVIERR_OK) {
            ReadEveryFrame(view, data, size);
            AVIStreamRelease(view);
        }
        AVIStreamRelease(stream);
    }
    return 0;
}
