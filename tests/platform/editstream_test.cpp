// Editable streams through the C API, on in-memory sources whose frames carry their numbers.
#include "avi_fixtures.h"
#include "fake_stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

struct Releaser {
    void operator()(AviStream* s) const { AVIStreamRelease(s); }
};
using Stream = std::unique_ptr<AviStream, Releaser>;

// A source of `frames` frames numbered from `base`, wrapped in an editable stream. The
// editable stream holds its own reference, so the source handle is dropped here.
Stream Editable(LONG frames, LONG base = 0, FakeShape shape = {}) {
    auto* source = new FakeStream(frames, base, shape);
    PAVISTREAM edit = nullptr;
    EXPECT_EQ(CreateEditableStream(&edit, source), AVIERR_OK);
    AVIStreamRelease(source);
    return Stream(edit);
}

Stream Empty() {
    PAVISTREAM edit = nullptr;
    EXPECT_EQ(CreateEditableStream(&edit, nullptr), AVIERR_OK);
    return Stream(edit);
}

Stream Clone(PAVISTREAM s) {
    PAVISTREAM copy = nullptr;
    EXPECT_EQ(CreateEditableStream(&copy, s), AVIERR_OK);
    return Stream(copy);
}

std::vector<int32_t> Numbers(LONG first, LONG last) {
    std::vector<int32_t> v(static_cast<size_t>(last - first + 1));
    std::iota(v.begin(), v.end(), first);
    return v;
}

// Every frame, read the way the system reads frames: start n, count n + 1, one-frame buffer.
std::vector<int32_t> Pictures(PAVISTREAM s) {
    std::vector<int32_t> out;
    const LONG n = AVIStreamLength(s);
    for (LONG i = 0; i < n; ++i) {
        int32_t value = -1;
        EXPECT_EQ(AVIStreamRead(s, i, i + 1, &value, sizeof value, nullptr, nullptr), AVIERR_OK);
        out.push_back(value);
    }
    return out;
}

// One call of the editable-stream API on a stream or a clip: the clip holds what the last cut or
// copy returned, a paste inserts the whole clip.
struct Edit {
    enum Kind { Cut, Copy, Paste, CloneToClip } kind;
    LONG start = 0, length = 0; // for a paste: the position
};

// Applies the edits to `s` with the API and returns the clip the last one left.
Stream Apply(PAVISTREAM s, const std::vector<Edit>& edits) {
    Stream clip;
    for (const Edit& e : edits) {
        LONG start = e.start, length = e.length;
        PAVISTREAM taken = nullptr;
        switch (e.kind) {
        case Edit::Cut:
            EXPECT_EQ(EditStreamCut(s, &start, &length, &taken), AVIERR_OK);
            clip.reset(taken);
            break;
        case Edit::Copy:
            EXPECT_EQ(EditStreamCopy(s, &start, &length, &taken), AVIERR_OK);
            clip.reset(taken);
            break;
        case Edit::CloneToClip:
            clip = Clone(s);
            break;
        case Edit::Paste:
            EXPECT_EQ(
                EditStreamPaste(s, &start, &length, clip.get(), 0, AVIStreamLength(clip.get())),
                AVIERR_OK);
            EXPECT_EQ(length, AVIStreamLength(clip.get()));
            break;
        }
    }
    return clip;
}

DWORD InfoLength(PAVISTREAM s) {
    AVISTREAMINFOA info{};
    EXPECT_EQ(AVIStreamInfoA(s, &info, sizeof info), AVIERR_OK);
    return info.dwLength;
}

TEST(EditStreamCommands, PasteInsertsBeforeThePositionAndReportsTheCount) {
    Stream s = Editable(20);
    Stream clip = Editable(10, 100);
    LONG position = 5;
    LONG inserted = 0;
    ASSERT_EQ(EditStreamPaste(s.get(), &position, &inserted, clip.get(), 0, 10), AVIERR_OK);
    EXPECT_EQ(position, 5);
    EXPECT_EQ(inserted, 10);
    std::vector<int32_t> expected = Numbers(0, 4);
    for (int32_t v : Numbers(100, 109))
        expected.push_back(v);
    for (int32_t v : Numbers(5, 19))
        expected.push_back(v);
    EXPECT_EQ(Pictures(s.get()), expected);
    EXPECT_EQ(InfoLength(s.get()), 30u);
}

