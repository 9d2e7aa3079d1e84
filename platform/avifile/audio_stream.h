// The stream objects of audio: a file's first audio stream read through an AudioSource, and
// the stream of a file written with one PCM audio stream.
#pragma once

#include "stream.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace avi {

class AudioSource;
class PcmWriter;

// A stream reading `source`; holds one reference on `file`, which owns the source.
AviStream* MakeAudioFileStream(AviFile* file, AudioSource& source);
// A stream writing into `writer`; holds one reference on `file`, which owns the writer, and
// clears `registration` (the file's note of its stream) when it goes.
AviStream* MakeAudioWriteStream(AviFile* file, PcmWriter& writer, AviStream*& registration);

// AVIStreamRead on an audio stream of `length` samples of `blockAlign` bytes: up to `samples`
// samples from `start`, fewer at the end and no more than whole samples the buffer holds; a
// null buffer only tells the bytes and samples that would be read. `read(start, count, dst)`
// delivers exactly count samples.
template <typename ReadFn>
HRESULT ReadSamples(LONG length, LONG blockAlign, LONG start, LONG samples, void* buffer,
                    LONG bufferSize, LONG* bytes, LONG* samplesRead, ReadFn&& read) {
    if (start < 0 || start > length || samples < 0 || blockAlign <= 0) return AVIERR_ERROR;
    LONG count = std::min({samples, length - start, LONG{INT32_MAX / blockAlign}});
    if (buffer) {
        if (count > 0 && bufferSize < blockAlign) return AVIERR_ERROR;
        count = std::min(count, bufferSize / blockAlign);
        if (count > 0 && !read(start, count, static_cast<uint8_t*>(buffer))) return AVIERR_ERROR;
    }
    if (bytes) *bytes = count * blockAlign;
    if (samplesRead) *samplesRead = count;
    return AVIERR_OK;
}

} // namespace avi
