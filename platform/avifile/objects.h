// The objects behind the handles of files opened for reading, files being written, and the
// uncompressing view.
#pragma once

#include "stream.h"

#include <cstddef>
#include <cstdint>

namespace avi {

// Copies as much of a format as fits into the caller's buffer (*size in: its size, out: the
// bytes copied); a null buffer asks for the size.
HRESULT CopyFormat(const void* data, size_t bytes, LONG pos, void* format, LONG* size);

// Null when the file cannot be read or has no usable video stream.
AviFile* OpenFileForReading(const char* path);
// Null when the file cannot be created.
AviFile* CreateFileForWriting(const char* path);
// A view of `source` that delivers every frame as an uncompressed bottom-up DIB.
AviStream* MakeUncompressedView(AviStream* source);
// Frames decoded so far behind a stream read from a file (benchmarks); -1 for other streams.
int64_t DecodedFrameCount(AviStream* stream);

} // namespace avi
