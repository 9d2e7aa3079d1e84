// The workspace record the host hands to every plug-in by address. Its layout is a binary
// interface between separately built modules: fixed field order and widths, no padding,
// handles and pointers at the native width.
#pragma once

#include "avifile/avifile.h"

#include <cstddef>

constexpr int kMaxSlots = 10;
constexpr int kPathSize = 100;

// Scratch temporary files that belong to no slot.
constexpr int kScratchOutput = 98;
constexpr int kScratchFlatten = 99;

#pragma pack(push, 1)
struct EditWorkspace {
    AVISTREAMINFOA streamInfo;
    PAVIFILE aviFile;
    PAVISTREAM aviStream;
    PAVISTREAM currentStream;
    PAVISTREAM slotStreams[kMaxSlots];
    int32_t rangeStart;
    int32_t rangeEnd;
    BITMAPINFOHEADER* frameFormat;
    uint8_t* startFrameBuffer;
    uint8_t* endFrameBuffer;
    char tempDir[kPathSize];
    char tempPath[kPathSize];
    char openPath[kPathSize];
    char savePath[kPathSize];
    char slotNames[kMaxSlots][kPathSize];
    int32_t currentSlot;
    int32_t slotCount;
};
#pragma pack(pop)

// The record's fields are packed, so a pointer field may sit at an address that is not a
// multiple of its size: never take the address of a handle or pointer field (copy it into a
// local, pass the local's address, store it back).
namespace workspace_layout {
constexpr std::size_t P = sizeof(void*);
static_assert(offsetof(EditWorkspace, streamInfo) == 0);
static_assert(offsetof(EditWorkspace, aviFile) == 140);
static_assert(offsetof(EditWorkspace, aviStream) == 140 + P);
static_assert(offsetof(EditWorkspace, currentStream) == 140 + 2 * P);
static_assert(offsetof(EditWorkspace, slotStreams) == 140 + 3 * P);
static_assert(offsetof(EditWorkspace, rangeStart) == 140 + 13 * P);
static_assert(offsetof(EditWorkspace, rangeEnd) == 144 + 13 * P);
static_assert(offsetof(EditWorkspace, frameFormat) == 148 + 13 * P);
static_assert(offsetof(EditWorkspace, startFrameBuffer) == 148 + 14 * P);
static_assert(offsetof(EditWorkspace, endFrameBuffer) == 148 + 15 * P);
static_assert(offsetof(EditWorkspace, tempDir) == 148 + 16 * P);
static_assert(offsetof(EditWorkspace, tempPath) == 248 + 16 * P);
static_assert(offsetof(EditWorkspace, openPath) == 348 + 16 * P);
static_assert(offsetof(EditWorkspace, savePath) == 448 + 16 * P);
static_assert(offsetof(EditWorkspace, slotNames) == 548 + 16 * P);
static_assert(offsetof(EditWorkspace, currentSlot) == 1548 + 16 * P);
static_assert(offsetof(EditWorkspace, slotCount) == 1552 + 16 * P);
static_assert(sizeof(EditWorkspace) == 1556 + 16 * P);
static_assert(P != 4 || sizeof(EditWorkspace) == 1620);
static_assert(P != 8 || sizeof(EditWorkspace) == 1684);
} // namespace workspace_layout

// Copies text into a 100-byte path buffer. Refuses (returns false, buffer unchanged) when the
// text with its terminating NUL does not fit: a path is never cut.
bool CopyPath(char (&buffer)[kPathSize], const char* text);

// Copies a path the user chose into a 100-byte path buffer as the plug-ins can use it: whole
// when it fits, else its file name (the part they show), shortened at a character boundary when
// even the name does not fit. The host keeps the full path elsewhere.
void FitPath(char (&buffer)[kPathSize], const char* path);

// In place: mode 1 keeps the file-name part after the last '/', mode 0 the folder part with it.
void StripPath(char (&path)[kPathSize], int mode);
