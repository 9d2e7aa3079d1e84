// Saving through AVISaveVA with every compressor the options dialog offers, and the options
// dialog driven through its controls.
#include "avi_fixtures.h"
#include "fake_audio_stream.h"

#include "ui/ui.h"
#include "ui/ui_script.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr int kFrames = 12;
constexpr DWORD kRate = 30000;
constexpr DWORD kScale = 1001;

DWORD Fourcc(const std::string& text) {
    return mmioFOURCC(text[0], text[1], text[2], text[3]);
}

// What a command prints on its standard output.
std::string Output(const std::string& command) {
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::array<char, 4096> chunk{};
    size_t read = 0;
    while (pipe && (read = fread(chunk.data(), 1, chunk.size(), pipe.get())) > 0)
        output.append(chunk.data(), read);
    return output;
}

// The stream's properties as ffprobe reads them, key=value per line.
std::map<std::string, std::string> Probe(const std::string& path) {
    std::istringstream lines(
        Output("ffprobe -v error -select_streams v:0 -count_frames -show_entries "
               "stream=nb_read_frames,width,height,r_frame_rate,codec_tag_string"
               " -of default=noprint_wrappers=1 '" +
               path + "'"));
    std::map<std::string, std::string> values;
    std::string text;
    while (std::getline(lines, text)) {
        const size_t equals = text.find('=');
        if (equals != std::string::npos) values[text.substr(0, equals)] = text.substr(equals + 1);
    }
    return values;
}

// A stream of smooth test pictures, as a slot holds it.
PAVISTREAM MakeSource(const fixtures::ScratchDir& dir, int width = kWidth, int height = kHeight) {
    std::vector<fixtures::Frame> frames;
    for (int n = 0; n < kFrames; ++n)
        frames.push_back(fixtures::PictureFor(width, height, n));
    const std::string path =
        dir.File("source-" + std::to_string(width) + "x" + std::to_string(height) + ".avi");
    if (!fixtures::WriteAvi(path, fixtures::VideoInfo(width, height, kRate, kScale),
                            fixtures::DibHeader(width, height, 24), frames))
        return nullptr;
    return fixtures::OpenView(path);
}

// The handlers the options dialog lists for the stream.
std::vector<DWORD> Offered(PAVISTREAM stream) {
    ui_script::Begin();
    ui_script::QueueSaveOptionsCancel();
    AVICOMPRESSOPTIONS options{};
    AVICOMPRESSOPTIONS* list[] = {&options};
    AVISaveOptions(nullptr, ICMF_CHOOSE_KEYFRAME, 1, &stream, list);
    const std::vector<DWORD> offered = ui_script::AskedSaveOptionsDialogs().back().offered;
    ui_script::End();
    return offered;
}

struct CompressorCase {
    const char* handler;
    const char* probedTag; // ffprobe's name of the stored handler
    bool lossless;
    bool optional; // an encoder this machine's libavcodec may lack
};

void PrintTo(const CompressorCase& c, std::ostream* out) {
    *out << c.handler;
}

class SaveWith : public testing::TestWithParam<CompressorCase> {};

TEST_P(SaveWith, WritesEveryFrameAtTheStreamsSizeAndRate) {
    const CompressorCase& c = GetParam();
    fixtures::ScratchDir dir;
    PAVISTREAM source = MakeSource(dir);
    ASSERT_NE(source, nullptr);
    const std::vector<DWORD> offered = Offered(source);
    if (std::find(offered.begin(), offered.end(), Fourcc(c.handler)) == offered.end()) {
        AVIStreamRelease(source);
        ASSERT_TRUE(c.optional) << c.handler << " is not offered";
        GTEST_SKIP() << c.handler << " does not open here";
    }

    AVICOMPRESSOPTIONS options{};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = Fourcc(c.handler);
    options.dwQuality = ICQUALITY_HIGH * 3 / 4;
    options.dwFlags = AVICOMPRESSF_VALID;
    AVICOMPRESSOPTIONS* list[] = {&options};
    const std::string saved = dir.File("saved.avi");
    ASSERT_EQ(AVISaveVA(saved.c_str(), nullptr, nullptr, 1, &source, list), AVIERR_OK);

    std::map<std::string, std::string> probed = Probe(saved);
    EXPECT_EQ(probed["nb_read_frames"], std::to_string(kFrames));
    EXPECT_EQ(probed["width"], std::to_string(kWidth));
    EXPECT_EQ(probed["height"], std::to_string(kHeight));
    EXPECT_EQ(probed["r_frame_rate"], std::to_string(kRate) + "/" + std::to_string(kScale));
    EXPECT_EQ(probed["codec_tag_string"], c.probedTag);

    const LONG frameBytes = LONG(fixtures::DibHeader(kWidth, kHeight, 24).biSizeImage);
    const std::vector<fixtures::Frame> expected = fixtures::ReadAll(source, frameBytes);
    PAVISTREAM view = fixtures::OpenView(saved);
    ASSERT_NE(view, nullptr);
    const std::vector<fixtures::Frame> read = fixtures::ReadAll(view, frameBytes);
    ASSERT_EQ(read.size(), expected.size());
    for (size_t n = 0; n < read.size(); ++n) {
        if (c.lossless)
            EXPECT_EQ(read[n], expected[n]) << "frame " << n;
        else
            EXPECT_LT(fixtures::MeanDifference(read[n], expected[n]), 6.0) << "frame " << n;
    }
    AVIStreamRelease(view);
    AVIStreamRelease(source);
}

