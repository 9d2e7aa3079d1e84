// Audio streams: reading the first audio stream of files the ffmpeg command line makes, by
// sample; editable streams over audio; PCM files written and converted by the platform.
// Every PCM fixture carries its own sample index (left: low 16 bits, right: high bits), so a
// read shows exactly which samples came back.
#include "avi_fixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace fixtures;

namespace {

struct ReleaseStream {
    void operator()(PAVISTREAM stream) const { AVIStreamRelease(stream); }
};
using Stream = std::unique_ptr<AviStream, ReleaseStream>;
using Samples = std::vector<int16_t>;

Stream OpenAudio(const std::string& path, HRESULT* result = nullptr) {
    PAVISTREAM stream = nullptr;
    const HRESULT opened =
        AVIStreamOpenFromFileA(&stream, path.c_str(), streamtypeAUDIO, 0, OF_READ, nullptr);
    if (result) *result = opened;
    return Stream(stream);
}

WAVEFORMATEX FormatOf(PAVISTREAM stream) {
    WAVEFORMATEX format{};
    LONG size = sizeof format;
    EXPECT_EQ(AVIStreamReadFormat(stream, 0, &format, &size), AVIERR_OK);
    return format;
}

// `count` samples from `start` through AVIStreamRead; fewer at the end.
Samples Read(PAVISTREAM stream, LONG start, LONG count) {
    const int channels = FormatOf(stream).nChannels;
    Samples out(size_t(count) * channels);
    LONG bytes = 0, got = 0;
    EXPECT_EQ(AVIStreamRead(stream, start, count, out.data(), LONG(out.size() * 2), &bytes, &got),
              AVIERR_OK);
    EXPECT_EQ(bytes, got * channels * 2);
    out.resize(size_t(got) * channels);
    return out;
}

// The stereo samples a fixture holds from `start`: each the index of itself.
Samples Indexed(int64_t start, int64_t count) {
    Samples out;
    for (int64_t i = start; i < start + count; ++i) {
        out.push_back(static_cast<int16_t>(i & 0xFFFF));
        out.push_back(static_cast<int16_t>(i >> 16));
    }
    return out;
}

bool Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Replaces the first occurrence of `from` in the file's bytes (a header field) by `to`.
bool PatchBytes(const std::string& path, const std::string& from, const std::string& to) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), {});
    const size_t at = bytes.find(from);
    if (at == std::string::npos) return false;
    file.clear();
    file.seekp(std::streamoff(at));
    file.write(to.data(), std::streamsize(to.size()));
    return bool(file);
}

// The files every test reads, made once with the ffmpeg command line.
class AudioFiles : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir = new ScratchDir;
        const std::string raw = File("index.raw");
        const Samples indexed = Indexed(0, 3 * 48000);
        std::ofstream(raw, std::ios::binary)
            .write(reinterpret_cast<const char*>(indexed.data()),
                   std::streamsize(indexed.size() * 2));
        const std::string ff = "ffmpeg -v error -y ";
        const std::string tinyVideo = " -c:v rawvideo -pix_fmt bgr24 ";
        const std::string pcm = " -c:a pcm_s16le ";
        made = Shell(ff + "-f lavfi -i testsrc=size=32x24:rate=25 -f s16le -ar 48000 -ac 2 -i " +
                     raw + " -t 2" + tinyVideo + pcm + File("48k.avi")) &&
               Shell(ff +
                     "-f lavfi -i testsrc=size=32x24:rate=30000/1001 -f s16le -ar 44100 -ac 2 -i " +
                     raw + " -t 2" + tinyVideo + pcm + File("44k.avi")) &&
               Shell(ff + "-f s16le -ar 48000 -ac 2 -i " + raw + " -t 1" + pcm + File("48k.wav")) &&
               Shell(ff + "-f lavfi -i testsrc=size=32x24:rate=25 -f s16le -ar 48000 -ac 2 -i " +
                     raw + " -f lavfi -i sine=sample_rate=22050 -map 0:v -map 1:a -map 2:a -t 1" +
                     tinyVideo + pcm + File("two.avi")) &&
               Shell(ff +
                     "-f lavfi -i testsrc=size=32x24:rate=25 -f lavfi -i "
                     "sine=frequency=440:sample_rate=48000 -t 1 -c:v mpeg4 -c:a aac " +
                     File("aac.mp4")) &&
               Shell(ff + "-f lavfi -i testsrc=size=32x24:rate=25 -t 1" + tinyVideo +
                     File("silent.avi")) &&
               Shell(ff + "-f lavfi -i 'aevalsrc=0|0|0|0|0|0|0|0|0|0:s=8000:d=0.1'" + pcm +
                     File("ten.wav")) &&
               Shell(ff + "-f lavfi -i sine=frequency=1000:sample_rate=44100 -t 1 -ac 1" + pcm +
                     File("mono.wav")) &&
               std::filesystem::copy_file(File("two.avi"), File("broken.avi")) &&
               // The first audio stream's wave format tag (PCM, 2 channels, 48000 Hz) becomes
               // one no decoder knows.
               PatchBytes(File("broken.avi"), std::string("\x01\x00\x02\x00\x80\xBB\x00\x00", 8),
                          std::string("\x42\x42", 2));
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(made) << "the ffmpeg command line made no fixtures"; }
    static std::string File(const std::string& name) { return dir->File(name); }

    static inline ScratchDir* dir = nullptr;
    static inline bool made = false;
};

