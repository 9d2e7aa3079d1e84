// Editable streams: a stream made of pieces (source stream, first frame, frame count).
//
// The pieces sit in a persistent balanced tree (an implicit treap): every node carries the
// frame and piece totals of its subtree, nodes are immutable and shared between streams, and an
// edit builds new nodes only along the paths it splits and joins. So a clone is O(1), and cut,
// copy and paste cost O(log pieces) whatever the number of frames. Joins pick the root at
// random in proportion to subtree sizes instead of stored priorities, which keeps the expected
// depth logarithmic even when the same subtree appears several times (a stream pasted twice).
//
// Argument rules, close to the Windows library's:
// - cut and copy: null pointers, a negative start or length, or a start at or beyond the end
//   fail; a length that runs past the end is clamped and the clamped value written back; a
//   range that is empty after clamping fails (there is nothing to put into the new stream).
// - paste: the position must lie in 0..length (no holes); sourceStart must be a frame of the
//   source; sourceLength -1 means "to the end", other non-positive lengths fail, a length that
//   runs past the source's end is clamped. Position and inserted count are written back.
//   The source must be of the target's type (video or audio) once the target has
//   information, and its frames must have the target's width, height and bit count (audio: an
//   equal WAVEFORMATEX) unless the target is empty. A stream created empty takes the
//   information of the first stream pasted into it.
//
// Audio works the same in samples; a read of many samples runs across the pieces.
#include "avifile.h"

#include "audio_source.h"
#include "audio_stream.h"
#include "stream.h"
#include "wave_format.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <utility>

namespace {

using avi::ReadSamples;
using avi::SameWaveFormat;

// One run of consecutive frames of a source stream. Holds a reference on the source.
class Piece {
  public:
    Piece(AviStream* source, LONG first, LONG count)
        : source_(source), first_(first), count_(count) {
        source_->AddRef();
    }
    Piece(const Piece& other) : Piece(other.source_, other.first_, other.count_) {}
    Piece& operator=(const Piece&) = delete;
    ~Piece() { source_->Release(); }

    AviStream* source() const { return source_; }
    LONG first() const { return first_; }
    LONG count() const { return count_; }

