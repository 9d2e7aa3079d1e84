// Writing and reading uncompressed AVIs through the C API.
#include "avi_fixtures.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

using namespace fixtures;

namespace {

// A scratch folder with one small file written through the API, and the file's view, released
// at the end of the test.
class TinyFile : public testing::Test {
  protected:
    void TearDown() override {
        if (view) AVIStreamRelease(view);
    }
    // Writes `frames` pattern frames and opens the view (null on failure).
    PAVISTREAM WriteAndView(int width, int height, int bits, int frames, DWORD rate = 25,
                            DWORD scale = 1, const std::string& name = "") {
        if (WriteTinyAvi(path, width, height, bits, frames, rate, scale, name))
            view = OpenView(path);
        return view;
    }
    HRESULT Read(LONG n, Frame& frame) {
        return AVIStreamRead(view, n, n + 1, frame.data(), static_cast<LONG>(frame.size()), nullptr,
                             nullptr);
    }

    ScratchDir dir;
    const std::string path = dir.File("tiny.avi");
    PAVISTREAM view = nullptr;
};

struct Shape {
    int width, height, bits;
};

void PrintTo(const Shape& s, std::ostream* out) {
    *out << s.width << "x" << s.height << "x" << s.bits;
}

class RoundTrip : public testing::TestWithParam<Shape> {};

// Both the file's stream and its uncompressing view give back every byte written, padding
// included, and report the header written.
TEST_P(RoundTrip, FramesComeBackByteForByte) {
    const Shape s = GetParam();
    ScratchDir dir;
    const std::string path = dir.File("rt.avi");
    ASSERT_TRUE(WriteTinyAvi(path, s.width, s.height, s.bits, 5));

    PAVISTREAM raw = nullptr;
    ASSERT_EQ(AVIStreamOpenFromFileA(&raw, path.c_str(), streamtypeVIDEO, 0,
                                     OF_READ | OF_SHARE_DENY_NONE, nullptr),
              AVIERR_OK);
    PAVISTREAM view = OpenView(path);
    ASSERT_NE(view, nullptr);
    const BITMAPINFOHEADER expected = DibHeader(s.width, s.height, s.bits);
    for (PAVISTREAM stream : {raw, view}) {
        BITMAPINFOHEADER header{};
        LONG size = sizeof header;
        ASSERT_EQ(AVIStreamReadFormat(stream, 0, &header, &size), AVIERR_OK);
        EXPECT_EQ(size, 40);
        EXPECT_EQ(std::memcmp(&header, &expected, sizeof header), 0);
        ASSERT_EQ(AVIStreamLength(stream), 5);
        const auto frames = ReadAll(stream, static_cast<LONG>(expected.biSizeImage));
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(frames[i], PatternFrame(s.width, s.height, s.bits, i)) << "frame " << i;
    }
    // Random order, and the same frame twice.
    Frame frame(expected.biSizeImage);
    for (LONG i : {4, 1, 1, 3, 0, 2}) {
        ASSERT_EQ(AVIStreamRead(view, i, i + 1, frame.data(), static_cast<LONG>(frame.size()),
                                nullptr, nullptr),
                  AVIERR_OK);
        EXPECT_EQ(frame, PatternFrame(s.width, s.height, s.bits, i));
    }
    AVIStreamRelease(view);
    AVIStreamRelease(raw);
}

INSTANTIATE_TEST_SUITE_P(Shapes, RoundTrip,
                         testing::Values(Shape{32, 24, 24}, Shape{30, 20, 24}, Shape{31, 20, 16},
                                         Shape{32, 24, 16}, Shape{1, 1, 24}, Shape{3, 5, 16}));

struct RateCase {
    DWORD rate, scale;
    std::string name;
};

void PrintTo(const RateCase& c, std::ostream* out) {
    *out << c.rate << "/" << c.scale;
}

class StreamInfoRoundTrip : public TinyFile, public testing::WithParamInterface<RateCase> {};

TEST_P(StreamInfoRoundTrip, RateScaleLengthRectangleAndNameBytes) {
    const RateCase c = GetParam();
    ASSERT_NE(WriteAndView(30, 20, 24, 3, c.rate, c.scale, c.name), nullptr);
    AVISTREAMINFOA info{};
    ASSERT_EQ(AVIStreamInfoA(view, &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.fccType, streamtypeVIDEO);
    EXPECT_EQ(info.dwRate, c.rate);
    EXPECT_EQ(info.dwScale, c.scale);
    EXPECT_EQ(info.dwLength, 3u);
    EXPECT_EQ(info.rcFrame.right, 30);
    EXPECT_EQ(info.rcFrame.bottom, 20);
    EXPECT_EQ(std::string(info.szName), c.name);
}

INSTANTIATE_TEST_SUITE_P(Rates, StreamInfoRoundTrip,
                         testing::Values(RateCase{30000, 1001, "\xCB\xDE\xC3\xDE\xB5"},
                                         RateCase{25, 1, "clip"}, RateCase{1, 1, ""},
                                         RateCase{2997, 100, std::string(63, 'n')}));

TEST(AviWrite, RefusesAFormatThatDiffersFromTheFirst) {
    ScratchDir dir;
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    AVISTREAMINFOA info = VideoInfo(30, 20);
    ASSERT_EQ(AVIFileOpenA(&file, dir.File("f.avi").c_str(), 0x1041, nullptr), AVIERR_OK);
    ASSERT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);
    BITMAPINFOHEADER format = DibHeader(30, 20, 24);
    Frame pixels = PatternFrame(30, 20, 24, 0);
    const LONG size = static_cast<LONG>(pixels.size());
    EXPECT_EQ(AVIStreamSetFormat(stream, 0, &format, 40), AVIERR_OK);
    EXPECT_EQ(AVIStreamWrite(stream, 0, 1, pixels.data(), size, AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_OK);
    EXPECT_EQ(AVIStreamSetFormat(stream, 1, &format, 40), AVIERR_OK);

    BITMAPINFOHEADER other = DibHeader(32, 20, 24);
    EXPECT_NE(AVIStreamSetFormat(stream, 1, &other, 40), AVIERR_OK);
    other = DibHeader(30, 20, 16);
    EXPECT_NE(AVIStreamSetFormat(stream, 1, &other, 40), AVIERR_OK);
    // Out of order, wrong size, more than one sample: refused, nothing written.
    EXPECT_NE(AVIStreamWrite(stream, 3, 1, pixels.data(), size, AVIIF_KEYFRAME, nullptr, nullptr),
              AVIERR_OK);
    EXPECT_NE(
        AVIStreamWrite(stream, 1, 1, pixels.data(), size - 1, AVIIF_KEYFRAME, nullptr, nullptr),
        AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(stream), 1);
    AVIStreamRelease(stream);
    AVIFileRelease(file);
}

TEST(AviWrite, RefusesFormatsItCannotStore) {
    ScratchDir dir;
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    AVISTREAMINFOA info = VideoInfo(30, 20);
    ASSERT_EQ(AVIFileOpenA(&file, dir.File("f.avi").c_str(), 0x1041, nullptr), AVIERR_OK);
    ASSERT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);
    const BITMAPINFOHEADER good = DibHeader(30, 20, 24);
    std::vector<BITMAPINFOHEADER> bad(6, good);
    bad[0].biBitCount = 8;
    bad[1].biCompression = mmioFOURCC('M', 'J', 'P', 'G');
    bad[2].biWidth = 0;
    bad[3].biHeight = -20;
    bad[4].biWidth = 0x7FFFFFFF;
    bad[5].biSizeImage = 30 * 20 * 3; // unpadded: not the size of a frame
    for (BITMAPINFOHEADER& format : bad)
        EXPECT_NE(AVIStreamSetFormat(stream, 0, &format, 40), AVIERR_OK);
    BITMAPINFOHEADER format = good;
    EXPECT_NE(AVIStreamSetFormat(stream, 0, &format, 39), AVIERR_OK);
    // A second stream in the same file is refused.
    PAVISTREAM second = nullptr;
    EXPECT_NE(AVIFileCreateStreamA(file, &second, &info), AVIERR_OK);
    EXPECT_EQ(second, nullptr);
    AVIStreamRelease(stream);
    AVIFileRelease(file);

    AVISTREAMINFOA noRate = VideoInfo(30, 20, 0, 1);
    ASSERT_EQ(AVIFileOpenA(&file, dir.File("g.avi").c_str(), 0x1041, nullptr), AVIERR_OK);
    EXPECT_NE(AVIFileCreateStreamA(file, &stream, &noRate), AVIERR_OK);
    AVIFileRelease(file);
}

TEST_F(TinyFile, AStreamWithoutFramesMakesAReadableEmptyFile) {
    ASSERT_NE(WriteAndView(30, 20, 24, 0), nullptr);
    EXPECT_EQ(AVIStreamLength(view), 0);
    Frame frame(DibHeader(30, 20, 24).biSizeImage, 0xAB);
    EXPECT_NE(Read(0, frame), AVIERR_OK);
}

// The header in the file gives the padded frame size, and ffmpeg reads the same pixels.
TEST(AviWrite, OtherReadersSeeTheSameFile) {
    ScratchDir dir;
    const std::string path = dir.File("ff.avi");
    ASSERT_TRUE(WriteTinyAvi(path, 30, 20, 24, 4, 30000, 1001));
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const size_t strf = bytes.find("strf");
    ASSERT_NE(strf, std::string::npos);
    DWORD imageSize = 0;
    std::memcpy(&imageSize, bytes.data() + strf + 8 + 20, 4);
    EXPECT_EQ(imageSize, 92u * 20);

    const std::string command =
        "ffmpeg -v error -i " + path + " -f rawvideo -pix_fmt bgr24 - 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) GTEST_SKIP() << "no ffmpeg";
    std::vector<uint8_t> decoded;
    uint8_t chunk[4096];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        decoded.insert(decoded.end(), chunk, chunk + n);
    if (pclose(pipe) != 0) GTEST_SKIP() << "ffmpeg not usable";
    ASSERT_EQ(decoded.size(), size_t{4} * 30 * 20 * 3);
    for (int i = 0; i < 4; ++i) {
        const Frame stored = PatternFrame(30, 20, 24, i);
        for (int y = 0; y < 20; ++y) // ffmpeg: top-down, unpadded
            EXPECT_EQ(std::memcmp(&decoded[(size_t(i) * 20 + y) * 90], &stored[(19 - y) * 92], 90),
                      0);
    }
}

// Uncompressed formats other than 16 and 24 bits come out as 24-bit frames.
TEST_F(TinyFile, ThirtyTwoBitFramesBecomeTwentyFourBit) {
    ASSERT_NE(WriteAndView(7, 3, 32, 2), nullptr);
    BITMAPINFOHEADER header{};
    LONG size = sizeof header;
    ASSERT_EQ(AVIStreamReadFormat(view, 0, &header, &size), AVIERR_OK);
    const BITMAPINFOHEADER expected = DibHeader(7, 3, 24);
    EXPECT_EQ(std::memcmp(&header, &expected, sizeof header), 0);
    const auto frames = ReadAll(view, LONG(expected.biSizeImage));
    ASSERT_EQ(frames.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const Frame stored = PatternFrame(7, 3, 32, i);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7; ++x)
                for (int c = 0; c < 3; ++c)
                    EXPECT_EQ(frames[i][y * 24 + x * 3 + c], stored[y * 28 + x * 4 + c]);
    }
}