INSTANTIATE_TEST_SUITE_P(Compressors, SaveWith,
                         testing::Values(CompressorCase{"DIB ", "[0][0][0][0]", true, false},
                                         CompressorCase{"MJPG", "MJPG", false, false},
                                         CompressorCase{"FFV1", "FFV1", true, false},
                                         CompressorCase{"HFYU", "HFYU", true, false},
                                         CompressorCase{"ULRG", "ULRG", true, false},
                                         CompressorCase{"FMP4", "FMP4", false, false},
                                         CompressorCase{"H264", "H264", false, true}));

class QualityOf : public testing::TestWithParam<const char*> {};

// The quality the user sets steers a compressor of a fixed quantiser: a lower one makes a
// smaller file.
TEST_P(QualityOf, SetsTheQuantiser) {
    fixtures::ScratchDir dir;
    PAVISTREAM source = MakeSource(dir, 320, 240);
    ASSERT_NE(source, nullptr);
    std::vector<std::uintmax_t> bytes;
    for (DWORD quality : {ICQUALITY_HIGH, ICQUALITY_HIGH / 4}) {
        AVICOMPRESSOPTIONS options{};
        options.fccType = streamtypeVIDEO;
        options.fccHandler = Fourcc(GetParam());
        options.dwQuality = quality;
        AVICOMPRESSOPTIONS* list[] = {&options};
        const std::string saved = dir.File("q" + std::to_string(quality) + ".avi");
        ASSERT_EQ(AVISaveVA(saved.c_str(), nullptr, nullptr, 1, &source, list), AVIERR_OK);
        bytes.push_back(std::filesystem::file_size(saved));
    }
    AVIStreamRelease(source);
    EXPECT_LT(bytes[1] * 3, bytes[0] * 2) << "best " << bytes[0] << ", low " << bytes[1];
}

INSTANTIATE_TEST_SUITE_P(Compressors, QualityOf, testing::Values("MJPG", "FMP4"));

constexpr DWORD kSampleRate = 44100;
constexpr WORD kChannels = 2;
// The sound lasts as long as the frames, to the sample.
constexpr LONG kSamples = LONG(int64_t{kFrames} * kScale * kSampleRate / kRate);

// The audio stream's codec (empty when there is none) and its length in seconds, as ffprobe
// reads them (none for PCM, whose length shows in the decoded samples).
struct ProbedAudio {
    std::string codec;
    double seconds = 0;
};

ProbedAudio ProbeAudio(const std::string& path) {
    std::istringstream fields(Output("ffprobe -v error -select_streams a:0 -of csv=p=0 "
                                     "-show_entries stream=codec_name,duration '" +
                                     path + "'"));
    ProbedAudio probed;
    std::getline(fields, probed.codec, ',');
    fields >> probed.seconds;
    return probed;
}

// The file's sound decoded by ffmpeg to 16-bit PCM.
std::vector<int16_t> DecodedPcm(const std::string& path) {
    const std::string bytes =
        Output("ffmpeg -nostdin -v error -i '" + path + "' -map 0:a:0 -f s16le -");
    std::vector<int16_t> pcm(bytes.size() / sizeof(int16_t));
    std::memcpy(pcm.data(), bytes.data(), pcm.size() * sizeof(int16_t));
    return pcm;
}

struct AudioCase {
    const char* video; // the video handler
    bool lossless;     // the video reads back bit-exact
    DWORD audio;       // the audio options' handler
    const char* codec; // ffprobe's name of the stored audio codec; empty: no audio stream
    int frameSamples;  // the most the sound's length may differ from the frames' (compressed)
};

void PrintTo(const AudioCase& c, std::ostream* out) {
    *out << c.video << " + " << (*c.codec ? c.codec : "no audio");
}

class SaveWithAudio : public testing::TestWithParam<AudioCase> {};

