#include "workspace.h"

#include <cstring>
#include <filesystem>
#include <system_error>

void TempAviName(int n, EditWorkspace& ws) {
    // n is 0..99: two digits. Start-up refuses a folder too long for the name to fit; the
    // bound on the copied length keeps even a bad record inside the buffer.
    const unsigned number = unsigned(n) % 100u;
    const char name[] = {
        char('0' + number / 10), char('0' + number % 10), '.', 'a', 'v', 'i', '\0'};
    const std::size_t length = strnlen(ws.tempDir, kPathSize - sizeof name);
    std::memcpy(ws.tempPath, ws.tempDir, length);
    std::memcpy(ws.tempPath + length, name, sizeof name);
}

void DeleteTempFile(char* pathBuffer, int n, EditWorkspace& ws) {
    std::error_code ignored;
    if (n == -1) {
        std::filesystem::remove(std::filesystem::path(pathBuffer), ignored);
        return;
    }
    // The number is named in tempPath, whichever buffer the caller passed.
    char remembered[kPathSize];
    std::memcpy(remembered, ws.tempPath, kPathSize);
    TempAviName(n, ws);
    std::filesystem::remove(std::filesystem::path(ws.tempPath), ignored);
    std::memcpy(ws.tempPath, remembered, kPathSize);
}

bool CopyPath(char (&buffer)[kPathSize], const char* text) {
    const std::size_t length = std::strlen(text);
    if (length >= kPathSize) return false;
    std::memcpy(buffer, text, length + 1);
    return true;
}