TEST(AviLifetime, AStreamKeepsItsFileOpen) {
    ScratchDir dir;
    const std::string path = dir.File("life.avi");
    ASSERT_TRUE(WriteTinyAvi(path, 32, 24, 24, 2));
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_READ | OF_SHARE_DENY_NONE, nullptr), AVIERR_OK);
    PAVISTREAM stream = nullptr;
    ASSERT_EQ(AVIFileGetStream(file, &stream, streamtypeVIDEO, 0), AVIERR_OK);
    PAVISTREAM second = nullptr;
    EXPECT_NE(AVIFileGetStream(file, &second, streamtypeVIDEO, 1), AVIERR_OK);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(AVIFileRelease(file), 1); // the stream's reference is left
    PAVISTREAM view = nullptr;
    ASSERT_EQ(AVIMakeCompressedStream(&view, stream, nullptr, nullptr), AVIERR_OK);
    EXPECT_EQ(AVIStreamRelease(stream), 1); // the view's reference is left
    Frame frame(DibHeader(32, 24, 24).biSizeImage);
    ASSERT_EQ(
        AVIStreamRead(view, 1, 2, frame.data(), static_cast<LONG>(frame.size()), nullptr, nullptr),
        AVIERR_OK);
    EXPECT_EQ(frame, PatternFrame(32, 24, 24, 1));
    EXPECT_EQ(AVIStreamRelease(view), 0);
}

