#include "stored_frames.h"

#include "compressors.h"
#include "reader.h"
#include "stream.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <cstring>

namespace avi {

namespace {

std::vector<EDITSTREAMPIECE> PiecesOf(PAVISTREAM stream) {
    const LONG count = EditStreamGetPieces(stream, nullptr, 0);
    if (count < 0) return {{stream, 0, AVIStreamLength(stream)}};
    std::vector<EDITSTREAMPIECE> pieces(static_cast<size_t>(count));
    if (EditStreamGetPieces(stream, pieces.data(), count) != count) return {};
    return pieces;
}

bool SameHeader(const AVCodecParameters& a, const AVCodecParameters& b) {
    return a.format == b.format && a.extradata_size == b.extradata_size &&
           (a.extradata_size == 0 ||
            std::memcmp(a.extradata, b.extradata, static_cast<size_t>(a.extradata_size)) == 0);
}

} // namespace

std::vector<StoredFrame> PlanStoredFrames(PAVISTREAM stream, const Compressor& compressor) {
    BITMAPINFOHEADER format{};
    LONG size = sizeof format;
    const AVCodec* codec =
        compressor.encoder ? avcodec_find_encoder_by_name(compressor.encoder) : nullptr;
    if (!codec || AVIStreamReadFormat(stream, 0, &format, &size) != AVIERR_OK) return {};
    std::vector<StoredFrame> plan;
    const AVCodecParameters* header = nullptr; // of the first file copied from
    bool oneHeader = true;
    for (const EDITSTREAMPIECE& piece : PiecesOf(stream)) {
        VideoSource* source = piece.source ? piece.source->StoredVideo() : nullptr;
        const AVCodecParameters* stored = source ? &source->StoredParameters() : nullptr;
        const bool usable = stored && stored->codec_id == codec->id &&
                            stored->width == format.biWidth &&
                            stored->height == std::abs(format.biHeight);
        for (LONG f = piece.first; f < piece.first + piece.count; ++f)
            plan.push_back(usable && source->HasKeyChunk(f) ? StoredFrame{source, f}
                                                            : StoredFrame{});
        if (!usable) continue;
        if (!header) header = stored;
        oneHeader = oneHeader && SameHeader(*header, *stored);
    }
    // Motion JPEG frames carry all they need; other codecs may set up their frames in the
    // stream's header, which must then be the files' own for every frame.
    const bool standAlone = codec->id == AV_CODEC_ID_MJPEG;
    if (!standAlone && (!oneHeader || CopiedFrames(plan) != LONG(plan.size())))
        std::fill(plan.begin(), plan.end(), StoredFrame{});
    return plan;
}

LONG CopiedFrames(const std::vector<StoredFrame>& plan) {
    return static_cast<LONG>(std::count_if(
        plan.begin(), plan.end(), [](const StoredFrame& f) { return f.source != nullptr; }));
}

} // namespace avi
