// The C API of the AVI file services: argument checks, then dispatch to the stream objects.
#include "avifile.h"

#include "stream.h"

#include <atomic>

namespace {
std::atomic<int> initCount{0};
} // namespace

extern "C" {

HRESULT AVIFileInit(void) {
    ++initCount;
    return AVIERR_OK;
}

HRESULT AVIFileExit(void) {
    if (initCount > 0) --initCount;
    return AVIERR_OK;
}

HRESULT AVIFileOpenA(PAVIFILE* file, const char*, unsigned, void*) {
    if (file) *file = nullptr;
    return AVIERR_ERROR;
}

LONG AVIFileRelease(PAVIFILE file) { return file ? file->Release() : 0; }

HRESULT AVIFileGetStream(PAVIFILE, PAVISTREAM* stream, DWORD, LONG) {
    if (stream) *stream = nullptr;
    return AVIERR_ERROR;
}

HRESULT AVIFileCreateStreamA(PAVIFILE, PAVISTREAM* stream, AVISTREAMINFOA*) {
    if (stream) *stream = nullptr;
    return AVIERR_ERROR;
}

HRESULT AVIStreamOpenFromFileA(PAVISTREAM* stream, const char*, DWORD, LONG, unsigned, void*) {
    if (stream) *stream = nullptr;
    return AVIERR_ERROR;
}

HRESULT AVIStreamInfoA(PAVISTREAM stream, AVISTREAMINFOA* info, LONG size) {
    if (!stream || !info || size < 0) return AVIERR_ERROR;
    return AVIERR_ERROR;
}

HRESULT AVIStreamReadFormat(PAVISTREAM stream, LONG pos, void* format, LONG* size) {
    if (!stream || !size) return AVIERR_ERROR;
    return stream->ReadFormat(pos, format, size);
}

HRESULT AVIStreamRead(PAVISTREAM stream, LONG start, LONG, void* buffer, LONG bufferSize,
                      LONG* bytes, LONG*) {
    if (!stream) return AVIERR_ERROR;
    return stream->ReadFrame(start, buffer, bufferSize, bytes);
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

LONG AVIStreamLength(PAVISTREAM stream) { return stream ? stream->Length() : -1; }

LONG AVIStreamRelease(PAVISTREAM stream) { return stream ? stream->Release() : 0; }

HRESULT AVIMakeCompressedStream(PAVISTREAM* out, PAVISTREAM, AVICOMPRESSOPTIONS*, void*) {
    if (out) *out = nullptr;
    return AVIERR_ERROR;
}

} // extern "C"
