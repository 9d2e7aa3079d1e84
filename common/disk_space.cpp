#include "disk_space.h"

#include <cstdio>
#include <system_error>

namespace {

constexpr double kBytesPerMegabyte = 1024.0 * 1024.0;

std::string Megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / kBytesPerMegabyte);
    return text;
}

} // namespace

std::string DiskFullCause(const std::filesystem::path& folder, uint64_t neededBytes) {
    std::error_code error;
    const std::filesystem::space_info room = std::filesystem::space(folder, error);
    if (error || room.available >= neededBytes) return {};
    return "\nディスクの空き容量が足りません（必要: 約" + Megabytes(neededBytes) +
           "、空き: " + Megabytes(room.available) + "）";
}
