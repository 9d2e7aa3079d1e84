#include "stored_groups.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <climits>
#include <cstring>

#include <unistd.h>

namespace avi {

namespace {

constexpr int kNalTypeMask = 0x1F;
constexpr int kFirstSlice = 1;
constexpr int kIdrSlice = 5;
constexpr int kSequenceParameters = 7;
constexpr int kPictureParameters = 8;
constexpr int kAccessUnitDelimiter = 9;
constexpr uint8_t kStartCode[] = {0, 0, 0, 1};
// MP4 stores H.264's parameter sets in a record whose first byte is its version, 1; a byte
// stream starts with a start code's zero.
constexpr uint8_t kRecordVersion = 1;
// The record's fifth byte holds the bytes of each unit's length, less one, in its low bits.
constexpr int kLengthSizeByte = 4;
constexpr int kLengthSizeMask = 3;
constexpr int kDefaultLengthSize = 4;
// An AVI chunk's id and size come before its bytes.
constexpr int64_t kChunkHeader = 8;
// A frame's first units (delimiter, parameter sets, messages) and its first slice's type fit
// in this many bytes.
constexpr size_t kHeadBytes = 16384;

struct NalUnit {
    size_t offset; // of the unit's first byte, after its start code
    size_t size;
    int type;
};

// Whether a start code (00 00 01) begins at i.
bool StartCodeAt(const uint8_t* data, size_t size, size_t i) {
    return i + 3 <= size && data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1;
}

bool IsSlice(int type) {
    return type >= kFirstSlice && type <= kIdrSlice;
}

// The units of the access unit in data, a byte stream, up to its first slice: what follows are
// more slices of the picture, and scanning them for start codes would read the whole packet.
std::vector<NalUnit> NalUnits(const uint8_t* data, size_t size) {
    std::vector<NalUnit> units;
    size_t i = 0;
    while (i < size && !StartCodeAt(data, size, i))
        ++i;
    while (i < size) {
        const size_t begin = i + 3;
        if (begin < size && IsSlice(data[begin] & kNalTypeMask)) {
            units.push_back({begin, size - begin, data[begin] & kNalTypeMask});
            break;
        }
        size_t end = begin;
        while (end < size && !StartCodeAt(data, size, end))
            ++end;
        const size_t next = end;
        // A four-byte start code's leading zero, and trailing zeros, belong to no unit.
        while (end > begin && data[end - 1] == 0)
            --end;
        if (end > begin) units.push_back({begin, end - begin, data[begin] & kNalTypeMask});
        i = next;
    }
    return units;
}

std::vector<int> NalTypes(const uint8_t* data, size_t size) {
    std::vector<int> types;
    for (const NalUnit& unit : NalUnits(data, size))
        types.push_back(unit.type);
    return types;
}

bool HasType(const std::vector<int>& types, int type) {
    return std::find(types.begin(), types.end(), type) != types.end();
}

// The sequence and picture parameter sets among the units of data, each after a start code.
std::vector<uint8_t> ParameterSetsOf(const uint8_t* data, size_t size) {
    std::vector<uint8_t> sets;
    for (const NalUnit& unit : NalUnits(data, size)) {
        if (unit.type != kSequenceParameters && unit.type != kPictureParameters) continue;
        sets.insert(sets.end(), std::begin(kStartCode), std::end(kStartCode));
        sets.insert(sets.end(), data + unit.offset, data + unit.offset + unit.size);
    }
    const std::vector<int> types = NalTypes(sets.data(), sets.size());
    return HasType(types, kSequenceParameters) && HasType(types, kPictureParameters)
               ? sets
               : std::vector<uint8_t>{};
}

// Whether the first slice among length-prefixed units is an IDR slice.
bool StartsWithIdrUnit(const uint8_t* data, size_t size, int lengthSize) {
    for (size_t i = 0; i + size_t(lengthSize) < size;) {
        size_t length = 0;
        for (int b = 0; b < lengthSize; ++b)
            length = length << 8 | data[i + size_t(b)];
        const int type = data[i + size_t(lengthSize)] & kNalTypeMask;
        if (IsSlice(type)) return type == kIdrSlice;
        i += size_t(lengthSize) + length;
    }
    return false;
}

bool IsLengthPrefixed(const AVCodecParameters& par) {
    return par.extradata_size > 0 && par.extradata[0] == kRecordVersion;
}

// MPEG-4 Part 2 marks its headers and pictures with start codes too: a picture (VOP) is 00 00 01
// B6, its first two bits after the code its type, and a video object layer (VOL), which sets up
// the pictures after it, is 00 00 01 20 to 2F.
constexpr uint8_t kPictureStart = 0xB6;
constexpr uint8_t kPictureGroupStart = 0xB3;
constexpr uint8_t kFirstLayerStart = 0x20;
constexpr uint8_t kLastLayerStart = 0x2F;
constexpr int kPictureTypeShift = 6;
constexpr int kIntraPicture = 0;

// Where the first start code whose code byte `wanted` accepts begins; size when there is none.
template <typename Wanted> size_t FindStartCode(const uint8_t* data, size_t size, Wanted wanted) {
    for (size_t i = 0; i + 3 < size; ++i)
        if (StartCodeAt(data, size, i) && wanted(data[i + 3])) return i;
    return size;
}

size_t FirstPicture(const uint8_t* data, size_t size) {
    return FindStartCode(data, size, [](uint8_t code) {
        return code == kPictureStart || code == kPictureGroupStart;
    });
}

bool HasLayerBefore(const uint8_t* data, size_t end) {
    return FindStartCode(data, end, [](uint8_t code) {
               return code >= kFirstLayerStart && code <= kLastLayerStart;
           }) < end;
}

// The headers before a frame's first picture when they set up a video object layer.
std::vector<uint8_t> VisualHeadersOf(const uint8_t* data, size_t size) {
    const size_t picture = FirstPicture(data, size);
    return HasLayerBefore(data, picture) ? std::vector<uint8_t>(data, data + picture)
                                         : std::vector<uint8_t>{};
}

// Whether the frame's first picture is coded on its own (an I-VOP). With no B-frames, as the
// groups require, nothing after it refers to a picture before it.
bool StartsWithIntraPicture(const uint8_t* data, size_t size) {
    const size_t at = FindStartCode(data, size, [](uint8_t code) { return code == kPictureStart; });
    return at + 4 < size && data[at + 4] >> kPictureTypeShift == kIntraPicture;
}

} // namespace

std::unique_ptr<StoredGroups> StoredGroups::Open(const SourceFile& file, const SourceLayout& layout,
                                                 int codec, bool avi, bool reordered) {
    if (reordered && codec == AV_CODEC_ID_MPEG4) return nullptr; // its groups may be open
    std::unique_ptr<StoredGroups> groups(new StoredGroups(layout, avi, reordered));
    groups->codec = codec;
    if (!OpenDemuxer(file, groups->reader, groups->io, groups->fmt)) return nullptr;
    groups->stream = FirstVideoStream(groups->fmt);
    groups->packet = av_packet_alloc();
    if (groups->stream < 0 || !groups->packet) return nullptr;
    DiscardOtherStreams(groups->fmt, groups->stream);
    const AVStream* st = groups->fmt->streams[groups->stream];
    if (st->codecpar->codec_id != codec || !groups->MapEntries()) return nullptr;
    if (codec == AV_CODEC_ID_H264 && IsLengthPrefixed(*st->codecpar)) {
        groups->lengthSize = (st->codecpar->extradata_size > kLengthSizeByte
                                  ? st->codecpar->extradata[kLengthSizeByte] & kLengthSizeMask
                                  : kDefaultLengthSize - 1) +
                             1;
        const AVBitStreamFilter* filter = av_bsf_get_by_name("h264_mp4toannexb");
        if (!filter || av_bsf_alloc(filter, &groups->toByteStream) < 0 ||
            avcodec_parameters_copy(groups->toByteStream->par_in, st->codecpar) < 0)
            return nullptr;
        groups->toByteStream->time_base_in = st->time_base;
        if (av_bsf_init(groups->toByteStream) < 0) return nullptr;
    }
    return groups->LearnHeaders() ? std::move(groups) : nullptr;
}

StoredGroups::~StoredGroups() {
    av_bsf_free(&toByteStream);
    av_packet_free(&packet);
    avformat_close_input(&fmt);
    if (io) av_freep(&io->buffer);
    avio_context_free(&io);
}

// Frame n is the n-th packet in decode order: in AVI its n-th chunk, leaving out the empty
// chunks that only make room for a decoder's delay; elsewhere the n-th entry of an index that
// lists every packet.
bool StoredGroups::MapEntries() {
    AVStream* st = fmt->streams[stream];
    const int count = avformat_index_get_entries_count(st);
    const bool delayChunks = avi && !layout.frameTicks.empty();
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(st, i);
        if (e->flags & AVINDEX_DISCARD_FRAME) return false;
        if (delayChunks && e->size == 0) continue;
        if (avi && !delayChunks && !AddEmptyChunksBefore(e->timestamp)) return false;
        entries.push_back({e->timestamp, e->pos, (e->flags & AVINDEX_KEYFRAME) != 0, e->size == 0});
    }
    if (avi && !delayChunks && !AddEmptyChunksBefore(layout.length)) return false;
    // Outside AVI a frame's number comes from its presentation time, which the index does not
    // hold: packets decoded at even steps show frames at even steps, so the n-th packet of a
    // group that starts at an IDR frame shows frame n there.
    if (!avi && entries.size() > 1) {
        const int64_t step = entries[1].timestamp - entries[0].timestamp;
        for (size_t n = 0; n < entries.size(); ++n)
            if (step <= 0 || entries[n].timestamp != entries[0].timestamp + int64_t(n) * step)
                return false;
    }
    return !entries.empty() && entries.size() == size_t(layout.length);
}

