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

// A stretch of the saved stream read from one source's consecutive frames.
struct Run {
    VideoSource* source;
    LONG first, count;
};

std::vector<Run> RunsOf(PAVISTREAM stream) {
    std::vector<Run> runs;
    for (const EDITSTREAMPIECE& piece : PiecesOf(stream)) {
        VideoSource* source = piece.source ? piece.source->StoredVideo() : nullptr;
        if (!runs.empty() && source && runs.back().source == source &&
            runs.back().first + runs.back().count == piece.first)
            runs.back().count += piece.count;
        else
            runs.push_back({source, piece.first, piece.count});
    }
    return runs;
}

// The groups of pictures that start inside the run, copied: whole, or where the run ends inside
// one, as many of its first frames as show on their own. The rest is encoded: from the start of
// the run up to the first group, and the rest of a group cut short.
void PlanGroups(const Run& run, std::vector<StoredFrame>& plan) {
    const size_t at = plan.size();
    plan.resize(at + size_t(run.count));
    if (!run.source) return;
    for (LONG f = run.first; f < run.first + run.count; ++f)
        plan[at + size_t(f - run.first)] = {nullptr, f, 0, run.source};
    const std::vector<LONG>& starts = run.source->StoredGroupStarts();
    const LONG end = run.first + run.count;
    for (size_t i = 0; i < starts.size() && starts[i] < end; ++i) {
        if (starts[i] < run.first) continue;
        const LONG groupEnd = i + 1 < starts.size() ? starts[i + 1] : run.source->Layout().length;
        const LONG copied =
            groupEnd <= end ? groupEnd - starts[i] : run.source->StoredGroupPrefix(starts[i], end);
        for (LONG f = starts[i]; f < starts[i] + copied; ++f)
            plan[at + size_t(f - run.first)] = {run.source, f, f == starts[i] ? copied : 0,
                                                nullptr};
    }
}

} // namespace

std::vector<StoredFrame> PlanStoredFrames(PAVISTREAM stream, const Compressor& compressor) {
    BITMAPINFOHEADER format{};
    LONG size = sizeof format;
    const AVCodec* codec =
        compressor.encoder ? avcodec_find_encoder_by_name(compressor.encoder) : nullptr;
    if (!codec || AVIStreamReadFormat(stream, 0, &format, &size) != AVIERR_OK) return {};
    // Encoded runs joined to copied groups hold back as many pictures as the groups, so that
    // a decoder's delay stays what it was at the start.
    int reorder = -1;
    const auto usable = [&](const VideoSource* source) {
        const AVCodecParameters* stored = source ? &source->StoredParameters() : nullptr;
        if (!stored || stored->codec_id != codec->id || stored->width != format.biWidth ||
            stored->height != std::abs(format.biHeight))
            return false;
        if (!CopiesInBand(compressor)) return true;
        if (stored->format != compressor.pixelFormat) return false;
        const int most = codec->id == AV_CODEC_ID_H264 ? kMaxEncodedReorder : 0;
        if (reorder < 0 && stored->video_delay <= most) reorder = stored->video_delay;
        return stored->video_delay == reorder;
    };
    std::vector<StoredFrame> plan;
    const AVCodecParameters* header = nullptr; // of the first file copied from
    bool oneHeader = true;
    for (Run run : RunsOf(stream)) {
        if (!usable(run.source)) run.source = nullptr;
        if (CopiesInBand(compressor)) {
            PlanGroups(run, plan);
            continue;
        }
        for (LONG f = run.first; f < run.first + run.count; ++f)
            plan.push_back(run.source && run.source->HasKeyChunk(f) ? StoredFrame{run.source, f, 1}
                                                                    : StoredFrame{});
        if (!run.source) continue;
        if (!header) header = &run.source->StoredParameters();
        oneHeader = oneHeader && SameHeader(*header, run.source->StoredParameters());
    }
    // Motion JPEG frames carry all they need; FFV1, HuffYUV and Ut Video may set up their
    // frames in the stream's header, which must then be the files' own for every frame.
    const bool mixes = codec->id == AV_CODEC_ID_MJPEG || CopiesInBand(compressor);
    if (!mixes && (!oneHeader || CopiedFrames(plan) != LONG(plan.size())))
        std::fill(plan.begin(), plan.end(), StoredFrame{});
    return plan;
}

int ReorderOf(const std::vector<StoredFrame>& plan) {
    for (const StoredFrame& frame : plan)
        if (frame.source) return frame.source->StoredParameters().video_delay;
    return 0;
}

bool CopiesInBand(const Compressor& compressor) {
    return compressor.fourcc == mmioFOURCC('H', '2', '6', '4') ||
           compressor.fourcc == mmioFOURCC('F', 'M', 'P', '4');
}

LONG CopiedFrames(const std::vector<StoredFrame>& plan) {
    return static_cast<LONG>(std::count_if(
        plan.begin(), plan.end(), [](const StoredFrame& f) { return f.source != nullptr; }));
}

} // namespace avi
