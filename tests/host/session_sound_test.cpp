// A slot's sound goes with its frames through every edit, Undo and the save: each sample of the
// saved file is checked against a model of where the edits put it. The clips are made with the
// ffmpeg command line; every sample of their sound carries its own index.
#include "crossfade_render.h"
#include "render.h"
#include "session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int64_t kSilence = -1;

// Sample i of a clip: the left channel holds its low 14 bits plus one (never 0, which silence
// is), the right one the rest.
void SampleOf(int64_t i, int16_t pair[2]) {
    pair[0] = int16_t((i & 0x3FFF) + 1);
    pair[1] = int16_t(i >> 14);
}
int64_t IndexOf(int16_t left, int16_t right) {
    if (left == 0 && right == 0) return kSilence;
    return int64_t(left - 1) | (int64_t(right) << 14);
}

bool Shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

struct Timing {
    const char* name;
    const char* frameRate; // for ffmpeg
    int64_t rateNum, rateDen;
    int sampleRate;
    int frames;
};
void PrintTo(const Timing& t, std::ostream* out) {
    *out << t.name;
}

// Where the edits put each sample: frame k's sound starts at floor(k * sampleRate / fps).
struct Model {
    std::vector<int64_t> samples;
    int64_t num, den; // samples per frame

    int64_t First(int64_t frame) const {
        return std::min<int64_t>(frame * num / den, int64_t(samples.size()));
    }
    std::vector<int64_t> Take(int64_t first, int64_t count, bool remove) {
        const auto from = samples.begin() + First(first),
                   to = samples.begin() + First(first + count);
        std::vector<int64_t> taken(from, to);
        if (remove) samples.erase(from, to);
        return taken;
    }
    void Insert(int64_t frame, const std::vector<int64_t>& material) {
        samples.insert(samples.begin() + First(frame), material.begin(), material.end());
    }
    void Reverse(int64_t first, int64_t last) {
        std::reverse(samples.begin() + First(first), samples.begin() + First(last + 1));
    }
};