std::vector<uint8_t> StoredGroups::HeadersOf(const uint8_t* data, size_t size) const {
    return codec == AV_CODEC_ID_H264 ? ParameterSetsOf(data, size) : VisualHeadersOf(data, size);
}

// An empty chunk repeats the frame before it (a frame dropped while recording); the demuxer
// leaves it out of its index, where frame numbers then skip it.
bool StoredGroups::AddEmptyChunksBefore(int64_t frame) {
    if (frame < int64_t(entries.size())) return false;
    while (int64_t(entries.size()) < frame)
        entries.push_back({int64_t(entries.size()), -1, false, true});
    return true;
}

bool StoredGroups::LearnHeaders() {
    const AVCodecParameters* par =
        toByteStream ? toByteStream->par_out : fmt->streams[stream]->codecpar;
    headers = HeadersOf(par->extradata, size_t(std::max(par->extradata_size, 0)));
    if (!headers.empty()) return true;
    // A stream without them in its header carries them in its first frame.
    if (!SeekTo(0) || NextPacket() != 1) return false;
    headers = HeadersOf(packet->data, size_t(packet->size));
    av_packet_unref(packet);
    return !headers.empty();
}

bool StoredGroups::SeekTo(LONG frame) {
    if (frame < 0 || size_t(frame) >= entries.size()) return false;
    if (toByteStream) av_bsf_flush(toByteStream);
    lastRead = AV_NOPTS_VALUE;
    return av_seek_frame(fmt, stream, entries[size_t(frame)].timestamp, AVSEEK_FLAG_BACKWARD) >= 0;
}