  private:
    AviStream* source_;
    LONG first_;
    LONG count_;
};

struct Node;
using Tree = std::shared_ptr<const Node>;

struct Node {
    Node(const Piece& p, Tree l, Tree r);
    Piece piece;
    Tree left;
    Tree right;
    int64_t frames; // frames in this subtree
    int64_t pieces; // nodes in this subtree
};

int64_t Frames(const Tree& t) {
    return t ? t->frames : 0;
}
int64_t Pieces(const Tree& t) {
    return t ? t->pieces : 0;
}

Node::Node(const Piece& p, Tree l, Tree r)
    : piece(p), left(std::move(l)), right(std::move(r)),
      frames(Frames(left) + p.count() + Frames(right)), pieces(Pieces(left) + 1 + Pieces(right)) {}

Tree MakeNode(const Piece& p, Tree left, Tree right) {
    return std::make_shared<const Node>(p, std::move(left), std::move(right));
}

// Small deterministic generator for the join decisions (splitmix64); quality needs are modest.
constexpr uint64_t kGoldenGamma = 0x9E3779B97F4A7C15ull;

uint64_t NextRandom() {
    static thread_local uint64_t state = kGoldenGamma;
    state += kGoldenGamma;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

Tree Join(const Tree& a, const Tree& b) {
    if (!a) return b;
    if (!b) return a;
    const uint64_t total = static_cast<uint64_t>(a->pieces + b->pieces);
    if (NextRandom() % total < static_cast<uint64_t>(a->pieces))
        return MakeNode(a->piece, a->left, Join(a->right, b));
    return MakeNode(b->piece, Join(a, b->left), b->right);
}

// Splits t into its first k frames and the rest; a piece that straddles k is divided.
std::pair<Tree, Tree> Split(const Tree& t, int64_t k) {
    if (!t || k <= 0) return {nullptr, t};
    if (k >= t->frames) return {t, nullptr};
    const int64_t leftFrames = Frames(t->left);
    if (k <= leftFrames) {
        auto [a, b] = Split(t->left, k);
        return {a, MakeNode(t->piece, b, t->right)};
    }
    const int64_t inPiece = k - leftFrames;
    const Piece& p = t->piece;
    if (inPiece >= p.count()) {
        auto [a, b] = Split(t->right, inPiece - p.count());
        return {MakeNode(p, t->left, a), b};
    }
    const LONG head = static_cast<LONG>(inPiece);
    Tree before = MakeNode(Piece(p.source(), p.first(), head), nullptr, nullptr);
    Tree after = MakeNode(Piece(p.source(), p.first() + head, p.count() - head), nullptr, nullptr);
    return {Join(t->left, before), Join(after, t->right)};
}

// Frames [start, start + count) of t, sharing every untouched node.
Tree Range(const Tree& t, int64_t start, int64_t count) {
    return Split(Split(t, start).second, count).first;
}

// The piece holding frame n (0 <= n < Frames(t)) and n's offset inside it.
const Piece* Locate(const Tree& t, int64_t n, LONG* offset) {
    const Node* node = t.get();
    while (node) {
        const int64_t leftFrames = Frames(node->left);
        if (n < leftFrames) {
            node = node->left.get();
            continue;
        }
        n -= leftFrames;
        if (n < node->piece.count()) {
            *offset = static_cast<LONG>(n);
            return &node->piece;
        }
        n -= node->piece.count();
        node = node->right.get();
    }
    return nullptr;
}

struct FrameShape {
    LONG width;
    LONG height;
    WORD bitCount;
    bool operator==(const FrameShape&) const = default;
};

bool ReadShape(AviStream& stream, LONG pos, FrameShape* shape) {
    BITMAPINFOHEADER header{};
    LONG size = sizeof header;
    if (stream.ReadFormat(pos, &header, &size) != AVIERR_OK) return false;
    *shape = {header.biWidth, header.biHeight, header.biBitCount};
    return true;
}

bool ReadWaveFormat(AviStream& stream, LONG pos, WAVEFORMATEX* format) {
    *format = WAVEFORMATEX{};
    LONG size = sizeof *format;
    return stream.ReadFormat(pos, format, &size) == AVIERR_OK &&
           size >= static_cast<LONG>(offsetof(WAVEFORMATEX, cbSize));
}

// Whether the frames (or samples) of `source` from `sourceStart` have a format and fit into
// `target` (any target when that is null: an empty stream takes any format).
bool FormatFits(AviStream* target, AviStream& source, LONG sourceStart, bool audio) {
    if (audio) {
        WAVEFORMATEX own{}, incoming{};
        return ReadWaveFormat(source, sourceStart, &incoming) &&
               (!target || (ReadWaveFormat(*target, 0, &own) && SameWaveFormat(own, incoming)));
    }
    FrameShape own{}, incoming{};
    return ReadShape(source, sourceStart, &incoming) &&
           (!target || (ReadShape(*target, 0, &own) && own == incoming));
}

bool IsAudio(const AVISTREAMINFOA& info) {
    return info.fccType == streamtypeAUDIO;
}

class EditStream final : public AviStream {
  public:
    // An empty stream with no information yet.
    EditStream() = default;
    EditStream(const AVISTREAMINFOA& info, Tree tree)
        : info_(info), hasInfo_(true), tree_(std::move(tree)) {}

    HRESULT Info(AVISTREAMINFOA& info) override {
        info = info_;
        info.dwStart = 0;
        info.dwLength = static_cast<DWORD>(Length());
        return AVIERR_OK;
    }

    LONG Length() override { return static_cast<LONG>(Frames(tree_)); }

    HRESULT ReadFormat(LONG pos, void* format, LONG* size) override {
        if (!tree_ || !size) return AVIERR_ERROR;
        // Every piece has the same frame shape; a position outside the stream reads the
        // format of the nearest frame, as a file stream's single format would.
        const int64_t clamped = pos < 0 ? 0 : (pos >= Frames(tree_) ? Frames(tree_) - 1 : pos);
        LONG offset = 0;
        const Piece* piece = Locate(tree_, clamped, &offset);
        return piece->source()->ReadFormat(piece->first() + offset, format, size);
    }

    HRESULT ReadFrame(LONG frame, void* buffer, LONG bufferSize, LONG* bytes) override {
        if (frame < 0 || frame >= Frames(tree_)) return AVIERR_ERROR;
        LONG offset = 0;
        const Piece* piece = Locate(tree_, frame, &offset);
        return piece->source()->ReadFrame(piece->first() + offset, buffer, bufferSize, bytes);
    }

    HRESULT Read(LONG start, LONG samples, void* buffer, LONG bufferSize, LONG* bytes,
                 LONG* samplesRead) override {
        if (!IsAudio(info_))
            return AviStream::Read(start, samples, buffer, bufferSize, bytes, samplesRead);
        WAVEFORMATEX format{};
        if (!tree_ || !ReadWaveFormat(*this, 0, &format)) return AVIERR_ERROR;
        const LONG blockAlign = format.nBlockAlign;
        return ReadSamples(Length(), blockAlign, start, samples, buffer, bufferSize, bytes,
                           samplesRead, [&](LONG from, LONG count, uint8_t* dst) {
                               return ReadPieces(from, count, blockAlign, dst);
                           });
    }

    EditStream* Clone() const {
        auto* copy = new EditStream(info_, tree_);
        copy->hasInfo_ = hasInfo_;
        return copy;
    }

    // Checks and clamps start/length as described at the top; returns the new stream.
    HRESULT Take(LONG* start, LONG* length, bool remove, PAVISTREAM* result) {
        if (!start || !length || !result) return AVIERR_ERROR;
        *result = nullptr;
        const int64_t total = Frames(tree_);
        if (*start < 0 || *length < 0 || *start >= total) return AVIERR_ERROR;
        const int64_t count = std::min<int64_t>(*length, total - *start);
        if (count == 0) return AVIERR_ERROR;
        auto [before, rest] = Split(tree_, *start);
        auto [taken, after] = Split(rest, count);
        Tree remaining = remove ? Join(before, after) : tree_;
        auto* out = new EditStream(info_, std::move(taken));
        out->hasInfo_ = hasInfo_;
        // Nothing below can fail: the stream changes only once the result exists.
        if (remove) {
            tree_ = std::move(remaining);
            ++info_.dwEditCount;
        }
        *length = static_cast<LONG>(count);
        *result = out;
        return AVIERR_OK;
    }

    HRESULT Paste(LONG* position, LONG* length, AviStream* source, LONG sourceStart,
                  LONG sourceLength) {
        if (!position || !source) return AVIERR_ERROR;
        const int64_t total = Frames(tree_);
        if (*position < 0 || *position > total) return AVIERR_ERROR;
        const LONG available = source->Length();
        if (sourceStart < 0 || sourceStart >= available) return AVIERR_ERROR;
        if (sourceLength == -1) sourceLength = available;
        if (sourceLength <= 0) return AVIERR_ERROR;
        const int64_t count = std::min<int64_t>(sourceLength, int64_t{available} - sourceStart);
        if (total + count > std::numeric_limits<LONG>::max()) return AVIERR_ERROR;

        AVISTREAMINFOA sourceInfo{};
        if (source->Info(sourceInfo) != AVIERR_OK) return AVIERR_ERROR;
        const bool audio = IsAudio(sourceInfo);
        if ((hasInfo_ && IsAudio(info_) != audio) ||
            !FormatFits(total > 0 ? this : nullptr, *source, sourceStart, audio))
            return AVIERR_ERROR;

        auto [before, after] = Split(tree_, *position);
        Tree joined = Join(Join(before, TreeOf(*source, sourceStart, count)), after);
        // Nothing below can fail: the stream changes only once the new tree exists.
        if (!hasInfo_) {
            info_ = sourceInfo;
            info_.dwEditCount = 0;
            hasInfo_ = true;
        }
        tree_ = std::move(joined);
        ++info_.dwEditCount;
        if (length) *length = static_cast<LONG>(count);
        return AVIERR_OK;
    }

    HRESULT SetInfo(const AVISTREAMINFOA& info) {
        // A zero rate or scale would make every later timing computation divide by zero.
        if (info.dwRate == 0 || info.dwScale == 0) return AVIERR_ERROR;
        info_.dwRate = info.dwRate;
        info_.dwScale = info.dwScale;
        std::memcpy(info_.szName, info.szName, sizeof info_.szName);
        ++info_.dwEditCount;
        return AVIERR_OK;
    }

    // The pieces of frames [start, start + count) of any stream: an editable stream lends its
    // own pieces (so pieces never nest), any other stream becomes one piece.
    static Tree TreeOf(AviStream& source, LONG start, int64_t count) {
        if (auto* edit = dynamic_cast<EditStream*>(&source))
            return Range(edit->tree_, start, count);
        return MakeNode(Piece(&source, start, static_cast<LONG>(count)), nullptr, nullptr);
    }

    // In frame order; writes at most capacity pieces, counts them all.
    // Whole when its pieces are one file's audio in order, every sample once.
    avi::AudioSource* StoredAudio() override {
        avi::AudioSource* stored = nullptr;
        int64_t next = 0;
        bool whole = bool(tree_);
        Visit(tree_, [&](const Piece& p) {
            avi::AudioSource* of = p.source()->StoredAudio();
            if (next == 0) stored = of;
            whole = whole && of && of == stored && p.first() == next;
            next += p.count();
        });
        return whole && next == stored->Length() ? stored : nullptr;
    }

    LONG Pieces(EDITSTREAMPIECE* out, LONG capacity) const {
        LONG n = 0;
        Visit(tree_, [&](const Piece& p) {
            if (n < capacity) out[n] = {p.source(), p.first(), p.count()};
            ++n;
        });
        return n;
    }

  private:
    // Samples [start, start + count) piece by piece into dst.
    bool ReadPieces(LONG start, LONG count, LONG blockAlign, uint8_t* dst) {
        while (count > 0) {
            LONG offset = 0;
            const Piece* piece = Locate(tree_, start, &offset);
            const LONG part = std::min(count, piece->count() - offset);
            const LONG bytes = part * blockAlign;
            LONG got = 0;
            if (piece->source()->Read(piece->first() + offset, part, dst, bytes, nullptr, &got) !=
                    AVIERR_OK ||
                got != part)
                return false;
            start += part;
            count -= part;
            dst += bytes;
        }
        return true;
    }

    template <typename F> static void Visit(const Tree& t, F&& f) {
        // Depth stays logarithmic, so recursion is safe.
        if (!t) return;
        Visit(t->left, f);
        f(t->piece);
        Visit(t->right, f);
    }

    AVISTREAMINFOA info_{};
    bool hasInfo_ = false;
    Tree tree_;
};

EditStream* AsEditStream(PAVISTREAM stream) {
    return stream ? dynamic_cast<EditStream*>(stream) : nullptr;
}

// Allocation failures inside the tree code surface as std::bad_alloc; the C API reports them.
template <typename F> HRESULT Guarded(F&& f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return AVIERR_ERROR;
    }
}

} // namespace

