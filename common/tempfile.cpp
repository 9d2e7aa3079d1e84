#include "workspace.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

void TempAviName(int n, EditWorkspace& ws) {
    std::snprintf(ws.tempPath, sizeof ws.tempPath, "%s%.2d.avi", ws.tempDir, n);
}

void DeleteTempFile(char* pathBuffer, int n, EditWorkspace& ws) {
    char remembered[kPathSize];
    std::memcpy(remembered, pathBuffer, kPathSize);
    if (n != -1) TempAviName(n, ws);
    std::error_code ignored;
    std::filesystem::remove(std::filesystem::path(pathBuffer), ignored);
    std::memcpy(pathBuffer, remembered, kPathSize);
}

bool CopyPath(char (&buffer)[kPathSize], const char* text) {
    const std::size_t length = std::strlen(text);
    if (length >= kPathSize) return false;
    std::memcpy(buffer, text, length + 1);
    return true;
}