TEST_P(SaveWithAudio, StoresTheSoundBesideEveryFrame) {
    const AudioCase& c = GetParam();
    if (std::string(c.codec) == "mp3" && !fixtures::HasEncoder("libmp3lame"))
        GTEST_SKIP() << "no MP3 encoder here";
    fixtures::ScratchDir dir;
    PAVISTREAM source = MakeSource(dir);
    ASSERT_NE(source, nullptr);
    auto* sound = new FakeAudioStream(kSamples, kSampleRate, kChannels);
    AVICOMPRESSOPTIONS video{};
    video.fccType = streamtypeVIDEO;
    video.fccHandler = Fourcc(c.video);
    video.dwQuality = ICQUALITY_HIGH * 3 / 4;
    video.dwFlags = AVICOMPRESSF_VALID;
    AVICOMPRESSOPTIONS audio{};
    audio.fccType = streamtypeAUDIO;
    audio.fccHandler = c.audio;
    AVICOMPRESSOPTIONS* list[] = {&video, &audio};
    PAVISTREAM streams[] = {source, sound};
    const std::string saved = dir.File("saved.avi");
    ASSERT_EQ(AVISaveVA(saved.c_str(), nullptr, nullptr, 2, streams, list), AVIERR_OK);

    EXPECT_EQ(Probe(saved)["nb_read_frames"], std::to_string(kFrames));
    const ProbedAudio probed = ProbeAudio(saved);
    EXPECT_EQ(probed.codec, c.codec);
    if (c.frameSamples > 1) {
        EXPECT_NEAR(probed.seconds, double(kFrames) * kScale / kRate,
                    double(c.frameSamples) / kSampleRate);
    }
    if (std::string(c.codec) == "pcm_s16le") {
        EXPECT_EQ(DecodedPcm(saved), sound->Pcm());
    }
    if (c.lossless) {
        const LONG frameBytes = LONG(fixtures::DibHeader(kWidth, kHeight, 24).biSizeImage);
        PAVISTREAM view = fixtures::OpenView(saved);
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(fixtures::ReadAll(view, frameBytes), fixtures::ReadAll(source, frameBytes));
        AVIStreamRelease(view);
    }
    AVIStreamRelease(sound);
    AVIStreamRelease(source);
}

INSTANTIATE_TEST_SUITE_P(AudioChoices, SaveWithAudio,
                         testing::Values(AudioCase{"DIB ", true, WAVE_FORMAT_PCM, "pcm_s16le", 1},
                                         AudioCase{"MJPG", false, 0, "pcm_s16le", 1},
                                         AudioCase{"FFV1", true, WAVE_FORMAT_AAC, "aac", 1024},
                                         AudioCase{"FMP4", false, WAVE_FORMAT_MPEGLAYER3, "mp3",
                                                   1152},
                                         AudioCase{"DIB ", true, AUDIO_LEAVE_OUT, "", 0}));

// What the dialog showed while the user worked it.
struct Seen {
    std::vector<DWORD> listed;
    bool keyFramesEnabled = true;
    bool pictureShown = false;
    std::string previewText;
    bool audioListed = true;
};

template <typename Widget> Widget* Control(QWidget* dialog, int id) {
    return dialog->findChild<Widget*>(QString::number(id));
}

// The user picks Motion JPEG, sets quality and data rate, previews, and presses OK.
void WorkTheDialog(Seen& seen) {
    QWidget* dialog = QApplication::activeModalWidget();
    ASSERT_NE(dialog, nullptr);
    auto* compressor = Control<QComboBox>(dialog, ui_script::kSaveOptionsCompressor);
    for (int i = 0; i < compressor->count(); ++i)
        seen.listed.push_back(compressor->itemData(i).toUInt());
    compressor->setCurrentIndex(compressor->findData(QVariant::fromValue(Fourcc("MJPG"))));
    seen.keyFramesEnabled =
        Control<QCheckBox>(dialog, ui_script::kSaveOptionsKeyFrames)->isEnabled();
    Control<QSlider>(dialog, ui_script::kSaveOptionsQuality)->setValue(40);
    Control<QCheckBox>(dialog, ui_script::kSaveOptionsDataRate)->click();
    Control<QSpinBox>(dialog, ui_script::kSaveOptionsKilobits)->setValue(800);
    Control<QPushButton>(dialog, ui_script::kSaveOptionsPreview)->click();
    seen.audioListed = Control<QComboBox>(dialog, ui_script::kSaveOptionsAudio) != nullptr;
    seen.pictureShown = !Control<QLabel>(dialog, ui_script::kSaveOptionsPicture)->pixmap().isNull();
    seen.previewText =
        Control<QLabel>(dialog, ui_script::kSaveOptionsPreviewText)->text().toStdString();
    Control<QPushButton>(dialog, ui_script::kSaveOptionsOk)->click();
}