struct PcmCase {
    const char* file;
    DWORD rate;
    LONG length;
};

class PcmFiles : public AudioFiles, public testing::WithParamInterface<PcmCase> {};

// Random reads land exactly on their samples, reading on gives the same, and the end is exact.
TEST_P(PcmFiles, ReadsAreExactToTheSample) {
    const PcmCase& c = GetParam();
    Stream audio = OpenAudio(File(c.file));
    ASSERT_NE(audio, nullptr);
    const WAVEFORMATEX format = FormatOf(audio.get());
    EXPECT_EQ(format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(format.nChannels, 2);
    EXPECT_EQ(format.nSamplesPerSec, c.rate);
    EXPECT_EQ(format.nBlockAlign, 4);
    EXPECT_EQ(format.wBitsPerSample, 16);
    AVISTREAMINFOA info{};
    ASSERT_EQ(AVIStreamInfoA(audio.get(), &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.fccType, streamtypeAUDIO);
    EXPECT_EQ(info.dwSampleSize, 4u);
    EXPECT_EQ(info.dwRate, c.rate * 4);
    EXPECT_EQ(info.dwScale, 4u);
    EXPECT_EQ(info.dwLength, DWORD(c.length));
    ASSERT_EQ(AVIStreamLength(audio.get()), c.length);

    const LONG end = c.length;
    const std::pair<LONG, LONG> reads[] = {{end / 2, 700}, {5, 1},    {1919, 3},
                                           {end - 10, 10}, {0, 2500}, {end / 3, 4000},
                                           {end - 3, 50}};
    for (const auto& [start, count] : reads)
        EXPECT_EQ(Read(audio.get(), start, count), Indexed(start, std::min(count, end - start)))
            << "at " << start;
    Samples sequential;
    for (LONG at = 0; at < end; at += 1234) {
        const Samples part = Read(audio.get(), at, 1234);
        sequential.insert(sequential.end(), part.begin(), part.end());
    }
    EXPECT_EQ(sequential, Indexed(0, end));
    LONG bytes = 0, got = 0;
    EXPECT_EQ(AVIStreamRead(audio.get(), 10, 100, nullptr, 0, &bytes, &got), AVIERR_OK);
    EXPECT_EQ(bytes, 400);
    EXPECT_EQ(AVIStreamRead(audio.get(), end + 1, 1, sequential.data(), 4, &bytes, &got),
              AVIERR_ERROR);
}

INSTANTIATE_TEST_SUITE_P(Audio, PcmFiles,
                         testing::Values(PcmCase{"48k.avi", 48000, 96000},
                                         PcmCase{"44k.avi", 44100, 88200},
                                         PcmCase{"48k.wav", 48000, 48000},
                                         PcmCase{"two.avi", 48000, 48000}));

// AAC: the stored length, and a random read gives what reading from the start gives there
// (give or take the decoder's rounding).
TEST_F(AudioFiles, CompressedRandomReadsMatchReadingOn) {
    Stream audio = OpenAudio(File("aac.mp4"));
    ASSERT_NE(audio, nullptr);
    EXPECT_EQ(FormatOf(audio.get()).nSamplesPerSec, 48000u);
    EXPECT_EQ(FormatOf(audio.get()).nChannels, 1);
    const LONG length = AVIStreamLength(audio.get());
    EXPECT_NEAR(length, 48000, 1);
    const Samples whole = Read(audio.get(), 0, length);
    ASSERT_EQ(whole.size(), size_t(length));
    double energy = 0;
    for (int16_t v : whole)
        energy += double(v) * v;
    EXPECT_GT(std::sqrt(energy / length), 1000.0); // a sine, not silence
    for (LONG start : {30000, 7000, 20000, 45000}) {
        const Samples part = Read(audio.get(), start, 100);
        ASSERT_EQ(part.size(), 100u);
        for (size_t i = 0; i < part.size(); ++i)
            ASSERT_NEAR(part[i], whole[start + i], 1) << "at " << start + i;
    }
}

struct OpenCase {
    const char* file;
    HRESULT audio;
    bool video; // the file's video still opens
};

class OpenResults : public AudioFiles, public testing::WithParamInterface<OpenCase> {};

TEST_P(OpenResults, AudioOpensOrSaysWhyNot) {
    const OpenCase& c = GetParam();
    PAVIFILE file = nullptr;
    ASSERT_EQ(AVIFileOpenA(&file, File(c.file).c_str(), OF_READ, nullptr), AVIERR_OK);
    PAVISTREAM audio = nullptr;
    EXPECT_EQ(AVIFileGetStream(file, &audio, streamtypeAUDIO, 0), c.audio);
    EXPECT_EQ(audio == nullptr, c.audio != AVIERR_OK);
    PAVISTREAM video = nullptr;
    EXPECT_EQ(AVIFileGetStream(file, &video, streamtypeVIDEO, 0) == AVIERR_OK, c.video);
    AVIStreamRelease(video);
    AVIStreamRelease(audio);
    AVIFileRelease(file);
    HRESULT result = AVIERR_OK;
    EXPECT_EQ(OpenAudio(File(c.file), &result) != nullptr, c.audio == AVIERR_OK);
    EXPECT_EQ(result, c.audio);
}

INSTANTIATE_TEST_SUITE_P(Audio, OpenResults,
                         testing::Values(OpenCase{"48k.avi", AVIERR_OK, true},
                                         OpenCase{"silent.avi", AVIERR_NODATA, true},
                                         OpenCase{"broken.avi", AVIERR_BADFORMAT, true},
                                         OpenCase{"ten.wav", AVIERR_BADFORMAT, false}));

// Cut, copy and paste in samples; one read runs across pieces; only equal audio pastes.
TEST_F(AudioFiles, EditableStreamsEditSamples) {
    Stream source = OpenAudio(File("48k.avi"));
    ASSERT_NE(source, nullptr);
    PAVISTREAM raw = nullptr;
    ASSERT_EQ(CreateEditableStream(&raw, source.get()), AVIERR_OK);
    Stream edit(raw);
    LONG start = 1000, length = 500;
    ASSERT_EQ(EditStreamCut(edit.get(), &start, &length, &raw), AVIERR_OK);
    Stream cut(raw);
    EXPECT_EQ(Read(cut.get(), 0, 1000), Indexed(1000, 500));
    LONG position = 10;
    ASSERT_EQ(EditStreamPaste(edit.get(), &position, &length, cut.get(), 100, 200), AVIERR_OK);
    EXPECT_EQ(EditStreamGetPieces(edit.get(), nullptr, 0), 4);
    EXPECT_EQ(AVIStreamLength(edit.get()), 96000 - 500 + 200);

    Samples expected = Indexed(0, 10);
    for (const Samples& part : {Indexed(1100, 200), Indexed(10, 990), Indexed(1500, 300)})
        expected.insert(expected.end(), part.begin(), part.end());
    EXPECT_EQ(Read(edit.get(), 0, 1500), expected);
    AVISTREAMINFOA info{};
    ASSERT_EQ(AVIStreamInfoA(edit.get(), &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.fccType, streamtypeAUDIO);
    EXPECT_EQ(info.dwLength, DWORD(96000 - 300));

    Stream other = OpenAudio(File("44k.avi"));
    PAVISTREAM video = nullptr;
    ASSERT_EQ(AVIStreamOpenFromFileA(&video, File("48k.avi").c_str(), streamtypeVIDEO, 0, OF_READ,
                                     nullptr),
              AVIERR_OK);
    Stream frames(video);
    for (PAVISTREAM refused : {other.get(), frames.get()}) {
        position = 0;
        EXPECT_EQ(EditStreamPaste(edit.get(), &position, &length, refused, 0, 10), AVIERR_ERROR);
    }
    EXPECT_EQ(AVIStreamLength(edit.get()), 96000 - 300);
}

struct WriteCase {
    int rate;
    int channels;
};

class PcmWrite : public AudioFiles, public testing::WithParamInterface<WriteCase> {};

// What is written in several pieces reads back exactly, with its format and length.
TEST_P(PcmWrite, ReadsBackBitExact) {
    const WriteCase& c = GetParam();
    const std::string path = File("written.avi");
    WAVEFORMATEX format{WAVE_FORMAT_PCM,
                        WORD(c.channels),
                        DWORD(c.rate),
                        DWORD(c.rate * c.channels * 2),
                        WORD(c.channels * 2),
                        16,
                        0};
    std::mt19937 random(c.rate + c.channels);
    Samples written(size_t(c.rate) * c.channels);
    for (int16_t& v : written)
        v = static_cast<int16_t>(random());
    {
        PAVIFILE file = nullptr;
        ASSERT_EQ(AVIFileOpenA(&file, path.c_str(), OF_WRITE | OF_CREATE, nullptr), AVIERR_OK);
        AVISTREAMINFOA info{};
        info.fccType = streamtypeAUDIO;
        info.dwScale = format.nBlockAlign;
        info.dwRate = format.nAvgBytesPerSec;
        info.dwSampleSize = format.nBlockAlign;
        PAVISTREAM stream = nullptr;
        ASSERT_EQ(AVIFileCreateStreamA(file, &stream, &info), AVIERR_OK);
        AVIFileRelease(file);
        Stream out(stream);
        ASSERT_EQ(AVIStreamSetFormat(stream, 0, &format, sizeof format), AVIERR_OK);
        LONG at = 0;
        for (LONG part : {1, 999, c.rate - 1000}) {
            EXPECT_EQ(AVIStreamWrite(stream, at, part, written.data() + size_t(at) * c.channels,
                                     part * format.nBlockAlign, 0, nullptr, nullptr),
                      AVIERR_OK);
            at += part;
        }
        EXPECT_EQ(
            AVIStreamWrite(stream, 0, 1, written.data(), format.nBlockAlign, 0, nullptr, nullptr),
            AVIERR_ERROR); // not at the end
    }
    Stream back = OpenAudio(path);
    ASSERT_NE(back, nullptr);
    const WAVEFORMATEX read = FormatOf(back.get());
    EXPECT_EQ(std::memcmp(&read, &format, sizeof format), 0);
    EXPECT_EQ(AVIStreamLength(back.get()), c.rate);
    EXPECT_EQ(Read(back.get(), 0, c.rate), written);
}

INSTANTIATE_TEST_SUITE_P(Audio, PcmWrite,
                         testing::Values(WriteCase{48000, 2}, WriteCase{22050, 1},
                                         WriteCase{44100, 6}));

// 44.1 kHz mono to 48 kHz stereo: a second stays a second, the tone stays the tone in both
// channels.
TEST_F(AudioFiles, ConversionChangesRateAndChannels) {
    Stream mono = OpenAudio(File("mono.wav"));
    ASSERT_NE(mono, nullptr);
    ASSERT_EQ(AVIStreamLength(mono.get()), 44100);
    const std::string path = File("converted.avi");
    const WAVEFORMATEX target{WAVE_FORMAT_PCM, 2, 48000, 48000 * 4, 4, 16, 0};
    LONG written = 0;
    ASSERT_EQ(AVIConvertAudioToFileA(path.c_str(), mono.get(), 0, 44100, &target, &written),
              AVIERR_OK);
    EXPECT_NEAR(written, 48000, 1);
    Stream stereo = OpenAudio(path);
    ASSERT_NE(stereo, nullptr);
    EXPECT_EQ(FormatOf(stereo.get()).nChannels, 2);
    EXPECT_EQ(AVIStreamLength(stereo.get()), written);
    const Samples in = Read(mono.get(), 0, 44100);
    const Samples out = Read(stereo.get(), 0, written);
    auto rms = [](const Samples& s, size_t step) {
        double sum = 0;
        for (size_t i = 0; i < s.size(); i += step)
            sum += double(s[i]) * s[i];
        return std::sqrt(sum / double(s.size() / step));
    };
    int crossings = 0, unequal = 0;
    for (size_t i = 0; i + 2 < out.size(); i += 2) {
        crossings += (out[i] < 0) != (out[i + 2] < 0);
        unequal += out[i] != out[i + 1];
    }
    EXPECT_EQ(unequal, 0);
    EXPECT_NEAR(crossings, 2000, 20); // 1 kHz for a second
    EXPECT_GT(rms(out, 2), 0.5 * rms(in, 1));

    const WAVEFORMATEX tooWide{WAVE_FORMAT_PCM, 9, 48000, 48000 * 18, 18, 16, 0};
    EXPECT_EQ(
        AVIConvertAudioToFileA(File("wide.avi").c_str(), mono.get(), 0, 100, &tooWide, &written),
        AVIERR_BADFORMAT);
    EXPECT_FALSE(std::filesystem::exists(File("wide.avi")));
}

} // namespace