TEST(EditStreamCommands, PasteIntoAnEmptyStreamTakesTheSourceInformation) {
    Stream clipboard = Empty();
    EXPECT_EQ(AVIStreamLength(clipboard.get()), 0);
    LONG size = sizeof(BITMAPINFOHEADER);
    BITMAPINFOHEADER header{};
    EXPECT_NE(AVIStreamReadFormat(clipboard.get(), 0, &header, &size), AVIERR_OK);

    Stream s = Editable(5, 50);
    LONG position = 0, inserted = 0;
    EXPECT_EQ(EditStreamPaste(clipboard.get(), &position, &inserted, s.get(), 0, 5), AVIERR_OK);
    EXPECT_EQ(inserted, 5);
    EXPECT_EQ(Pictures(clipboard.get()), Numbers(50, 54));
    AVISTREAMINFOA info{};
    ASSERT_EQ(AVIStreamInfoA(clipboard.get(), &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.fccType, streamtypeVIDEO);
    EXPECT_EQ(info.dwRate, 25u);
    EXPECT_EQ(info.dwLength, 5u);
    EXPECT_EQ(AVIStreamReadFormat(clipboard.get(), 0, &header, &size), AVIERR_OK);
    EXPECT_EQ(header.biWidth, 32);
}

TEST(EditStreamCommands, PastingAnEmptyStreamFails) {
    Stream s = Editable(5);
    Stream clipboard = Empty();
    LONG position = 0;
    LONG length = 0;
    EXPECT_NE(EditStreamPaste(s.get(), &position, &length, clipboard.get(), 0, 0), AVIERR_OK);
    EXPECT_EQ(Pictures(s.get()), Numbers(0, 4));
}

// Frame orders after a few calls, worked out by hand, on streams whose frames are numbered from
// 10 (the clip's frames likewise).
struct EditCase {
    const char* name;
    LONG frames;
    std::vector<Edit> edits;
    std::vector<int32_t> stream, clip;
};
void PrintTo(const EditCase& c, std::ostream* out) {
    *out << c.name;
}

class EditStreamEdits : public testing::TestWithParam<EditCase> {};

TEST_P(EditStreamEdits, FramesEndUpInTheOrderWorkedOutByHand) {
    const EditCase& c = GetParam();
    Stream s = Editable(c.frames, 10);
    Stream clip = Apply(s.get(), c.edits);
    EXPECT_EQ(Pictures(s.get()), c.stream);
    EXPECT_EQ(InfoLength(s.get()), c.stream.size());
    ASSERT_TRUE(clip);
    EXPECT_EQ(Pictures(clip.get()), c.clip);
    EXPECT_EQ(InfoLength(clip.get()), c.clip.size());
}

using E = Edit;
INSTANTIATE_TEST_SUITE_P(
    Orders, EditStreamEdits,
    testing::Values(
        EditCase{"CutFromTheMiddle", 7, {{E::Cut, 2, 3}}, {10, 11, 15, 16}, {12, 13, 14}},
        EditCase{"CutEverything", 3, {{E::Cut, 0, 3}}, {}, {10, 11, 12}},
        EditCase{"CopyOneFrame", 4, {{E::Copy, 3, 1}}, {10, 11, 12, 13}, {13}},
        EditCase{"CutAndPasteAtTheStart",
                 6,
                 {{E::Cut, 4, 2}, {E::Paste, 0}},
                 {14, 15, 10, 11, 12, 13},
                 {14, 15}},
        EditCase{"CopyPastedAtTheEnd",
                 3,
                 {{E::Copy, 0, 2}, {E::Paste, 3}},
                 {10, 11, 12, 10, 11},
                 {10, 11}},
        EditCase{"SameClipPastedTwice",
                 4,
                 {{E::Copy, 1, 2}, {E::Paste, 0}, {E::Paste, 0}},
                 {11, 12, 11, 12, 10, 11, 12, 13},
                 {11, 12}},
        EditCase{"PastedFramesCutAgain",
                 5,
                 {{E::Copy, 0, 2}, {E::Paste, 4}, {E::Cut, 3, 3}},
                 {10, 11, 12, 14},
                 {13, 10, 11}},
        EditCase{"CloneOfTheStreamPastedIntoIt",
                 3,
                 {{E::CloneToClip}, {E::Paste, 1}},
                 {10, 10, 11, 12, 11, 12},
                 {10, 11, 12}},
        // A range reversed the editor's way: the last frame of 2..5 moved forward one at a time.
        EditCase{"ReversedByMovingFrames",
                 7,
                 {{E::Cut, 5, 1},
                  {E::Paste, 2},
                  {E::Cut, 5, 1},
                  {E::Paste, 3},
                  {E::Cut, 5, 1},
                  {E::Paste, 4}},
                 {10, 11, 15, 14, 13, 12, 16},
                 {13}},
        EditCase{"TwoFramesSwapped", 3, {{E::Cut, 1, 1}, {E::Paste, 0}}, {11, 10, 12}, {11}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EditStream, CloneIsIndependentInBothDirections) {
    Stream original = Editable(10);
    Stream clone = Clone(original.get());
    Stream clip = Apply(clone.get(), {{Edit::Cut, 2, 6}});
    EXPECT_EQ(Pictures(original.get()), Numbers(0, 9));
    EXPECT_EQ(Pictures(clone.get()), (std::vector<int32_t>{0, 1, 8, 9}));

    LONG position = 10, inserted = 0;
    ASSERT_EQ(EditStreamPaste(original.get(), &position, &inserted, clip.get(), 0, 6), AVIERR_OK);
    EXPECT_EQ(Pictures(clone.get()), (std::vector<int32_t>{0, 1, 8, 9}));
    EXPECT_EQ(AVIStreamLength(original.get()), 16);

    // The cut-out stream does not change when the stream it came from is edited again.
    Apply(original.get(), {{Edit::Cut, 0, 16}});
    EXPECT_EQ(Pictures(clip.get()), Numbers(2, 7));
}

// What a journal keeps of a stream: its pieces, from which the same frames are built again.
TEST(EditStream, ItsPiecesBuildTheSameFramesAgain) {
    Stream edited = Editable(30);
    Stream other = Editable(5, 100);
    Stream clip = Apply(edited.get(), {{Edit::Cut, 3, 9}});
    for (LONG position : {0, 7, 21}) {
        LONG inserted = 0;
        ASSERT_EQ(EditStreamPaste(edited.get(), &position, &inserted, other.get(), 1, 3),
                  AVIERR_OK);
    }
    const LONG count = EditStreamGetPieces(edited.get(), nullptr, 0);
    std::vector<EDITSTREAMPIECE> pieces(size_t(count) - 1);
    EXPECT_EQ(EditStreamGetPieces(edited.get(), pieces.data(), count - 1), count);
    pieces.resize(size_t(count));
    ASSERT_EQ(EditStreamGetPieces(edited.get(), pieces.data(), count), count);

    Stream rebuilt = Empty();
    for (const EDITSTREAMPIECE& piece : pieces) {
        LONG position = AVIStreamLength(rebuilt.get()), inserted = 0;
        ASSERT_EQ(EditStreamPaste(rebuilt.get(), &position, &inserted, piece.source, piece.first,
                                  piece.count),
                  AVIERR_OK);
    }
    EXPECT_EQ(Pictures(rebuilt.get()), Pictures(edited.get()));
    EXPECT_EQ(EditStreamGetPieces(nullptr, nullptr, 0), -1);
}

TEST(EditStream, ReleasingTheLastStreamReleasesTheSource) {
    ASSERT_EQ(FakeStream::alive, 0);
    {
        Stream s = Editable(10);
        Stream clone = Clone(s.get());
        Stream clip = Apply(s.get(), {{Edit::Cut, 3, 3}});
        Apply(clone.get(), {{Edit::CloneToClip}});
        LONG position = 0, inserted = 0;
        ASSERT_EQ(EditStreamPaste(clone.get(), &position, &inserted, clip.get(), 0, 3), AVIERR_OK);
        EXPECT_EQ(FakeStream::alive, 1);
        s.reset();
        clone.reset();
        EXPECT_EQ(FakeStream::alive, 1); // the clip still reads from it
    }
    EXPECT_EQ(FakeStream::alive, 0);
}

struct ShapeCase {
    const char* name;
    FakeShape shape;
    bool accepted;
};
void PrintTo(const ShapeCase& c, std::ostream* out) {
    *out << c.name;
}

class EditStreamPasteShape : public testing::TestWithParam<ShapeCase> {};

TEST_P(EditStreamPasteShape, OnlyTheSameFrameShapeIsAccepted) {
    const ShapeCase& c = GetParam();
    Stream s = Editable(5);
    Stream other = Editable(3, 100, c.shape);
    LONG position = 2;
    LONG length = 0;
    const HRESULT hr = EditStreamPaste(s.get(), &position, &length, other.get(), 0, 3);
    EXPECT_EQ(hr == AVIERR_OK, c.accepted);
    EXPECT_EQ(AVIStreamLength(s.get()), c.accepted ? 8 : 5);
}

INSTANTIATE_TEST_SUITE_P(Shapes, EditStreamPasteShape,
                         testing::Values(ShapeCase{"Same", {32, 24, 24}, true},
                                         ShapeCase{"Width", {33, 24, 24}, false},
                                         ShapeCase{"Height", {32, 25, 24}, false},
                                         ShapeCase{"BitCount", {32, 24, 16}, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EditStream, SetInfoReplacesRateScaleAndName) {
    Stream s = Editable(6);
    AVISTREAMINFOA info{};
    ASSERT_EQ(AVIStreamInfoA(s.get(), &info, sizeof info), AVIERR_OK);
    info.dwRate = 30000;
    info.dwScale = 1001;
    std::strcpy(info.szName, "renamed");
    info.dwLength = 999; // not taken: the length follows the frames
    ASSERT_EQ(EditStreamSetInfoA(s.get(), &info, sizeof info), AVIERR_OK);

    AVISTREAMINFOA after{};
    ASSERT_EQ(AVIStreamInfoA(s.get(), &after, sizeof after), AVIERR_OK);
    EXPECT_EQ(after.dwRate, 30000u);
    EXPECT_EQ(after.dwScale, 1001u);
    EXPECT_STREQ(after.szName, "renamed");
    EXPECT_EQ(after.dwLength, 6u);
    EXPECT_EQ(after.fccType, streamtypeVIDEO);

    info.dwScale = 0;
    EXPECT_NE(EditStreamSetInfoA(s.get(), &info, sizeof info), AVIERR_OK);
    EXPECT_NE(EditStreamSetInfoA(s.get(), &info, sizeof info - 1), AVIERR_OK);
    EXPECT_NE(EditStreamSetInfoA(s.get(), nullptr, sizeof info), AVIERR_OK);
}

struct TakeCase {
    const char* name;
    LONG start, length;
    bool ok;
    LONG lengthAfter; // written back on success
};
void PrintTo(const TakeCase& c, std::ostream* out) {
    *out << c.name;
}

class EditStreamTakeArguments : public testing::TestWithParam<TakeCase> {};

TEST_P(EditStreamTakeArguments, CutAndCopyCheckOrClamp) {
    const TakeCase& c = GetParam();
    for (bool cut : {false, true}) {
        Stream s = Editable(10);
        LONG start = c.start;
        LONG length = c.length;
        PAVISTREAM result = reinterpret_cast<PAVISTREAM>(&start); // must be overwritten
        const HRESULT hr = cut ? EditStreamCut(s.get(), &start, &length, &result)
                               : EditStreamCopy(s.get(), &start, &length, &result);
        Stream taken(result);
        EXPECT_EQ(hr == AVIERR_OK, c.ok) << (cut ? "cut" : "copy");
        if (!c.ok) {
            EXPECT_EQ(result, nullptr);
            EXPECT_EQ(AVIStreamLength(s.get()), 10);
            continue;
        }
        EXPECT_EQ(length, c.lengthAfter);
        EXPECT_EQ(Pictures(taken.get()), Numbers(c.start, c.start + c.lengthAfter - 1));
        EXPECT_EQ(AVIStreamLength(s.get()), cut ? 10 - c.lengthAfter : 10);
    }
}

INSTANTIATE_TEST_SUITE_P(Arguments, EditStreamTakeArguments,
                         testing::Values(TakeCase{"Inside", 2, 3, true, 3},
                                         TakeCase{"Whole", 0, 10, true, 10},
                                         TakeCase{"PastTheEndIsClamped", 7, 100, true, 3},
                                         TakeCase{"NegativeStart", -1, 3, false, 0},
                                         TakeCase{"NegativeLength", 2, -3, false, 0},
                                         TakeCase{"StartAtEnd", 10, 1, false, 0},
                                         TakeCase{"NothingToTake", 4, 0, false, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EditStream, NullAndForeignHandlesFailCleanly) {
    Stream s = Editable(5);
    LONG start = 0, length = 1;
    PAVISTREAM result = nullptr;
    EXPECT_NE(CreateEditableStream(nullptr, s.get()), AVIERR_OK);
    EXPECT_NE(EditStreamCut(nullptr, &start, &length, &result), AVIERR_OK);
    EXPECT_NE(EditStreamCopy(s.get(), nullptr, &length, &result), AVIERR_OK);
    EXPECT_NE(EditStreamCopy(s.get(), &start, nullptr, &result), AVIERR_OK);
    EXPECT_NE(EditStreamCopy(s.get(), &start, &length, nullptr), AVIERR_OK);
    EXPECT_NE(EditStreamPaste(s.get(), nullptr, &length, s.get(), 0, 1), AVIERR_OK);
    EXPECT_NE(EditStreamPaste(s.get(), &start, &length, nullptr, 0, 1), AVIERR_OK);

    // A stream that is not editable is refused as the target of an edit.
    FakeStream* plain = new FakeStream(3, 0);
    EXPECT_NE(EditStreamCut(plain, &start, &length, &result), AVIERR_OK);
    EXPECT_EQ(result, nullptr);
    AVIStreamRelease(plain);
    EXPECT_EQ(Pictures(s.get()), Numbers(0, 4));
}

struct PasteCase {
    const char* name;
    LONG position, sourceStart, sourceLength;
    bool ok;
    LONG inserted;
};
void PrintTo(const PasteCase& c, std::ostream* out) {
    *out << c.name;
}

class EditStreamPasteArguments : public testing::TestWithParam<PasteCase> {};

TEST_P(EditStreamPasteArguments, PasteChecksOrClamps) {
    const PasteCase& c = GetParam();
    Stream s = Editable(5);
    Stream clip = Editable(4, 100);
    LONG position = c.position;
    LONG inserted = -7;
    const HRESULT hr =
        EditStreamPaste(s.get(), &position, &inserted, clip.get(), c.sourceStart, c.sourceLength);
    EXPECT_EQ(hr == AVIERR_OK, c.ok);
    if (!c.ok) {
        EXPECT_EQ(Pictures(s.get()), Numbers(0, 4));
        return;
    }
    EXPECT_EQ(inserted, c.inserted);
    std::vector<int32_t> expected = Numbers(0, 4);
    std::vector<int32_t> in = Numbers(100 + c.sourceStart, 100 + c.sourceStart + c.inserted - 1);
    expected.insert(expected.begin() + c.position, in.begin(), in.end());
    EXPECT_EQ(Pictures(s.get()), expected);
}

INSTANTIATE_TEST_SUITE_P(Arguments, EditStreamPasteArguments,
                         testing::Values(PasteCase{"AtStart", 0, 0, 4, true, 4},
                                         PasteCase{"AtEnd", 5, 0, 4, true, 4},
                                         PasteCase{"PartOfSource", 2, 1, 2, true, 2},
                                         PasteCase{"ToSourceEnd", 2, 1, -1, true, 3},
                                         PasteCase{"LengthClamped", 2, 2, 50, true, 2},
                                         PasteCase{"PastTheEnd", 6, 0, 4, false, 0},
                                         PasteCase{"NegativePosition", -1, 0, 4, false, 0},
                                         PasteCase{"SourceStartOutside", 0, 4, 1, false, 0},
                                         PasteCase{"NegativeSourceStart", 0, -1, 1, false, 0},
                                         PasteCase{"ZeroLength", 0, 0, 0, false, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EditStream, ReadsOutsideTheStreamFailAndLeaveTheBuffer) {
    Stream s = Editable(3);
    for (LONG frame : {-1, 3, 1000}) {
        int32_t value = 12345;
        EXPECT_NE(AVIStreamRead(s.get(), frame, frame + 1, &value, sizeof value, nullptr, nullptr),
                  AVIERR_OK);
        EXPECT_EQ(value, 12345);
    }
}

// Pieces of a file's stream read the file's frames; the editable stream keeps the file open
// after the caller's handle is gone.
TEST(EditStream, EditsOfAFileStreamReadTheFilesFrames) {
    Stream s;
    std::string path;
    {
        fixtures::ScratchDir dir;
        path = dir.File("clip.avi");
        ASSERT_TRUE(fixtures::WriteTinyAvi(path, 30, 20, 24, 6));
        PAVISTREAM file = nullptr;
        ASSERT_EQ(AVIStreamOpenFromFileA(&file, path.c_str(), streamtypeVIDEO, 0, OF_READ, nullptr),
                  AVIERR_OK);
        s = Clone(file);
        AVIStreamRelease(file);
    }
    ASSERT_FALSE(std::filesystem::exists(path));

    // Frames 1..4 reversed by moving the last one forward: 0 4 1 2 3 5, 0 4 3 1 2 5, 0 4 3 2 1 5.
    Apply(s.get(), {{Edit::Cut, 4, 1},
                    {Edit::Paste, 1},
                    {Edit::Cut, 4, 1},
                    {Edit::Paste, 2},
                    {Edit::Cut, 4, 1},
                    {Edit::Paste, 3}});
    const LONG bytes = static_cast<LONG>(fixtures::DibHeader(30, 20, 24).biSizeImage);
    const int expected[] = {0, 4, 3, 2, 1, 5};
    for (LONG i = 0; i < 6; ++i) {
        fixtures::Frame frame(static_cast<size_t>(bytes), 0);
        ASSERT_EQ(AVIStreamRead(s.get(), i, i + 1, frame.data(), bytes, nullptr, nullptr),
                  AVIERR_OK);
        EXPECT_EQ(frame, fixtures::PatternFrame(30, 20, 24, expected[i])) << "frame " << i;
    }
    Stream sixteenBit = Editable(2, 0, {30, 20, 16});
    LONG position = 0, inserted = 0;
    EXPECT_NE(EditStreamPaste(s.get(), &position, &inserted, sixteenBit.get(), 0, 2), AVIERR_OK);
}

// Random edits on several streams checked against plain vectors of frame numbers.
TEST(EditStream, RandomEditsMatchAModel) {
    std::mt19937 random(7);
    auto pick = [&](LONG lo, LONG hi) {
        return std::uniform_int_distribution<LONG>(lo, hi)(random);
    };
    std::vector<Stream> streams;
    std::vector<std::vector<int32_t>> models;
    for (int i = 0; i < 3; ++i) {
        streams.push_back(Editable(50, 1000 * i));
        models.push_back(Numbers(1000 * i, 1000 * i + 49));
    }
    for (int step = 0; step < 3000; ++step) {
        const size_t a = static_cast<size_t>(pick(0, 2));
        const size_t b = static_cast<size_t>(pick(0, 2));
        std::vector<int32_t>& ma = models[a];
        if (ma.size() < 2) {
            streams[a] = Clone(streams[b].get());
            ma = models[b];
            continue;
        }
        const LONG n = static_cast<LONG>(ma.size());
        LONG start = pick(0, n - 1);
        LONG length = pick(1, std::min<LONG>(n - start, 20));
        const int op = pick(0, 3);
        if (op == 3) {
            streams[a] = Clone(streams[b].get());
            ma = models[b];
            continue;
        }
        PAVISTREAM taken = nullptr;
        const HRESULT hr = op == 0 ? EditStreamCut(streams[a].get(), &start, &length, &taken)
                                   : EditStreamCopy(streams[a].get(), &start, &length, &taken);
        ASSERT_EQ(hr, AVIERR_OK);
        Stream clip(taken);
        std::vector<int32_t> piece(ma.begin() + start, ma.begin() + start + length);
        if (op == 0) ma.erase(ma.begin() + start, ma.begin() + start + length);
        std::vector<int32_t>& mb = models[b];
        LONG position = pick(0, static_cast<LONG>(mb.size()));
        LONG inserted = 0;
        ASSERT_EQ(EditStreamPaste(streams[b].get(), &position, &inserted, clip.get(), 0, -1),
                  AVIERR_OK);
        ASSERT_EQ(inserted, length);
        mb.insert(mb.begin() + position, piece.begin(), piece.end());
        if (step % 100 == 0) {
            for (size_t i = 0; i < streams.size(); ++i)
                ASSERT_EQ(Pictures(streams[i].get()), models[i]) << "step " << step;
        }
    }
    for (size_t i = 0; i < streams.size(); ++i)
        EXPECT_EQ(Pictures(streams[i].get()), models[i]);
}

} // namespace