TEST(SaveOptionsDialog, ListsTheOfferedCompressorsAndReturnsTheUsersChoice) {
    fixtures::ScratchDir dir;
    PAVISTREAM source = MakeSource(dir);
    ASSERT_NE(source, nullptr);
    const std::vector<DWORD> offered = Offered(source);

    Seen seen;
    QTimer::singleShot(0, [&seen] { WorkTheDialog(seen); });
    AVICOMPRESSOPTIONS options{};
    AVICOMPRESSOPTIONS* list[] = {&options};
    const int chosen =
        AVISaveOptions(nullptr, ICMF_CHOOSE_KEYFRAME | ICMF_CHOOSE_DATARATE | ICMF_CHOOSE_PREVIEW,
                       1, &source, list);
    AVIStreamRelease(source);

    EXPECT_EQ(chosen, 1);
    EXPECT_EQ(seen.listed, offered);
    EXPECT_FALSE(seen.keyFramesEnabled); // every Motion JPEG frame is a key frame
    EXPECT_TRUE(seen.pictureShown);
    EXPECT_NE(seen.previewText.find("バイト"), std::string::npos) << seen.previewText;
    EXPECT_FALSE(seen.audioListed); // a video stream alone has no sound to choose for
    EXPECT_EQ(options.fccType, streamtypeVIDEO);
    EXPECT_EQ(options.fccHandler, Fourcc("MJPG"));
    EXPECT_EQ(options.dwQuality, 4000u);
    EXPECT_EQ(options.dwBytesPerSecond, 100000u);
    EXPECT_EQ(options.dwFlags, DWORD(AVICOMPRESSF_VALID | AVICOMPRESSF_DATARATE));
}

struct AudioPick {
    DWORD pick;           // the entry the user chooses; 0 leaves the one shown first
    DWORD handler;        // what the audio record gets
    DWORD bytesPerSecond; // 192 kbit/s for compressed sound
};

void PrintTo(const AudioPick& c, std::ostream* out) {
    *out << std::hex << c.handler;
}

class SaveOptionsAudio : public testing::TestWithParam<AudioPick> {};

TEST_P(SaveOptionsAudio, ListsTheAudioChoicesAndReturnsTheUsersChoice) {
    const AudioPick& c = GetParam();
    const bool mp3 = fixtures::HasEncoder("libmp3lame");
    if (c.handler == WAVE_FORMAT_MPEGLAYER3 && !mp3) GTEST_SKIP() << "no MP3 encoder here";
    std::vector<DWORD> expected{WAVE_FORMAT_PCM, WAVE_FORMAT_AAC};
    if (mp3) expected.push_back(WAVE_FORMAT_MPEGLAYER3);
    expected.push_back(AUDIO_LEAVE_OUT);
    fixtures::ScratchDir dir;
    PAVISTREAM source = MakeSource(dir);
    ASSERT_NE(source, nullptr);
    auto* sound = new FakeAudioStream(kSamples, kSampleRate, kChannels);

    std::vector<DWORD> listed;
    DWORD shownFirst = 0;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (auto* audio = Control<QComboBox>(dialog, ui_script::kSaveOptionsAudio)) {
            for (int i = 0; i < audio->count(); ++i)
                listed.push_back(audio->itemData(i).toUInt());
            shownFirst = audio->currentData().toUInt();
            if (c.pick) audio->setCurrentIndex(audio->findData(QVariant::fromValue(c.pick)));
        }
        Control<QPushButton>(dialog, ui_script::kSaveOptionsOk)->click();
    });
    AVICOMPRESSOPTIONS video{};
    AVICOMPRESSOPTIONS audio{};
    AVICOMPRESSOPTIONS* list[] = {&video, &audio};
    PAVISTREAM streams[] = {source, sound};
    const int chosen = AVISaveOptions(nullptr, 0, 2, streams, list);
    AVIStreamRelease(sound);
    AVIStreamRelease(source);

    EXPECT_EQ(chosen, 1);
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(shownFirst, DWORD{WAVE_FORMAT_PCM});
    EXPECT_EQ(video.fccType, streamtypeVIDEO);
    EXPECT_EQ(audio.fccType, streamtypeAUDIO);
    EXPECT_EQ(audio.fccHandler, c.handler);
    EXPECT_EQ(audio.dwBytesPerSecond, c.bytesPerSecond);
}

INSTANTIATE_TEST_SUITE_P(Choices, SaveOptionsAudio,
                         testing::Values(AudioPick{0, WAVE_FORMAT_PCM, 0},
                                         AudioPick{WAVE_FORMAT_AAC, WAVE_FORMAT_AAC, 24000},
                                         AudioPick{WAVE_FORMAT_MPEGLAYER3, WAVE_FORMAT_MPEGLAYER3,
                                                   24000},
                                         AudioPick{AUDIO_LEAVE_OUT, AUDIO_LEAVE_OUT, 0}));