// Temporary files are deleted and rewritten under the same name while streams made from the
// old content still read it: those streams must go on reading their own file.
TEST_F(TinyFile, AStreamReadsItsOwnFileAfterThePathIsRewritten) {
    ASSERT_NE(WriteAndView(32, 24, 24, 40), nullptr);
    Frame frame(DibHeader(32, 24, 24).biSizeImage);
    ASSERT_EQ(Read(0, frame), AVIERR_OK);

    std::filesystem::remove(path);
    std::vector<Frame> other(10, Frame(frame.size(), 0x5A));
    ASSERT_TRUE(WriteAvi(path, VideoInfo(32, 24), DibHeader(32, 24, 24), other));
    for (LONG n : {39, 2, 25, 1, 30}) { // far apart: new read positions open late
        ASSERT_EQ(Read(n, frame), AVIERR_OK) << n;
        EXPECT_EQ(frame, PatternFrame(32, 24, 24, n)) << n;
    }
}

TEST_F(TinyFile, FailedReadsLeaveTheBufferAlone) {
    ASSERT_NE(WriteAndView(30, 20, 24, 3), nullptr);
    const LONG size = static_cast<LONG>(DibHeader(30, 20, 24).biSizeImage);
    Frame frame(static_cast<size_t>(size), 0xAB);
    const Frame untouched = frame;
    for (LONG at : {-1, 3, 1000}) {
        EXPECT_NE(AVIStreamRead(view, at, 1, frame.data(), size, nullptr, nullptr), AVIERR_OK);
        EXPECT_EQ(frame, untouched);
    }
    EXPECT_NE(AVIStreamRead(view, 0, 1, frame.data(), size - 1, nullptr, nullptr), AVIERR_OK);
    EXPECT_EQ(frame, untouched);
    LONG bytes = 0;
    EXPECT_EQ(AVIStreamRead(view, 0, 1, nullptr, 0, &bytes, nullptr), AVIERR_OK);
    EXPECT_EQ(bytes, size);
}

