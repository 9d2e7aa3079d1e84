#include "workspace.h"

#include <cstring>

bool CopyPath(char (&buffer)[kPathSize], const char* text) {
    const std::size_t length = std::strlen(text);
    if (length >= kPathSize) return false;
    std::memcpy(buffer, text, length + 1);
    return true;
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