// The stored bytes of the file's first sound track, packet after packet.
std::string SoundPayload(const std::string& path) {
    return Output("ffmpeg -nostdin -v error -i '" + path + "' -map 0:a:0 -c copy -f data -");
}

struct StoredCase {
    const char* file;  // made with this sound codec
    const char* codec; // ffprobe's name of it
    DWORD tag;         // its wave format tag
    bool edited;       // some samples are cut before saving
};

void PrintTo(const StoredCase& c, std::ostream* out) {
    *out << c.codec << (c.edited ? " edited" : " unedited");
}

class StoredSound : public testing::TestWithParam<StoredCase> {};

// Unedited compressed sound is offered and saved packet for packet by default; once edited it
// is offered as samples only, and PCM comes first.
TEST_P(StoredSound, IsCopiedUntilItIsEdited) {
    const StoredCase& c = GetParam();
    fixtures::ScratchDir dir;
    const std::string original = dir.File(c.file);
    ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i testsrc=size=32x24:rate=25 -f lavfi "
                           "-i sine=sample_rate=48000 -t 1 -c:v mpeg4 -c:a " +
                           std::string(c.codec) + " '" + original + "'")
                              .c_str()),
              0);
    PAVISTREAM source = MakeSource(dir);
    PAVISTREAM file = nullptr;
    ASSERT_EQ(AVIStreamOpenFromFileA(&file, original.c_str(), streamtypeAUDIO, 0, OF_READ, nullptr),
              AVIERR_OK);
    PAVISTREAM sound = nullptr;
    ASSERT_EQ(CreateEditableStream(&sound, file), AVIERR_OK);
    AVIStreamRelease(file);
    if (c.edited) {
        LONG start = 1000, length = 480;
        PAVISTREAM cut = nullptr;
        ASSERT_EQ(EditStreamCut(sound, &start, &length, &cut), AVIERR_OK);
        AVIStreamRelease(cut);
    }
    std::vector<DWORD> listed;
    DWORD shownFirst = 0;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (auto* audio = Control<QComboBox>(dialog, ui_script::kSaveOptionsAudio)) {
            for (int i = 0; i < audio->count(); ++i)
                listed.push_back(audio->itemData(i).toUInt());
            shownFirst = audio->currentData().toUInt();
        }
        Control<QPushButton>(dialog, ui_script::kSaveOptionsOk)->click();
    });
    AVICOMPRESSOPTIONS video{};
    AVICOMPRESSOPTIONS audio{};
    AVICOMPRESSOPTIONS* list[] = {&video, &audio};
    PAVISTREAM streams[] = {source, sound};
    ASSERT_EQ(AVISaveOptions(nullptr, 0, 2, streams, list), 1);
    const std::string saved = dir.File("saved.avi");
    const HRESULT written = AVISaveVA(saved.c_str(), nullptr, nullptr, 2, streams, list);
    AVIStreamRelease(sound);
    AVIStreamRelease(source);
    ASSERT_EQ(written, AVIERR_OK);

    const bool offered = std::find(listed.begin(), listed.end(), c.tag) != listed.end();
    if (c.edited) {
        EXPECT_EQ(shownFirst, DWORD{WAVE_FORMAT_PCM});
        EXPECT_EQ(ProbeAudio(saved).codec, "pcm_s16le");
        if (c.tag != WAVE_FORMAT_AAC) {
            EXPECT_FALSE(offered); // no encoder of it here
        }
    } else {
        EXPECT_EQ(listed.front(), c.tag);
        EXPECT_EQ(shownFirst, c.tag);
        EXPECT_EQ(ProbeAudio(saved).codec, c.codec);
        const std::string payload = SoundPayload(original);
        EXPECT_FALSE(payload.empty());
        EXPECT_TRUE(SoundPayload(saved) == payload) << "the packets were not copied as they are";
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, StoredSound,
                         testing::Values(StoredCase{"aac.mp4", "aac", WAVE_FORMAT_AAC, false},
                                         StoredCase{"aac.mp4", "aac", WAVE_FORMAT_AAC, true},
                                         StoredCase{"ac3.mkv", "ac3", 0x2000, false},
                                         StoredCase{"ac3.mkv", "ac3", 0x2000, true}));

// The md5 of each stored video packet of the file, in order.
std::vector<std::string> PacketHashes(const std::string& path) {
    std::istringstream lines(
        Output("ffmpeg -nostdin -v error -i '" + path + "' -map 0:v -c copy -f framemd5 -"));
    std::vector<std::string> hashes;
    std::string line;
    while (std::getline(lines, line))
        if (!line.empty() && line[0] != '#') hashes.push_back(line.substr(line.rfind(' ') + 1));
    return hashes;
}

