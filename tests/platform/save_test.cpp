// Saving through AVISaveVA with every compressor the options dialog offers, and the options
// dialog driven through its controls.
#include "avi_fixtures.h"

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
#include <cstdio>
#include <map>
#include <memory>
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

// The stream's properties as ffprobe reads them, key=value per line.
std::map<std::string, std::string> Probe(const std::string& path) {
    const std::string command = "ffprobe -v error -select_streams v:0 -count_frames -show_entries "
                                "stream=nb_read_frames,width,height,r_frame_rate,codec_tag_string"
                                " -of default=noprint_wrappers=1 '" +
                                path + "'";
    std::map<std::string, std::string> values;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::array<char, 256> line{};
    while (pipe && fgets(line.data(), int(line.size()), pipe.get())) {
        std::string text(line.data());
        text.erase(text.find_last_not_of("\r\n") + 1);
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

// What the dialog showed while the user worked it.
struct Seen {
    std::vector<DWORD> listed;
    bool keyFramesEnabled = true;
    bool pictureShown = false;
    std::string previewText;
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
    EXPECT_EQ(options.fccType, streamtypeVIDEO);
    EXPECT_EQ(options.fccHandler, Fourcc("MJPG"));
    EXPECT_EQ(options.dwQuality, 4000u);
    EXPECT_EQ(options.dwBytesPerSecond, 100000u);
    EXPECT_EQ(options.dwFlags, DWORD(AVICOMPRESSF_VALID | AVICOMPRESSF_DATARATE));
}

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