class SessionSound : public testing::TestWithParam<Timing> {
  protected:
    void SetUp() override {
        previous = fs::current_path();
        folder = fs::temp_directory_path() / ("mivra-sound-" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        fs::current_path(folder);
        ASSERT_TRUE(session::Start().done);
    }
    void TearDown() override {
        session::End();
        fs::current_path(previous);
        fs::remove_all(folder);
    }

    // A clip of t's timing, with sound as long as its frames or without.
    std::string MakeClip(const std::string& name, const Timing& t, bool withSound,
                         int64_t firstIndex = 0) {
        const std::string path = (folder / name).string();
        std::string inputs = "-f lavfi -i color=c=gray:s=32x24:r=" + std::string(t.frameRate);
        if (withSound) {
            const std::string raw = (folder / (name + ".pcm")).string();
            const int64_t count = int64_t(t.frames) * t.sampleRate * t.rateDen / t.rateNum;
            std::ofstream out(raw, std::ios::binary);
            for (int64_t i = 0; i < count; ++i) {
                int16_t pair[2];
                SampleOf(firstIndex + i, pair);
                out.write(reinterpret_cast<const char*>(pair), sizeof pair);
            }
            inputs += " -f s16le -ar " + std::to_string(t.sampleRate) + " -ac 2 -i " + raw;
        }
        EXPECT_TRUE(Shell("ffmpeg -v error -y " + inputs + " -frames:v " +
                          std::to_string(t.frames) +
                          " -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le " + path));
        return path;
    }

    // The sound of the saved file as the sample indices it carries.
    std::vector<int64_t> SavedSound(const fs::path& file) {
        const std::string raw = (folder / "saved.pcm").string();
        EXPECT_TRUE(Shell("ffmpeg -v error -y -i " + file.string() +
                          " -map 0:a -f s16le -c:a pcm_s16le " + raw));
        std::ifstream in(raw, std::ios::binary);
        std::vector<int64_t> samples;
        int16_t pair[2];
        while (in.read(reinterpret_cast<char*>(pair), sizeof pair))
            samples.push_back(IndexOf(pair[0], pair[1]));
        return samples;
    }

    fs::path previous, folder;
};

TEST_P(SessionSound, EditsMoveEverySampleWithItsFrames) {
    const Timing& t = GetParam();
    ASSERT_TRUE(session::OpenVideo(MakeClip("a.avi", t, true).c_str()).done);
    ASSERT_TRUE(session::OpenVideo(MakeClip("b.avi", t, false).c_str()).done);
    ASSERT_TRUE(session::SwitchSlot(0).done);
    ASSERT_NE(session::SoundOf(0).stream, nullptr);
    EXPECT_EQ(session::SoundOf(1).stream, nullptr);
    EXPECT_EQ(session::SoundOf(0).format.nSamplesPerSec, DWORD(t.sampleRate));

    Model model{{}, int64_t(t.sampleRate) * t.rateDen, t.rateNum};
    for (int64_t i = 0; i < AVIStreamLength(session::SoundOf(0).stream); ++i)
        model.samples.push_back(i);

    session::SetRange(10, 21); // cut frames 10 .. 20
    ASSERT_TRUE(session::Cut().done);
    std::vector<int64_t> clipboard = model.Take(10, 11, true);
    session::SetRange(40, 41);
    ASSERT_TRUE(session::Paste().done);
    model.Insert(40, clipboard);
    session::SetRange(5, 15); // frames 5 .. 15 backwards
    ASSERT_TRUE(session::Reverse().done);
    model.Reverse(5, 15);

    // Frames without sound bring their time in silence.
    ASSERT_TRUE(session::SwitchSlot(1).done);
    session::SetRange(0, 7);
    ASSERT_TRUE(session::Copy().done);
    ASSERT_TRUE(session::SwitchSlot(0).done);
    session::SetRange(3, 4);
    ASSERT_TRUE(session::Paste().done);
    model.Insert(3, std::vector<int64_t>(size_t(model.First(3 + 7) - model.First(3)), kSilence));

    // Undo and Redo bring the sound back with the frames.
    ASSERT_TRUE(session::Undo().done);
    ASSERT_TRUE(session::Redo().done);
    EXPECT_EQ(session::FirstSampleOfFrame(0, 50), model.First(50));

    // Twice the frame rate: every frame keeps its samples, played twice as fast.
    ASSERT_TRUE(session::SetRate(50).done);
    const auto playing = DWORD(std::llround(double(t.sampleRate) * t.rateDen * 50 / t.rateNum));
    EXPECT_EQ(session::SoundOf(0).format.nSamplesPerSec, playing);

    AVICOMPRESSOPTIONS options{};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
    const fs::path saved = folder / "saved.avi";
    ASSERT_TRUE(session::Save(saved, options, nullptr).done);
    EXPECT_EQ(SavedSound(saved), model.samples);
    const std::string rate = (folder / "rate.txt").string();
    ASSERT_TRUE(Shell("ffprobe -v error -select_streams a -show_entries stream=sample_rate -of "
                      "csv=p=0 " +
                      saved.string() + " > " + rate));
    std::ifstream in(rate);
    DWORD saidRate = 0;
    in >> saidRate;
    EXPECT_EQ(saidRate, playing);
}

// A 25 fps clip with 1920 samples to a frame: the frames of the cross-fade's range mix the two
// sounds by the weights of their pictures, and the frames inserted after it bring their own.
using CrossFadeSound = SessionSound;

TEST_P(CrossFadeSound, MixesTheSoundsAsThePictures) {
    const Timing& t = GetParam();
    ASSERT_TRUE(session::OpenVideo(MakeClip("a.avi", t, true).c_str()).done);
    ASSERT_TRUE(session::OpenVideo(MakeClip("b.avi", t, true, 500'000).c_str()).done);
    ASSERT_TRUE(session::SwitchSlot(0).done);

    crossfade::CrossfadeParams params;
    params.source = workspace.currentStream;
    params.sourceFormat = *workspace.frameFormat;
    params.sourceFrames = t.frames;
    params.rangeStart = 20;
    params.rangeEnd = 29;
    params.destination = workspace.slotStreams[1];
    params.destinationFormat = *workspace.frameFormat;
    params.destinationFrames = t.frames;
    params.destinationStart = 0;
    params.destinationEnd = 9;
    params.insertOverStream = true;
    // The muxer may end a clip's sound a little before its last frame.
    const LONG soundOfA = AVIStreamLength(session::SoundOf(0).stream);
    const LONG soundOfB = AVIStreamLength(session::SoundOf(1).stream);
    ASSERT_TRUE(session::ApplyEffect([&](EditWorkspace* ws) {
                    crossfade::CrossfadeRenderer renderer(params);
                    return plugin::RenderIntoSlot(*ws, renderer, {}).state ==
                           plugin::RenderOutcome::State::Rendered;
                }).done);

    const int64_t perFrame = t.sampleRate * t.rateDen / t.rateNum;
    const int range = params.rangeEnd - params.rangeStart;
    std::vector<int16_t> expected;
    const auto append = [&](int64_t first, int64_t frames) {
        for (int64_t i = first * perFrame;
             i < std::min<int64_t>((first + frames) * perFrame, soundOfA); ++i) {
            int16_t pair[2];
            SampleOf(i, pair);
            expected.insert(expected.end(), pair, pair + 2);
        }
    };
    append(0, params.rangeStart);
    for (int k = 0; k <= range; ++k) {
        // The picture's weight: one step a frame from the first frame of the range on.
        const double share = std::min(k + 1, range) / double(range);
        for (int64_t i = 0; i < perFrame; ++i) {
            int16_t mine[2], theirs[2];
            SampleOf((params.rangeStart + k) * perFrame + i, mine);
            SampleOf(500'000 + k * perFrame + i, theirs);
            for (int c = 0; c < 2; ++c)
                expected.push_back(int16_t(std::lround(mine[c] * (1 - share) + theirs[c] * share)));
        }
    }
    append(params.rangeEnd + 1, t.frames - params.rangeEnd - 1);
    const int64_t inserted = expected.size();
    for (int64_t i = (params.destinationEnd + 1) * perFrame; i < soundOfB; ++i) {
        int16_t pair[2];
        SampleOf(500'000 + i, pair);
        expected.insert(expected.end(), pair, pair + 2);
    }

    const session::SlotSound sound = session::SoundOf(0);
    ASSERT_NE(sound.stream, nullptr);
    std::vector<int16_t> heard(size_t(AVIStreamLength(sound.stream)) * 2);
    LONG bytes = 0, read = 0;
    ASSERT_EQ(AVIStreamRead(sound.stream, 0, LONG(heard.size() / 2), heard.data(),
                            LONG(heard.size() * 2), &bytes, &read),
              AVIERR_OK);
    ASSERT_EQ(heard.size(), expected.size()) << "inserted sound from sample " << inserted / 2;
    size_t wrong = 0;
    for (size_t i = 0; i < heard.size(); ++i)
        wrong += std::abs(heard[i] - expected[i]) > 1; // the weight's last bit may round apart
    EXPECT_EQ(wrong, 0u);
}

// Frames of another rate take this slot's frame time, and their sound is stretched to it: the
// sound after them stays with its frames.
using SoundOfAnotherRate = SessionSound;

TEST_P(SoundOfAnotherRate, IsStretchedToThePastedFrames) {
    const Timing& t = GetParam();
    const Timing faster{"Faster", "30", 30, 1, 48000, 30};
    ASSERT_TRUE(session::OpenVideo(MakeClip("a.avi", t, true).c_str()).done);
    ASSERT_TRUE(session::OpenVideo(MakeClip("c.avi", faster, true, 500'000).c_str()).done);
    session::SetRange(0, 6);
    ASSERT_TRUE(session::Copy().done);
    ASSERT_TRUE(session::SwitchSlot(0).done);
    const LONG before = AVIStreamLength(session::SoundOf(0).stream);
    session::SetRange(10, 11);
    ASSERT_TRUE(session::Paste().done);

    Model model{{}, int64_t(t.sampleRate) * t.rateDen, t.rateNum};
    for (int64_t i = 0; i < before; ++i)
        model.samples.push_back(i);
    const int64_t pasted = model.First(16) - model.First(10);
    EXPECT_EQ(AVIStreamLength(session::SoundOf(0).stream), before + pasted);
    const session::SlotSound sound = session::SoundOf(0);
    const auto count = LONG(before - model.First(10));
    std::vector<int16_t> after(size_t(count) * 2);
    ASSERT_EQ(AVIStreamRead(sound.stream, LONG(model.First(16)), count, after.data(),
                            LONG(after.size() * 2), nullptr, nullptr),
              AVIERR_OK);
    for (LONG i = 0; i < count; i += 997)
        ASSERT_EQ(IndexOf(after[size_t(i) * 2], after[size_t(i) * 2 + 1]), model.First(10) + i)
            << "sample " << i << " after the pasted frames";
}

// A file's first sound track opens with its frames; a sound that cannot be read leaves the
// frames open and says so once.
using OpeningSound = SessionSound;

TEST_P(OpeningSound, TakesTheFirstTrackOrTellsWhyThereIsNone) {
    const std::string tiny = "-f lavfi -i color=c=gray:s=32x24:r=25 -frames:v 10 -c:v rawvideo ";
    const std::string tone = "-f lavfi -i sine=sample_rate=48000:duration=1 ";
    const std::string low = "-f lavfi -i sine=sample_rate=22050:duration=1 ";
    ASSERT_TRUE(Shell("ffmpeg -v error -y " + tiny + "silent.avi"));
    ASSERT_TRUE(Shell("ffmpeg -v error -y -f lavfi -i color=c=gray:s=32x24:r=25 " + tone + low +
                      "-map 0 -map 1 -map 2 -frames:v 10 -c:v rawvideo -c:a pcm_s16le two.avi"));
    fs::copy_file("two.avi", "broken.avi");
    {
        // The first track's wave format tag (PCM, 1 channel, 48000 Hz) becomes one no decoder
        // knows.
        std::fstream file("broken.avi", std::ios::in | std::ios::out | std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), {});
        const size_t at = bytes.find(std::string("\x01\x00\x01\x00\x80\xBB\x00\x00", 8));
        ASSERT_NE(at, std::string::npos);
        file.seekp(std::streamoff(at));
        file.write("\x42\x42", 2);
    }
    const struct {
        const char* file;
        DWORD rate; // 0: no sound
        const char* message;
    } cases[] = {
        {"silent.avi", 0, ""},
        {"two.avi", 48000, ""},
        {"broken.avi", 0, "音声を読み込めなかったので、映像だけを開きました。"},
    };
    for (int slot = 0; slot < 3; ++slot) {
        SCOPED_TRACE(cases[slot].file);
        const Outcome opened = session::OpenVideo(cases[slot].file);
        EXPECT_TRUE(opened.done);
        EXPECT_EQ(opened.message, cases[slot].message);
        EXPECT_EQ(AVIStreamLength(workspace.slotStreams[slot]), 10);
        const session::SlotSound sound = session::SoundOf(slot);
        EXPECT_EQ(sound.stream ? sound.format.nSamplesPerSec : 0, cases[slot].rate);
    }
}

// How strongly the tone of `hertz` sounds in the left channel of frames [first, first + 1) of
// the slot's sound (25 fps, 48 kHz: 1920 samples a frame).
double Tone(int slot, int frame, double hertz) {
    const session::SlotSound sound = session::SoundOf(slot);
    const int channels = sound.format.nChannels;
    std::vector<int16_t> samples(size_t(1920) * channels);
    if (AVIStreamRead(sound.stream, frame * 1920, 1920, samples.data(), LONG(samples.size() * 2),
                      nullptr, nullptr) != AVIERR_OK)
        return -1;
    double re = 0, im = 0;
    for (int i = 0; i < 1920; ++i) {
        const double phase = 2 * M_PI * hertz * i / 48000;
        re += samples[size_t(i) * channels] * std::cos(phase);
        im += samples[size_t(i) * channels] * std::sin(phase);
    }
    return 2 * std::hypot(re, im) / 1920;
}

// A mono sound cross-faded into a stereo one is converted, then mixed: one tone fades out as
// the other fades in.
TEST_P(CrossFadeSound, MixesASoundOfAnotherChannelCount) {
    const auto make = [](const char* name, int hertz, int channels) {
        return Shell("ffmpeg -v error -y -f lavfi -i color=c=gray:s=32x24:r=25 -f lavfi -i "
                     "sine=frequency=" +
                     std::to_string(hertz) + ":sample_rate=48000 -frames:v 50 -c:v rawvideo -ac " +
                     std::to_string(channels) + " -c:a pcm_s16le " + name);
    };
    ASSERT_TRUE(make("a.avi", 400, 2));
    ASSERT_TRUE(make("b.avi", 1000, 1));
    ASSERT_TRUE(session::OpenVideo("a.avi").done);
    ASSERT_TRUE(session::OpenVideo("b.avi").done);
    ASSERT_TRUE(session::SwitchSlot(0).done);
    crossfade::CrossfadeParams params;
    params.source = workspace.currentStream;
    params.sourceFormat = *workspace.frameFormat;
    params.sourceFrames = 50;
    params.rangeStart = 20;
    params.rangeEnd = 29;
    params.destination = workspace.slotStreams[1];
    params.destinationFormat = *workspace.frameFormat;
    params.destinationFrames = 50;
    params.destinationStart = 0;
    params.destinationEnd = 9;
    ASSERT_TRUE(session::ApplyEffect([&](EditWorkspace* ws) {
                    crossfade::CrossfadeRenderer renderer(params);
                    return plugin::RenderIntoSlot(*ws, renderer, {}).state ==
                           plugin::RenderOutcome::State::Rendered;
                }).done);

    EXPECT_LT(Tone(0, 10, 1000), 100);
    EXPECT_GT(Tone(0, 21, 400), 3 * Tone(0, 21, 1000));
    EXPECT_GT(Tone(0, 28, 1000), 3 * Tone(0, 28, 400));
    EXPECT_LT(Tone(0, 40, 1000), 100);
}

constexpr Timing kPal{"Pal", "25", 25, 1, 48000, 100};
constexpr Timing kNtsc{"Ntsc", "30000/1001", 30000, 1001, 44100, 120};

INSTANTIATE_TEST_SUITE_P(Timings, SessionSound, testing::Values(kPal, kNtsc),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Timings, SoundOfAnotherRate, testing::Values(kPal, kNtsc),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Files, OpeningSound, testing::Values(kPal),
                         [](const auto& info) { return std::string(info.param.name); });
// Whole samples to a frame keep the model of the mix simple.
INSTANTIATE_TEST_SUITE_P(Timings, CrossFadeSound, testing::Values(kPal),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