struct StoredVideoCase {
    const char* name;
    const char* codec;  // the file's, made by ffmpeg
    const char* fourcc; // saved with
    bool pasteOthers;   // two frames of another file are pasted in
    bool encodeAll;
    int copied; // of the 17 or 15 frames saved
};

void PrintTo(const StoredVideoCase& c, std::ostream* out) {
    *out << c.name;
}

class StoredVideo : public testing::TestWithParam<StoredVideoCase> {};

// Frames read unchanged from a file of the chosen codec are saved as the file stores them; the
// dialog says how many before the save, and ffmpeg decodes the whole result.
TEST_P(StoredVideo, UnchangedFramesAreCopiedAsStored) {
    const StoredVideoCase& c = GetParam();
    fixtures::ScratchDir dir;
    const std::string original = dir.File("original.avi");
    ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=25 -frames:v "
                           "20 -c:v " +
                           std::string(c.codec) + " '" + original + "'")
                              .c_str()),
              0);
    PAVISTREAM file = fixtures::OpenView(original), edited = nullptr, cut = nullptr;
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(CreateEditableStream(&edited, file), AVIERR_OK);
    AVIStreamRelease(file);
    LONG start = 5, length = 5;
    ASSERT_EQ(EditStreamCut(edited, &start, &length, &cut), AVIERR_OK);
    AVIStreamRelease(cut);
    std::vector<int> from; // each saved frame's frame of the original; -1: another file's
    for (int n = 0; n < 20; ++n)
        if (n < 5 || n >= 10) from.push_back(n);
    if (c.pasteOthers) {
        PAVISTREAM other = MakeSource(dir);
        LONG at = 3, pasted = 2;
        ASSERT_EQ(EditStreamPaste(edited, &at, &pasted, other, 0, 2), AVIERR_OK);
        AVIStreamRelease(other);
        from.insert(from.begin() + 3, {-1, -1});
    }
    std::string said;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        auto* list = Control<QComboBox>(dialog, ui_script::kSaveOptionsCompressor);
        list->setCurrentIndex(list->findData(QVariant::fromValue(Fourcc(c.fourcc))));
        auto* note = Control<QLabel>(dialog, ui_script::kSaveOptionsStoredFrames);
        if (note->isVisibleTo(dialog)) said = note->text().toStdString();
        Control<QCheckBox>(dialog, ui_script::kSaveOptionsEncodeAll)->setChecked(c.encodeAll);
        Control<QPushButton>(dialog, ui_script::kSaveOptionsOk)->click();
    });
    AVICOMPRESSOPTIONS options{};
    AVICOMPRESSOPTIONS* list[] = {&options};
    ASSERT_EQ(AVISaveOptions(nullptr, 0, 1, &edited, list), 1);
    const std::string saved = dir.File("saved.avi");
    const HRESULT written = AVISaveVA(saved.c_str(), nullptr, nullptr, 1, &edited, list);
    AVIStreamRelease(edited);
    ASSERT_EQ(written, AVIERR_OK);

    const int frames = int(from.size());
    const std::string expected =
        c.copied == 0 ? ""
        : c.copied == frames
            ? std::to_string(frames) + " フレームをすべて元のファイルのまま写します。"
            : std::to_string(c.copied) + " フレームは元のファイルのまま写し、" +
                  std::to_string(frames - c.copied) + " フレームを圧縮します。";
    EXPECT_EQ(said, expected);
    EXPECT_EQ(Output("ffmpeg -nostdin -v error -i '" + saved + "' -f null - 2>&1"), "");
    const std::vector<std::string> stored = PacketHashes(original), copied = PacketHashes(saved);
    ASSERT_EQ(copied.size(), size_t(frames));
    int same = 0;
    for (int n = 0; n < frames; ++n)
        same += from[size_t(n)] >= 0 && copied[size_t(n)] == stored[size_t(from[size_t(n)])];
    // An encoder of the same settings may make some of the same bytes: nothing to tell there.
    if (c.copied > 0) {
        EXPECT_EQ(same, c.encodeAll ? 0 : c.copied);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, StoredVideo,
    testing::Values(StoredVideoCase{"MjpegMixed", "mjpeg -q:v 3", "MJPG", true, false, 15},
                    StoredVideoCase{"MjpegEncodeAll", "mjpeg -q:v 3", "MJPG", true, true, 15},
                    StoredVideoCase{"Ffv1Cut", "ffv1 -g 1", "FFV1", false, false, 15},
                    // FFV1 keeps its set-up in the stream's header: mixed, nothing is copied.
                    StoredVideoCase{"Ffv1Mixed", "ffv1 -g 1", "FFV1", true, false, 0},
                    // With B-frames, a group of MPEG-4 Part 2 may refer to the one before.
                    StoredVideoCase{"Mpeg4BFrames", "mpeg4 -g 5 -bf 2", "FMP4", false, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Peak signal to noise ratio of the brightness of two 24-bit frames of equal size, in dB.
double LumaPsnr(const fixtures::Frame& a, const fixtures::Frame& b) {
    const auto luma = [](const fixtures::Frame& f, size_t i) {
        return 0.114 * f[i] + 0.587 * f[i + 1] + 0.299 * f[i + 2]; // blue, green, red
    };
    double squares = 0;
    for (size_t i = 0; i + 2 < a.size(); i += 3)
        squares += (luma(a, i) - luma(b, i)) * (luma(a, i) - luma(b, i));
    return squares == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(a.size() / 3) / squares);
}

constexpr const char* kH264Groups = "-c:v libx264 -g 50 -keyint_min 50 -sc_threshold 0 -bf 2";
constexpr const char* kMpeg4Groups = "-c:v mpeg4 -g 50 -q:v 2";

struct GroupCase {
    const char* name;
    const char* codec;  // ffmpeg's options for groups of 50 frames
    const char* file;   // what ffmpeg writes: groups.avi or groups.mp4
    bool copiedIntoAvi; // then copied as stored into an AVI file
    // With MP3 sound, ffmpeg drops the second frame of an AVI file (an empty chunk, which
    // repeats the first), so 199 frames fill the 200.
    bool withSound;
    const char* fourcc;
    // Frames copied of the 192 saved: the two whole groups, and as many first frames of each
    // group cut short as show on their own: 10 and 25, 24 where a B-frame is held back, none
    // from B-frames in AVI (which does not tell which frame a packet shows). With the dropped
    // frame, the groups start a frame later: 51 + 9 + 24 + 49.
    int copied;
};

void PrintTo(const GroupCase& c, std::ostream* out) {
    *out << c.name;
}

class StoredGroupsOfPictures : public testing::TestWithParam<GroupCase> {};

// What the save dialog says of saving the stream with the compressor at quality 95, which the
// user then confirms into options.
std::string SaveNote(PAVISTREAM stream, const char* fourcc, AVICOMPRESSOPTIONS& options) {
    std::string said;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        auto* list = Control<QComboBox>(dialog, ui_script::kSaveOptionsCompressor);
        list->setCurrentIndex(list->findData(QVariant::fromValue(Fourcc(fourcc))));
        said = Control<QLabel>(dialog, ui_script::kSaveOptionsStoredFrames)->text().toStdString();
        Control<QSlider>(dialog, ui_script::kSaveOptionsQuality)->setValue(95);
        Control<QPushButton>(dialog, ui_script::kSaveOptionsOk)->click();
    });
    AVICOMPRESSOPTIONS* list[] = {&options};
    return AVISaveOptions(nullptr, 0, 1, &stream, list) == 1 ? said : "no choice";
}

