#include "workspace.h"

#include <cstring>

bool CopyPath(char (&buffer)[kPathSize], const char* text) {
    const std::size_t length = std::strlen(text);
    if (length >= kPathSize) return false;
    std::memcpy(buffer, text, length + 1);
    return true;
}

namespace {

// The longest prefix of text within `limit` bytes that ends between UTF-8 characters.
std::size_t WholeCharacters(const char* text, std::size_t length, std::size_t limit) {
    if (length <= limit) return length;
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return end;
}

} // namespace

void FitPath(char (&buffer)[kPathSize], const char* path) {
    if (CopyPath(buffer, path)) return;
    const char* slash = std::strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    const std::size_t kept = WholeCharacters(name, std::strlen(name), kPathSize - 1);
    std::memset(buffer, 0, kPathSize);
    std::memcpy(buffer, name, kept);
}

void StripPath(char (&path)[kPathSize], int mode) {
    char stripped[kPathSize] = {};
    const std::size_t length = strnlen(path, kPathSize - 1);
    std::size_t start = length;
    while (start > 0 && path[start - 1] != '/')
        --start;
    if (mode == 1)
        std::memcpy(stripped, path + start, length - start);
    else
        std::memcpy(stripped, path, start);
    std::memcpy(path, stripped, kPathSize);
}