// Raw streams written by other tools: rows stored top-down, and empty chunks that repeat the
// previous frame. Written with libavformat's muxer directly.
bool WriteRawWithMuxer(const std::string& path, int width, int height,
                       const std::vector<std::pair<int64_t, Frame>>& chunks, bool topDown) {
    AVFormatContext* muxer = nullptr;
    if (avformat_alloc_output_context2(&muxer, nullptr, "avi", path.c_str()) < 0) return false;
    AVStream* st = avformat_new_stream(muxer, nullptr);
    st->time_base = AVRational{1, 25};
    st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    st->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
    st->codecpar->width = width;
    st->codecpar->height = height;
    st->codecpar->format = AV_PIX_FMT_BGR24;
    st->codecpar->bits_per_coded_sample = 24;
    AVDictionary* options = nullptr;
    if (!topDown) av_dict_set(&options, "flipped_raw_rgb", "1", 0);
    bool ok = avio_open(&muxer->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0 &&
              avformat_write_header(muxer, &options) >= 0;
    av_dict_free(&options);
    AVPacket* packet = av_packet_alloc();
    for (const auto& [ts, pixels] : chunks) {
        if (!ok) break;
        ok = av_new_packet(packet, static_cast<int>(pixels.size())) == 0;
        std::memcpy(packet->data, pixels.data(), pixels.size());
        packet->pts = packet->dts = ts;
        packet->flags |= AV_PKT_FLAG_KEY;
        ok = ok && av_write_frame(muxer, packet) >= 0;
        av_packet_unref(packet);
    }
    ok = ok && av_write_trailer(muxer) == 0;
    av_packet_free(&packet);
    avio_closep(&muxer->pb);
    avformat_free_context(muxer);
    return ok;
}

Frame Flipped(const Frame& frame, int rowBytes) {
    Frame out(frame.size());
    const size_t rows = frame.size() / rowBytes;
    for (size_t y = 0; y < rows; ++y)
        std::memcpy(&out[y * rowBytes], &frame[(rows - 1 - y) * rowBytes], rowBytes);
    return out;
}

// 8-bit frames with a colour table: 24-bit frames of the table's colours. The stored format
// (the file's stream) keeps the table after the header; 40 bytes offered get the header.
TEST(AviRead, PalettedFramesBecomeTwentyFourBit) {
    ScratchDir dir;
    const std::string path = dir.File("pal8.avi");
    const int width = 6, height = 3, row = 8;
    AVFormatContext* muxer = nullptr;
    ASSERT_GE(avformat_alloc_output_context2(&muxer, nullptr, "avi", path.c_str()), 0);
    AVStream* st = avformat_new_stream(muxer, nullptr);
    st->time_base = AVRational{1, 25};
    st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    st->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
    st->codecpar->width = width;
    st->codecpar->height = height;
    st->codecpar->format = AV_PIX_FMT_PAL8;
    st->codecpar->bits_per_coded_sample = 8;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "flipped_raw_rgb", "1", 0);
    ASSERT_GE(avio_open(&muxer->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
    ASSERT_GE(avformat_write_header(muxer, &options), 0);
    av_dict_free(&options);
    auto colour = [](int index) { return uint32_t(0xFF000000u | index * 0x010203u); };
    AVPacket* packet = av_packet_alloc();
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(av_new_packet(packet, row * height), 0);
        for (int b = 0; b < row * height; ++b)
            packet->data[b] = uint8_t(i * 10 + b % row);
        uint8_t* palette = av_packet_new_side_data(packet, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
        for (int c = 0; c < 256; ++c) {
            const uint32_t argb = colour(c);
            std::memcpy(palette + 4 * c, &argb, 4);
        }
        packet->pts = packet->dts = i;
        packet->flags |= AV_PKT_FLAG_KEY;
        ASSERT_GE(av_write_frame(muxer, packet), 0);
        av_packet_unref(packet);
    }
    av_write_trailer(muxer);
    av_packet_free(&packet);
    avio_closep(&muxer->pb);
    avformat_free_context(muxer);

    PAVISTREAM raw = nullptr;
    ASSERT_EQ(AVIStreamOpenFromFileA(&raw, path.c_str(), streamtypeVIDEO, 0, OF_READ, nullptr),
              AVIERR_OK);
    LONG storedSize = 0;
    ASSERT_EQ(AVIStreamReadFormat(raw, 0, nullptr, &storedSize), AVIERR_OK);
    EXPECT_GT(storedSize, 40);
    BITMAPINFOHEADER stored{};
    LONG offered = sizeof stored;
    ASSERT_EQ(AVIStreamReadFormat(raw, 0, &stored, &offered), AVIERR_OK);
    EXPECT_EQ(offered, 40);
    EXPECT_EQ(stored.biBitCount, 8);
    PAVISTREAM view = nullptr;
    ASSERT_EQ(AVIMakeCompressedStream(&view, raw, nullptr, nullptr), AVIERR_OK);
    AVIStreamRelease(raw);
    for (LONG i : {2, 0, 1}) {
        Frame frame(DibHeader(width, height, 24).biSizeImage);
        ASSERT_EQ(AVIStreamRead(view, i, i + 1, frame.data(), LONG(frame.size()), nullptr, nullptr),
                  AVIERR_OK);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const uint32_t argb = colour(i * 10 + (y * row + x) % row);
                const uint8_t* p = &frame[y * 20 + x * 3];
                EXPECT_EQ(p[0] | p[1] << 8 | p[2] << 16, int(argb & 0xFFFFFF))
                    << i << "," << x << "," << y;
            }
    }
    AVIStreamRelease(view);
}

TEST(AviRead, TopDownRowsAreFlipped) {
    ScratchDir dir;
    const std::string path = dir.File("topdown.avi");
    std::vector<std::pair<int64_t, Frame>> chunks;
    for (int i = 0; i < 3; ++i)
        chunks.emplace_back(i, Flipped(PatternFrame(32, 24, 24, i), 96));
    ASSERT_TRUE(WriteRawWithMuxer(path, 32, 24, chunks, true));
    PAVISTREAM view = OpenView(path);
    ASSERT_NE(view, nullptr);
    const auto frames = ReadAll(view, 32 * 24 * 3);
    ASSERT_EQ(frames.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(frames[i], PatternFrame(32, 24, 24, i));
    AVIStreamRelease(view);
}

TEST(AviRead, AnEmptyChunkRepeatsThePreviousFrame) {
    ScratchDir dir;
    const std::string path = dir.File("gaps.avi");
    // Timestamps 0 1 3 4 6: the muxer fills 2 and 5 with empty chunks.
    std::vector<std::pair<int64_t, Frame>> chunks;
    for (int ts : {0, 1, 3, 4, 6})
        chunks.emplace_back(ts, PatternFrame(32, 24, 24, ts));
    ASSERT_TRUE(WriteRawWithMuxer(path, 32, 24, chunks, false));
    const int expected[] = {0, 1, 1, 3, 4, 4, 6};
    for (bool random : {false, true}) {
        PAVISTREAM view = OpenView(path);
        ASSERT_NE(view, nullptr);
        ASSERT_EQ(AVIStreamLength(view), 7);
        Frame frame(32 * 24 * 3);
        for (int k = 0; k < 7; ++k) {
            const LONG i = random ? (k * 3) % 7 : k;
            ASSERT_EQ(AVIStreamRead(view, i, i + 1, frame.data(), static_cast<LONG>(frame.size()),
                                    nullptr, nullptr),
                      AVIERR_OK);
            EXPECT_EQ(frame, PatternFrame(32, 24, 24, expected[i])) << "frame " << i;
        }
        AVIStreamRelease(view);
    }
}

} // namespace
