// libFuzzer target: arbitrary bytes as a bitmap file, parsed in memory and loaded from a file;
// both ways must agree, and a usable frame must be exactly its rows.
#include "bitmap_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The input as a file without touching the disk: a memory file named through /proc.
int InputFile(const uint8_t* data, size_t size) {
    static const int fd = memfd_create("bitmap_fuzz", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0) return -1;
    size_t done = 0;
    while (done < size) {
        const ssize_t put = pwrite(fd, data + done, size - done, off_t(done));
        if (put <= 0) return -1;
        done += size_t(put);
    }
    return fd;
}

bool Same(const bitmap::Frame& a, const bitmap::Frame& b) {
    return std::memcmp(&a.format, &b.format, sizeof a.format) == 0 && a.pixels == b.pixels;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bitmap::Frame parsed;
    const bitmap::Check check = bitmap::ParseBitmap({data, size}, parsed);
    if (check == bitmap::Check::Usable) {
        const BITMAPINFOHEADER& f = parsed.format;
        const uint64_t rows = (uint64_t(f.biWidth) * f.biBitCount + 31) / 32 * 4 * f.biHeight;
        if (parsed.pixels.size() != f.biSizeImage || f.biSizeImage != rows || f.biHeight <= 0 ||
            f.biSize != sizeof(BITMAPINFOHEADER))
            std::abort();
    }
    const int fd = InputFile(data, size);
    if (fd < 0) return 0;
    bitmap::Frame loaded;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const bitmap::Check loadedCheck = bitmap::LoadBitmap(path.c_str(), loaded);
    if (loadedCheck != check || (check == bitmap::Check::Usable && !Same(parsed, loaded)))
        std::abort();
    return 0;
}