// The next packet of the stream into `packet`, as a byte stream: 1, or 0 at the end, or -1.
int StoredGroups::NextPacket() {
    const bool delayChunks = avi && !layout.frameTicks.empty();
    for (;;) {
        if (toByteStream) {
            const int filtered = av_bsf_receive_packet(toByteStream, packet);
            if (filtered == 0) return 1;
            if (filtered != AVERROR(EAGAIN)) return -1;
        }
        const int read = av_read_frame(fmt, packet);
        if (read == AVERROR_EOF) return 0;
        if (read < 0) return -1;
        if (packet->stream_index == stream) lastRead = packet->dts;
        if (packet->stream_index != stream || (delayChunks && packet->size == 0)) {
            av_packet_unref(packet);
            continue;
        }
        if (!toByteStream) return 1;
        if (av_bsf_send_packet(toByteStream, packet) < 0) {
            av_packet_unref(packet);
            return -1;
        }
    }
}

// Whether a frame's bytes, with start codes, open a group.
bool StoredGroups::OpensGroup(const uint8_t* data, size_t size) const {
    if (codec == AV_CODEC_ID_MPEG4) return StartsWithIntraPicture(data, size);
    const std::vector<int> types = NalTypes(data, size);
    return !types.empty() && types.back() == kIdrSlice;
}

// A frame that opens a group, and outside AVI (whose packets carry no presentation time) shown
// as frame n.
bool StoredGroups::IsGroupStart(LONG frame, const AVPacket& first) const {
    if (!OpensGroup(first.data, size_t(first.size))) return false;
    if (avi) return true;
    const int64_t pts = first.pts != AV_NOPTS_VALUE ? first.pts : first.dts;
    return RawIndexOf(layout, pts) == frame;
}

std::vector<LONG> StoredGroups::FindStarts() const {
    std::vector<LONG> starts;
    for (size_t n = 0; n < entries.size(); ++n)
        if (entries[n].key && !entries[n].empty && StartsGroup(n))
            starts.push_back(static_cast<LONG>(n));
    return starts;
}