extern "C" {

HRESULT CreateEditableStream(PAVISTREAM* result, PAVISTREAM source) {
    if (!result) return AVIERR_ERROR;
    *result = nullptr;
    return Guarded([&]() -> HRESULT {
        if (!source) {
            *result = new EditStream();
            return AVIERR_OK;
        }
        if (auto* edit = AsEditStream(source)) {
            *result = edit->Clone();
            return AVIERR_OK;
        }
        AVISTREAMINFOA info{};
        if (source->Info(info) != AVIERR_OK) return AVIERR_ERROR;
        const LONG length = source->Length();
        Tree tree = length > 0 ? EditStream::TreeOf(*source, 0, length) : nullptr;
        *result = new EditStream(info, std::move(tree));
        return AVIERR_OK;
    });
}

HRESULT EditStreamCut(PAVISTREAM stream, LONG* start, LONG* length, PAVISTREAM* result) {
    if (result) *result = nullptr;
    EditStream* edit = AsEditStream(stream);
    if (!edit) return AVIERR_ERROR;
    return Guarded([&] { return edit->Take(start, length, true, result); });
}

HRESULT EditStreamCopy(PAVISTREAM stream, LONG* start, LONG* length, PAVISTREAM* result) {
    if (result) *result = nullptr;
    EditStream* edit = AsEditStream(stream);
    if (!edit) return AVIERR_ERROR;
    return Guarded([&] { return edit->Take(start, length, false, result); });
}

HRESULT EditStreamPaste(PAVISTREAM stream, LONG* position, LONG* length, PAVISTREAM source,
                        LONG sourceStart, LONG sourceLength) {
    EditStream* edit = AsEditStream(stream);
    if (!edit) return AVIERR_ERROR;
    return Guarded(
        [&] { return edit->Paste(position, length, source, sourceStart, sourceLength); });
}

HRESULT EditStreamSetInfoA(PAVISTREAM stream, AVISTREAMINFOA* info, LONG size) {
    EditStream* edit = AsEditStream(stream);
    if (!edit || !info || size < static_cast<LONG>(sizeof(AVISTREAMINFOA))) return AVIERR_ERROR;
    return edit->SetInfo(*info);
}

LONG EditStreamGetPieces(PAVISTREAM stream, EDITSTREAMPIECE* pieces, LONG capacity) {
    const EditStream* edit = AsEditStream(stream);
    if (!edit || capacity < 0 || (capacity > 0 && !pieces)) return -1;
    return edit->Pieces(pieces, capacity);
}

} // extern "C"