// A file cut, and pasted into, saved in its own codec: the groups of pictures no edit touched
// are copied, the rest encoded, and the joined stream decodes to the editor's frames.
TEST_P(StoredGroupsOfPictures, AreCopiedWhereNoEditTouchedThem) {
    const GroupCase& c = GetParam();
    fixtures::ScratchDir dir;
    std::string made = "ffmpeg -v error -y -f lavfi -i testsrc2=size=128x96:rate=25 " +
                       std::string(c.withSound ? "-f lavfi -i sine -c:a mp3 -t 8 -frames:v 199 "
                                               : "-frames:v 200 ") +
                       "-pix_fmt yuv420p " + c.codec + " '" + dir.File(c.file) + "'";
    if (c.copiedIntoAvi)
        made += " && ffmpeg -v error -i '" + dir.File(c.file) + "' -c copy '" +
                dir.File("copied.avi") + "'";
    ASSERT_EQ(std::system(made.c_str()), 0);
    PAVISTREAM file = fixtures::OpenView(dir.File(c.copiedIntoAvi ? "copied.avi" : c.file)),
               edited = nullptr;
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(CreateEditableStream(&edited, file), AVIERR_OK);
    AVIStreamRelease(file);
    // Frames 60..69 cut; two frames of another file pasted in where frame 125 was: the groups
    // of frames 0..49 and 150..199 (saved 142..191; after a dropped frame, a frame later) are
    // left whole.
    LONG start = 60, length = 10;
    PAVISTREAM cut = nullptr, other = MakeSource(dir, 128, 96);
    ASSERT_EQ(EditStreamCut(edited, &start, &length, &cut), AVIERR_OK);
    AVIStreamRelease(cut);
    LONG at = 115, pasted = 2;
    ASSERT_EQ(EditStreamPaste(edited, &at, &pasted, other, 0, 2), AVIERR_OK);
    AVIStreamRelease(other);

    AVICOMPRESSOPTIONS options{};
    AVICOMPRESSOPTIONS* list[] = {&options};
    const std::string said = SaveNote(edited, c.fourcc, options);
    const std::string saved = dir.File("saved.avi");
    ASSERT_EQ(AVISaveVA(saved.c_str(), nullptr, nullptr, 1, &edited, list), AVIERR_OK);

    EXPECT_EQ(said, std::to_string(c.copied) + " フレームは元のファイルのまま写し、" +
                        std::to_string(192 - c.copied) + " フレームを圧縮します。");
    EXPECT_EQ(Output("ffmpeg -nostdin -v error -i '" + saved + "' -f null - 2>&1"), "");
    // The dropped frame is copied as it is stored, an empty chunk.
    EXPECT_EQ(Probe(saved)["nb_read_frames"], c.withSound ? "191" : "192");
    PAVISTREAM reread = fixtures::OpenView(saved);
    ASSERT_NE(reread, nullptr);
    const LONG bytes = 128 * 96 * 3; // rows of 24-bit pixels need no padding at this width
    const std::vector<fixtures::Frame> expected = fixtures::ReadAll(edited, bytes),
                                       got = fixtures::ReadAll(reread, bytes);
    // Each encoded run starts a group of its own, so the saved file saves again as it is.
    AVICOMPRESSOPTIONS again{};
    EXPECT_EQ(SaveNote(reread, c.fourcc, again),
              "192 フレームをすべて元のファイルのまま写します。");
    AVIStreamRelease(reread);
    AVIStreamRelease(edited);
    ASSERT_EQ(got.size(), size_t(192));
    for (size_t n = 0; n < got.size(); ++n) {
        if (n < 50 || n >= (c.withSound ? 143u : 142u))
            EXPECT_EQ(got[n], expected[n]) << "copied frame " << n;
        else
            EXPECT_GT(LumaPsnr(got[n], expected[n]), 40) << "encoded frame " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Containers, StoredGroupsOfPictures,
    testing::Values(
        GroupCase{"H264Avi", kH264Groups, "groups.avi", false, false, "H264", 100},
        GroupCase{"H264Mp4", kH264Groups, "groups.mp4", false, false, "H264", 134},
        GroupCase{"H264CopiedIntoAvi", kH264Groups, "groups.mp4", true, false, "H264", 100},
        GroupCase{"Mpeg4AviWithSound", kMpeg4Groups, "groups.avi", false, true, "FMP4", 133},
        GroupCase{"Mpeg4Mp4", kMpeg4Groups, "groups.mp4", false, false, "FMP4", 135}),
    [](const auto& info) { return std::string(info.param.name); });

// The note the dialog shows for a stream of this size (empty when there is none); the user
// then cancels.
std::string EvenSizeNoteFor(const fixtures::ScratchDir& dir, int width, int height) {
    PAVISTREAM source = MakeSource(dir, width, height);
    if (!source) return "no source";
    std::string note;
    QTimer::singleShot(0, [&note] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog) return;
        if (auto* label = Control<QLabel>(dialog, ui_script::kSaveOptionsEvenSizeNote))
            note = label->text().toStdString();
        Control<QPushButton>(dialog, ui_script::kSaveOptionsCancel)->click();
    });
    AVICOMPRESSOPTIONS options{};
    AVICOMPRESSOPTIONS* list[] = {&options};
    AVISaveOptions(nullptr, ICMF_CHOOSE_KEYFRAME, 1, &source, list);
    AVIStreamRelease(source);
    return note;
}

TEST(SaveOptionsDialog, SaysWhichCompressorsNeedEvenSizes) {
    fixtures::ScratchDir dir;
    PAVISTREAM even = MakeSource(dir);
    ASSERT_NE(even, nullptr);
    const std::vector<DWORD> offered = Offered(even);
    AVIStreamRelease(even);
    if (std::find(offered.begin(), offered.end(), Fourcc("H264")) == offered.end())
        GTEST_SKIP() << "H.264 does not open here";
    const struct {
        int width, height;
        const char* size; // empty: no note
    } cases[] = {
        {kWidth, kHeight, ""}, {kWidth - 1, kHeight, "63x48"}, {kWidth, kHeight - 1, "64x47"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        const std::string note = EvenSizeNoteFor(dir, c.width, c.height);
        if (!*c.size) {
            EXPECT_EQ(note, "");
            continue;
        }
        EXPECT_NE(note.find("H.264"), std::string::npos) << note;
        EXPECT_NE(note.find("偶数"), std::string::npos) << note;
        EXPECT_NE(note.find(c.size), std::string::npos) << note;
    }
}

} // namespace