// Whether frame n's packet opens a group, told by its first bytes, read past the demuxer: a
// seek and a whole packet for every group would read a good part of the file again.
bool StoredGroups::StartsGroup(size_t n) const {
    std::vector<uint8_t> head(kHeadBytes);
    const ssize_t got =
        pread(reader.fd, head.data(), head.size(), entries[n].pos + (avi ? kChunkHeader : 0));
    if (got <= 0) return false;
    return lengthSize == 0 ? OpensGroup(head.data(), size_t(got))
                           : StartsWithIdrUnit(head.data(), size_t(got), lengthSize);
}

LONG StoredGroups::CopyablePrefix(LONG start, LONG end) {
    if (start < 0 || end <= start || size_t(end) > entries.size()) return 0;
    if (!reordered) return end - start;
    AVPacket* shown = av_packet_alloc();
    if (!shown || avi || !Begin(start)) {
        av_packet_free(&shown);
        return 0;
    }
    LONG best = 0, read = 0, last = start - 1; // the last frame shown so far
    while (read < end - start && Next(shown)) {
        const int64_t pts = shown->pts != AV_NOPTS_VALUE ? shown->pts : shown->dts;
        av_packet_unref(shown);
        const LONG frame = RawIndexOf(layout, pts);
        if (frame < start || frame >= end) break;
        last = std::max(last, frame);
        ++read;
        // The packets read show distinct frames, so they show start .. last when they are as
        // many as those.
        if (last - start + 1 == read) best = read;
    }
    av_packet_free(&shown);
    return best;
}

bool StoredGroups::Begin(LONG start) {
    av_packet_unref(packet);
    pendingFirst = false;
    nextFrame = start;
    // Groups copied one after another are read on without a seek, which in MP4 may land a
    // group early and read it all again.
    const bool follows = start > 0 && size_t(start) < entries.size() &&
                         lastRead != AV_NOPTS_VALUE &&
                         lastRead == entries[size_t(start) - 1].timestamp;
    if (!follows && !SeekTo(start)) return false;
    const int64_t first = entries[size_t(start)].timestamp;
    int read;
    while ((read = NextPacket()) == 1 && packet->dts < first)
        av_packet_unref(packet);
    if (read != 1 || packet->dts != first || !IsGroupStart(start, *packet)) {
        av_packet_unref(packet);
        return false;
    }
    if (codec == AV_CODEC_ID_MPEG4) {
        pendingFirst =
            HasLayerBefore(packet->data, FirstPicture(packet->data, size_t(packet->size)));
        return pendingFirst || PutHeadersFirst(0);
    }
    const std::vector<NalUnit> units = NalUnits(packet->data, size_t(packet->size));
    const auto has = [&units](int type) {
        return std::any_of(units.begin(), units.end(),
                           [type](const NalUnit& unit) { return unit.type == type; });
    };
    pendingFirst = has(kSequenceParameters) && has(kPictureParameters);
    // Where it lacks them, they go first, after an access unit delimiter, which comes first.
    return pendingFirst || PutHeadersFirst(units.front().type == kAccessUnitDelimiter
                                               ? units.front().offset + units.front().size
                                               : 0);
}

// The headers into the first packet at byte `at`.
bool StoredGroups::PutHeadersFirst(size_t at) {
    AVPacket* joined = av_packet_alloc();
    if (!joined || av_new_packet(joined, packet->size + int(headers.size())) < 0 ||
        av_packet_copy_props(joined, packet) < 0) {
        av_packet_free(&joined);
        av_packet_unref(packet);
        return false;
    }
    std::memcpy(joined->data, packet->data, at);
    std::memcpy(joined->data + at, headers.data(), headers.size());
    std::memcpy(joined->data + at + headers.size(), packet->data + at, size_t(packet->size) - at);
    av_packet_unref(packet);
    av_packet_move_ref(packet, joined);
    av_packet_free(&joined);
    pendingFirst = true;
    return true;
}

bool StoredGroups::Next(AVPacket* out) {
    const size_t frame = size_t(nextFrame++);
    if (pendingFirst) {
        pendingFirst = false;
        av_packet_move_ref(out, packet);
        return true;
    }
    if (frame < entries.size() && entries[frame].empty) return av_new_packet(out, 0) >= 0;
    // An empty packet where the index lists bytes: the file is not what its index says.
    if (NextPacket() != 1 || packet->size <= 0) {
        av_packet_unref(packet);
        return false;
    }
    av_packet_move_ref(out, packet);
    return true;
}

} // namespace avi
