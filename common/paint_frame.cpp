#include "paint_frame.h"

#include "dialog.h"

#include <QImage>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

// Geometry of an uncompressed frame whose every pixel lies inside its biSizeImage bytes.
struct FrameLayout {
    int width = 0;
    int height = 0;
    int bytesPerPixel = 0;
    int64_t stride = 0; // bytes from one stored row to the next
    bool topDown = false;
};

constexpr uint32_t kBiRgb = 0;

bool LayoutOf(const BITMAPINFOHEADER& header, FrameLayout& layout) {
    if (header.biCompression != kBiRgb) return false;
    if (header.biBitCount != 16 && header.biBitCount != 24) return false;
    const int64_t height = header.biHeight;
    if (header.biWidth <= 0 || height == 0) return false;
    layout.width = header.biWidth;
    layout.height = static_cast<int>(std::min<int64_t>(std::llabs(height), INT32_MAX));
    layout.bytesPerPixel = header.biBitCount / 8;
    layout.stride = (static_cast<int64_t>(layout.width) * header.biBitCount + 31) / 32 * 4;
    layout.topDown = height < 0;
    // The last row need not carry its padding (a 1 x 1 frame of 3 bytes is complete). Divided
    // rather than multiplied, so that no header can overflow the arithmetic.
    const int64_t lastRow = static_cast<int64_t>(layout.width) * layout.bytesPerPixel;
    const int64_t available = header.biSizeImage;
    return lastRow <= available && layout.height - 1 <= (available - lastRow) / layout.stride;
}

uint32_t Expand555(unsigned word) {
    const unsigned r = (word >> 10) & 31u, g = (word >> 5) & 31u, b = word & 31u;
    return 0xFF000000u | ((r << 3 | r >> 2) << 16) | ((g << 3 | g >> 2) << 8) | (b << 3 | b >> 2);
}

// Copies the window (x0, y0, w, h) of the frame, rows counted from the top, into 0xAARRGGBB
// pixels. The window lies inside the frame.
void ConvertWindow(const uint8_t* pixels, const FrameLayout& layout, int x0, int y0, int w, int h,
                   uint8_t* out, int64_t outStride) {
    for (int y = 0; y < h; ++y) {
        const int storedRow = layout.topDown ? y0 + y : layout.height - 1 - (y0 + y);
        const uint8_t* src =
            pixels + storedRow * layout.stride + int64_t{x0} * layout.bytesPerPixel;
        auto* dst = reinterpret_cast<uint32_t*>(out + y * outStride);
        if (layout.bytesPerPixel == 3) {
            for (int x = 0; x < w; ++x, src += 3)
                dst[x] = 0xFF000000u | uint32_t{src[2]} << 16 | uint32_t{src[1]} << 8 | src[0];
        } else {
            for (int x = 0; x < w; ++x, src += 2)
                dst[x] = Expand555(src[0] | src[1] << 8);
        }
    }
}

void DrawWindow(dlg::Dialog& dialog, int id, const void* pixels, const BITMAPINFOHEADER* header,
                int cutW, int cutH, int srcX, int srcY, FrameScaling scaling) {
    FrameLayout layout;
    if (!pixels || !header || !LayoutOf(*header, layout)) {
        dialog.setControlImage(id, QImage(), false);
        return;
    }
    const int64_t left = std::max<int64_t>(srcX, 0);
    const int64_t top = std::max<int64_t>(srcY, 0);
    const int64_t right = std::min<int64_t>(int64_t{srcX} + layout.width - cutW, layout.width);
    const int64_t bottom = std::min<int64_t>(int64_t{srcY} + layout.height - cutH, layout.height);
    if (right <= left || bottom <= top) {
        dialog.setControlImage(id, QImage(), false);
        return;
    }
    QImage image(static_cast<int>(right - left), static_cast<int>(bottom - top),
                 QImage::Format_RGB32);
    if (image.isNull()) { // too large to allocate
        dialog.setControlImage(id, QImage(), false);
        return;
    }
    ConvertWindow(static_cast<const uint8_t*>(pixels), layout, static_cast<int>(left),
                  static_cast<int>(top), image.width(), image.height(), image.bits(),
                  image.bytesPerLine());
    dialog.setControlImage(id, image, scaling == FrameScaling::Smooth);
}

} // namespace

void PaintFrame(dlg::Dialog& dialog, int id, const void* pixels, const BITMAPINFOHEADER* header,
                FrameScaling scaling) {
    DrawWindow(dialog, id, pixels, header, 0, 0, 0, 0, scaling);
}

void PaintFramePart(dlg::Dialog& dialog, int id, const void* pixels, const BITMAPINFOHEADER* header,
                    int cutW, int cutH, int srcX, int srcY, FrameScaling scaling) {
    DrawWindow(dialog, id, pixels, header, cutW, cutH, srcX, srcY, scaling);
}
