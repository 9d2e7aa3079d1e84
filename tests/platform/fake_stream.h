// An in-memory source stream for editable-stream tests: frame i holds the 32-bit number
// base + i, so a read-back shows exactly which source frame ended up where.
#pragma once

#include "avifile/avifile.h"
#include "avifile/stream.h"

#include <algorithm>
#include <cstring>

struct FakeShape {
    LONG width = 32;
    LONG height = 24;
    WORD bitCount = 24;
};

class FakeStream final : public AviStream {
  public:
    // Number of FakeStream objects alive, to check that editable streams release their sources.
    static inline int alive = 0;

    FakeStream(LONG frames, LONG base, FakeShape shape = {})
        : frames_(frames), base_(base), shape_(shape) {
        ++alive;
    }
    ~FakeStream() override { --alive; }

    HRESULT Info(AVISTREAMINFOA& info) override {
        info = {};
        info.fccType = streamtypeVIDEO;
        info.dwScale = 1;
        info.dwRate = 25;
        info.dwLength = static_cast<DWORD>(frames_);
        info.rcFrame = {0, 0, shape_.width, shape_.height};
        std::strcpy(info.szName, "fake");
        return AVIERR_OK;
    }

    LONG Length() override { return frames_; }

    HRESULT ReadFormat(LONG, void* format, LONG* size) override {
        BITMAPINFOHEADER header{};
        header.biSize = sizeof header;
        header.biWidth = shape_.width;
        header.biHeight = shape_.height;
        header.biPlanes = 1;
        header.biBitCount = shape_.bitCount;
        header.biSizeImage = sizeof(int32_t);
        if (format && *size > 0)
            std::memcpy(format, &header,
                        std::min<size_t>(sizeof header, static_cast<size_t>(*size)));
        *size = sizeof header;
        return AVIERR_OK;
    }

    HRESULT ReadFrame(LONG frame, void* buffer, LONG bufferSize, LONG* bytes) override {
        if (frame < 0 || frame >= frames_ || !buffer || bufferSize < 4) return AVIERR_ERROR;
        const int32_t value = base_ + frame;
        std::memcpy(buffer, &value, sizeof value);
        if (bytes) *bytes = sizeof value;
        return AVIERR_OK;
    }

  private:
    LONG frames_;
    LONG base_;
    FakeShape shape_;
};
