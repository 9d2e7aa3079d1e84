// Inside the platform library: the objects behind PAVIFILE and PAVISTREAM.
// Every stream kind (a file's stream, the uncompressing view, an editable stream) derives from
// AviStream; the C API in avifile.h dispatches to these virtual functions.
#pragma once

#include "avifile.h"

#include <atomic>

namespace avi {
class AudioSource;
class VideoSource;
} // namespace avi

struct RefCounted {
    virtual ~RefCounted() = default;
    // Takes one more reference; returns the references there are now.
    LONG AddRef() { return ++refs; }
    // Drops one reference; deletes the object at zero. Returns the references left.
    LONG Release() {
        const LONG left = --refs;
        if (left == 0) delete this;
        return left;
    }

  private:
    std::atomic<LONG> refs{1};
};

struct AviFile : RefCounted {
    // A new reference to stream `index` of the given type.
    virtual HRESULT GetStream(PAVISTREAM*, DWORD, LONG) { return AVIERR_ERROR; }
    // A new stream in a file opened for writing.
    virtual HRESULT CreateStream(PAVISTREAM*, const AVISTREAMINFOA&) { return AVIERR_ERROR; }
};

struct AviStream : RefCounted {
    virtual HRESULT Info(AVISTREAMINFOA& info) = 0;
    virtual LONG Length() = 0;
    // The stored format of the frame at pos; *size is the buffer size in, the format size out.
    virtual HRESULT ReadFormat(LONG pos, void* format, LONG* size) = 0;
    // Frame `frame` into buffer; on failure the buffer is unchanged.
    virtual HRESULT ReadFrame(LONG frame, void* buffer, LONG bufferSize, LONG* bytes) = 0;
    // Up to `samples` samples from `start` into buffer (a null buffer only tells *bytes needed);
    // a video stream reads one frame, whatever count is asked for.
    virtual HRESULT Read(LONG start, LONG /*samples*/, void* buffer, LONG bufferSize, LONG* bytes,
                         LONG* samplesRead) {
        const HRESULT result = ReadFrame(start, buffer, bufferSize, bytes);
        if (result == AVIERR_OK && samplesRead) *samplesRead = buffer ? 1 : 0;
        return result;
    }
    // The file's audio this stream reads unchanged, from its first sample to its last; null
    // when it reads anything else.
    virtual avi::AudioSource* StoredAudio() { return nullptr; }
    // The file whose frames this stream reads, frame n as its frame n; null for other streams.
    virtual avi::VideoSource* StoredVideo() { return nullptr; }
    virtual HRESULT SetFormat(LONG, void*, LONG) { return AVIERR_ERROR; }
    virtual HRESULT Write(LONG, LONG, void*, LONG, DWORD, LONG*, LONG*) { return AVIERR_ERROR; }
};
