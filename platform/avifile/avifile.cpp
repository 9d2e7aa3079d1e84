// The C API of the AVI file services: argument checks, then dispatch to the objects behind the
// handles (objects.cpp for files and views; editable streams live in editstream.cpp).
#include "avifile.h"

#include "objects.h"
#include "stream.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

std::atomic<int> initCount{0};

} // namespace

extern "C" {

HRESULT AVIFileInit(void) {
    ++initCount;
    return AVIERR_OK;
}

HRESULT AVIFileExit(void) {
    int count = initCount.load();
    while (count > 0 && !initCount.compare_exchange_weak(count, count - 1)) {
    }
    return AVIERR_OK;
}

HRESULT AVIFileOpenA(PAVIFILE* file, const char* path, unsigned mode, void*) {
    if (!file) return AVIERR_ERROR;
    *file = nullptr;
    if (!path || !*path) return AVIERR_ERROR;
    if (mode & OF_CREATE)
        *file = avi::CreateFileForWriting(path);
    else if (!(mode & OF_WRITE)) // writing into an existing file is not offered
        *file = avi::OpenFileForReading(path);
    return *file ? AVIERR_OK : AVIERR_ERROR;
}

LONG AVIFileRelease(PAVIFILE file) {
    return file ? file->Release() : 0;
}

HRESULT AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, DWORD type, LONG index) {
    if (!stream) return AVIERR_ERROR;
    *stream = nullptr;
    return file ? file->GetStream(stream, type, index) : AVIERR_ERROR;
}

HRESULT AVIFileCreateStreamA(PAVIFILE file, PAVISTREAM* stream, AVISTREAMINFOA* info) {
    if (!stream) return AVIERR_ERROR;
    *stream = nullptr;
    return file && info ? file->CreateStream(stream, *info) : AVIERR_ERROR;
}

HRESULT AVIStreamOpenFromFileA(PAVISTREAM* stream, const char* path, DWORD type, LONG index,
                               unsigned mode, void* handler) {
    if (!stream) return AVIERR_ERROR;
    *stream = nullptr;
    PAVIFILE file = nullptr;
    HRESULT result = AVIFileOpenA(&file, path, mode, handler);
    if (result != AVIERR_OK) return result;
    result = file->GetStream(stream, type, index);
    file->Release(); // the stream keeps the file open
    return result;
}

HRESULT AVIStreamInfoA(PAVISTREAM stream, AVISTREAMINFOA* info, LONG size) {
    if (!stream || !info || size <= 0) return AVIERR_ERROR;
    AVISTREAMINFOA full{};
    const HRESULT result = stream->Info(full);
    if (result != AVIERR_OK) return result;
    std::memcpy(info, &full, std::min<size_t>(sizeof full, static_cast<size_t>(size)));
    return AVIERR_OK;
}

HRESULT AVIStreamReadFormat(PAVISTREAM stream, LONG pos, void* format, LONG* size) {
    if (!stream || !size) return AVIERR_ERROR;
    return stream->ReadFormat(pos, format, size);
}

// Video samples are frames: one frame is read, whatever count is asked for.
HRESULT AVIStreamRead(PAVISTREAM stream, LONG start, LONG samples, void* buffer, LONG bufferSize,
                      LONG* bytes, LONG* samplesRead) {
    if (!stream || samples < 0) return AVIERR_ERROR;
    return stream->Read(start, samples, buffer, bufferSize, bytes, samplesRead);
}

HRESULT AVIStreamSetFormat(PAVISTREAM stream, LONG pos, void* format, LONG size) {
    if (!stream) return AVIERR_ERROR;
    return stream->SetFormat(pos, format, size);
}

HRESULT AVIStreamWrite(PAVISTREAM stream, LONG start, LONG samples, void* buffer, LONG size,
                       DWORD flags, LONG* samplesWritten, LONG* bytesWritten) {
    if (!stream) return AVIERR_ERROR;
    return stream->Write(start, samples, buffer, size, flags, samplesWritten, bytesWritten);
}

LONG AVIStreamLength(PAVISTREAM stream) {
    return stream ? stream->Length() : -1;
}

LONG AVIStreamRelease(PAVISTREAM stream) {
    return stream ? stream->Release() : 0;
}

LONG AVIStreamAddRef(PAVISTREAM stream) {
    return stream ? stream->AddRef() : 0;
}

// Only the uncompressing handler ("DIB ", or none) is offered; compressing is saving's work.
HRESULT AVIMakeCompressedStream(PAVISTREAM* out, PAVISTREAM source, AVICOMPRESSOPTIONS* options,
                                void*) {
    if (!out) return AVIERR_ERROR;
    *out = nullptr;
    if (!source) return AVIERR_ERROR;
    const DWORD handler = options ? options->fccHandler : 0;
    if (handler != 0 && handler != mmioFOURCC('D', 'I', 'B', ' ')) return AVIERR_ERROR;
    *out = avi::MakeUncompressedView(source);
    return AVIERR_OK;
}

} // extern "C"
