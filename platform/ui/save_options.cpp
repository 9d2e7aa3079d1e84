#include "ui/ui.h"
#include "ui/ui_script.h"

#include "audio_encoder.h"
#include "audio_packets.h"
#include "audio_source.h"
#include "compressors.h"
#include "stored_frames.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

#include <deque>
#include <optional>

namespace {

// What a user sees first when the record offers nothing: a good quality, a key frame a second
// at 30 frames per second, and a data rate fit for full-HD video.
constexpr int kDefaultQualityPercent = 75;
constexpr int kDefaultKeyFrameEvery = 30;
constexpr int kDefaultKilobits = 5000;
constexpr int kMaxKeyFrameEvery = 1 << 16;
constexpr int kMaxKilobits = 1 << 20;
constexpr int kQualityPerPercent = ICQUALITY_HIGH / 100;
constexpr int kBytesPerKilobit = 1000 / 8;
constexpr int kPreviewWidth = 320;
constexpr int kPreviewHeight = 240;
// Compressed audio is offered at 192 kbit/s.
constexpr DWORD kAudioBytesPerSecond = 192000 / 8;

struct ScriptedChoice {
    AVICOMPRESSOPTIONS video;
    std::optional<AVICOMPRESSOPTIONS> audio; // nullopt: the default
};
std::deque<std::optional<ScriptedChoice>> saveAnswers; // nullopt: cancel
std::vector<ui_script::AskedSaveOptions> askedSaveOptions;

// The stream's first frame with its format and information.
struct StreamSample {
    BITMAPINFOHEADER format{};
    AVISTREAMINFOA info{};
    std::vector<uint8_t> frame;
};

bool ReadSample(PAVISTREAM stream, StreamSample& sample) {
    LONG size = sizeof sample.format;
    if (!stream || AVIStreamInfoA(stream, &sample.info, sizeof sample.info) != AVIERR_OK ||
        AVIStreamReadFormat(stream, 0, &sample.format, &size) != AVIERR_OK ||
        size < LONG(sizeof sample.format) || sample.format.biSizeImage == 0)
        return false;
    sample.frame.resize(sample.format.biSizeImage);
    return AVIStreamRead(stream, 0, 1, sample.frame.data(), LONG(sample.frame.size()), nullptr,
                         nullptr) == AVIERR_OK;
}

// One entry of the audio list: a codec by its wave format tag, or AUDIO_LEAVE_OUT.
struct AudioChoice {
    DWORD handler;
    QString name;
};

// The audio list of a dialog asked with an audio stream, and the record's choice.
struct AudioOffer {
    std::vector<AudioChoice> choices;
    AVICOMPRESSOPTIONS initial;
    DWORD copied = 0; // the choice that copies the stored sound; 0: there is none
};

// The stored sound copied as it is when the stream reads it unchanged (first, and in place of
// encoding into the same codec), the codecs this machine encodes the stream's sound with, and
// leaving it out; only leaving it out when the second stream is not audio that can be read.
AudioOffer AudioOfferFor(PAVISTREAM stream, const AVICOMPRESSOPTIONS& initial) {
    AudioOffer offer{{}, initial};
    std::vector<AudioChoice>& choices = offer.choices;
    AVISTREAMINFOA info{};
    WAVEFORMATEX format{};
    LONG size = sizeof format;
    if (stream && AVIStreamInfoA(stream, &info, sizeof info) == AVIERR_OK &&
        info.fccType == streamtypeAUDIO &&
        AVIStreamReadFormat(stream, 0, &format, &size) == AVIERR_OK) {
        if (const avi::AudioSource* stored = avi::CopyableAudio(stream)) {
            const avi::StoredCodec codec = stored->Stored();
            offer.copied = codec.tag;
            choices.push_back(
                {offer.copied,
                 QStringLiteral("元の音声のまま (%1)").arg(QString::fromStdString(codec.name))});
        }
        for (const avi::AudioCodec* codec : avi::OfferedAudioCodecs(format))
            if (codec->tag != offer.copied)
                choices.push_back({codec->tag, QString::fromUtf8(codec->name)});
    }
    choices.push_back({AUDIO_LEAVE_OUT, QStringLiteral("音声なし")});
    return offer;
}

// The choice made when the record names none: the stored sound copied where it can be, else
// PCM.
DWORD DefaultAudioChoice(const AudioOffer& offer) {
    const bool valid = offer.initial.dwFlags & AVICOMPRESSF_VALID;
    if (valid && offer.initial.fccHandler) return offer.initial.fccHandler;
    return offer.copied ? offer.copied : DWORD{WAVE_FORMAT_PCM};
}

// The options record of an audio choice.
AVICOMPRESSOPTIONS AudioOptions(DWORD handler) {
    AVICOMPRESSOPTIONS options{};
    options.fccType = streamtypeAUDIO;
    options.fccHandler = handler;
    options.dwFlags = AVICOMPRESSF_VALID;
    const avi::AudioCodec* codec = avi::FindAudioCodec(handler);
    if (codec && codec->compressed) options.dwBytesPerSecond = kAudioBytesPerSecond;
    return options;
}

// A line naming the compressors that are not listed because the frame's width or height is
// odd; null when none is missing for that reason.
QLabel* EvenSizeNote(const StreamSample& sample,
                     const std::vector<const avi::Compressor*>& offered) {
    const std::vector<const avi::Compressor*> needing =
        avi::NeedingEvenSizes(sample.format, sample.info, offered);
    if (needing.empty()) return nullptr;
    QStringList names;
    for (const avi::Compressor* each : needing)
        names << QString::fromUtf8(each->name);
    auto* note = new QLabel(
        QStringLiteral("%1 は幅と高さが偶数のフレームにしか使えません（このフレーム: %2x%3）")
            .arg(names.join(QStringLiteral("、")))
            .arg(sample.format.biWidth)
            .arg(sample.format.biHeight));
    note->setObjectName(QString::number(ui_script::kSaveOptionsEvenSizeNote));
    note->setWordWrap(true);
    return note;
}

template <typename Widget> Widget* Named(Widget* widget, int id) {
    widget->setObjectName(QString::number(id));
    return widget;
}

class SaveOptionsDialog {
  public:
    SaveOptionsDialog(QWidget* owner, unsigned flags, PAVISTREAM stream, const StreamSample& sample,
                      const std::vector<const avi::Compressor*>& offered,
                      const AVICOMPRESSOPTIONS& initial, const AudioOffer* audioOffer);
    bool Run() { return dialog.exec() == QDialog::Accepted; }
    void Store(AVICOMPRESSOPTIONS& options) const;
    void StoreAudio(AVICOMPRESSOPTIONS& options) const;

  private:
    // The list of audio choices, the record's choice (or PCM) selected.
    QComboBox* MakeAudioList(const AudioOffer& offer);
    const avi::Compressor& Chosen() const { return *offered[size_t(compressor->currentIndex())]; }
    void ShowSettingsOf(const avi::Compressor& chosen);
    void ShowStoredFrames();
    void Preview();

    PAVISTREAM stream;
    const StreamSample& sample;
    std::vector<const avi::Compressor*> offered;
    QDialog dialog;
    QComboBox* compressor;
    QCheckBox* keyFrames;
    QSpinBox* keyFrameEvery;
    QCheckBox* dataRate;
    QSpinBox* kilobits;
    QSlider* quality;
    QPushButton* preview;
    QLabel* picture;
    QLabel* previewText;
    QComboBox* audio = nullptr;
    QLabel* storedFrames;
    QCheckBox* encodeAll;
    LONG copied = 0; // frames the chosen compressor copies as stored
};

SaveOptionsDialog::SaveOptionsDialog(QWidget* owner, unsigned flags, PAVISTREAM stream,
                                     const StreamSample& sample,
                                     const std::vector<const avi::Compressor*>& offered,
                                     const AVICOMPRESSOPTIONS& initial,
                                     const AudioOffer* audioOffer)
    : stream(stream), sample(sample), offered(offered), dialog(owner) {
    dialog.setWindowTitle(QStringLiteral("ビデオの圧縮"));
    auto* grid = new QGridLayout(&dialog);
    compressor = Named(new QComboBox, ui_script::kSaveOptionsCompressor);
    for (const avi::Compressor* each : offered)
        compressor->addItem(QString::fromUtf8(each->name), QVariant::fromValue(each->fourcc));
    keyFrames = Named(new QCheckBox(QStringLiteral("キーフレーム (フレームごと)")),
                      ui_script::kSaveOptionsKeyFrames);
    keyFrameEvery = Named(new QSpinBox, ui_script::kSaveOptionsKeyFrameEvery);
    keyFrameEvery->setRange(1, kMaxKeyFrameEvery);
    dataRate = Named(new QCheckBox(QStringLiteral("データレート (kbit/秒)")),
                     ui_script::kSaveOptionsDataRate);
    kilobits = Named(new QSpinBox, ui_script::kSaveOptionsKilobits);
    kilobits->setRange(1, kMaxKilobits);
    quality = Named(new QSlider(Qt::Horizontal), ui_script::kSaveOptionsQuality);
    quality->setRange(0, ICQUALITY_HIGH / kQualityPerPercent);
    preview = Named(new QPushButton(QStringLiteral("プレビュー")), ui_script::kSaveOptionsPreview);
    picture = Named(new QLabel, ui_script::kSaveOptionsPicture);
    picture->setFixedSize(kPreviewWidth, kPreviewHeight);
    picture->setFrameShape(QFrame::Box);
    previewText = Named(new QLabel, ui_script::kSaveOptionsPreviewText);
    storedFrames = Named(new QLabel, ui_script::kSaveOptionsStoredFrames);
    storedFrames->setWordWrap(true);
    encodeAll = Named(new QCheckBox(QStringLiteral("すべてのフレームを圧縮し直す")),
                      ui_script::kSaveOptionsEncodeAll);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    Named(buttons->button(QDialogButtonBox::Ok), ui_script::kSaveOptionsOk);
    Named(buttons->button(QDialogButtonBox::Cancel), ui_script::kSaveOptionsCancel);

    int row = 0;
    grid->addWidget(new QLabel(QStringLiteral("圧縮方法")), row, 0);
    grid->addWidget(compressor, row++, 1);
    if (QLabel* note = EvenSizeNote(sample, offered)) grid->addWidget(note, row++, 0, 1, 2);
    grid->addWidget(storedFrames, row++, 0, 1, 2);
    grid->addWidget(encodeAll, row++, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("品質")), row, 0);
    grid->addWidget(quality, row++, 1);
    grid->addWidget(keyFrames, row, 0);
    grid->addWidget(keyFrameEvery, row++, 1);
    grid->addWidget(dataRate, row, 0);
    grid->addWidget(kilobits, row++, 1);
    grid->addWidget(preview, row, 0);
    grid->addWidget(previewText, row++, 1);
    grid->addWidget(picture, row++, 0, 1, 2);
    if (audioOffer) {
        grid->addWidget(new QLabel(QStringLiteral("音声")), row, 0);
        grid->addWidget(MakeAudioList(*audioOffer), row++, 1);
    }
    grid->addWidget(buttons, row, 0, 1, 2);
    keyFrames->setVisible(flags & ICMF_CHOOSE_KEYFRAME);
    keyFrameEvery->setVisible(flags & ICMF_CHOOSE_KEYFRAME);
    dataRate->setVisible(flags & ICMF_CHOOSE_DATARATE);
    kilobits->setVisible(flags & ICMF_CHOOSE_DATARATE);
    preview->setVisible(flags & ICMF_CHOOSE_PREVIEW);
    previewText->setVisible(flags & ICMF_CHOOSE_PREVIEW);
    picture->setVisible(flags & ICMF_CHOOSE_PREVIEW);

    const bool valid = initial.dwFlags & AVICOMPRESSF_VALID;
    const int index = compressor->findData(QVariant::fromValue(initial.fccHandler));
    compressor->setCurrentIndex(valid && index >= 0 ? index : 0);
    keyFrames->setChecked(valid && (initial.dwFlags & AVICOMPRESSF_KEYFRAMES));
    keyFrameEvery->setValue(valid && initial.dwKeyFrameEvery > 0 ? int(initial.dwKeyFrameEvery)
                                                                 : kDefaultKeyFrameEvery);
    dataRate->setChecked(valid && (initial.dwFlags & AVICOMPRESSF_DATARATE));
    kilobits->setValue(valid && initial.dwBytesPerSecond > 0
                           ? int(initial.dwBytesPerSecond / kBytesPerKilobit)
                           : kDefaultKilobits);
    quality->setValue(valid && initial.dwQuality <= ICQUALITY_HIGH
                          ? int(initial.dwQuality) / kQualityPerPercent
                          : kDefaultQualityPercent);
    ShowSettingsOf(Chosen());

    QObject::connect(compressor, &QComboBox::currentIndexChanged, &dialog,
                     [this] { ShowSettingsOf(Chosen()); });
    QObject::connect(encodeAll, &QCheckBox::toggled, &dialog, [this] { ShowStoredFrames(); });
    QObject::connect(keyFrames, &QCheckBox::toggled, keyFrameEvery, &QWidget::setEnabled);
    QObject::connect(dataRate, &QCheckBox::toggled, kilobits, &QWidget::setEnabled);
    QObject::connect(preview, &QPushButton::clicked, &dialog, [this] { Preview(); });
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
}

QComboBox* SaveOptionsDialog::MakeAudioList(const AudioOffer& offer) {
    audio = Named(new QComboBox, ui_script::kSaveOptionsAudio);
    for (const AudioChoice& choice : offer.choices)
        audio->addItem(choice.name, QVariant::fromValue(choice.handler));
    const int index = audio->findData(QVariant::fromValue(DefaultAudioChoice(offer)));
    audio->setCurrentIndex(index >= 0 ? index : 0);
    return audio;
}

void SaveOptionsDialog::StoreAudio(AVICOMPRESSOPTIONS& options) const {
    options = AudioOptions(audio->currentData().toUInt());
}

// Only the settings the chosen compressor takes can be changed.
void SaveOptionsDialog::ShowSettingsOf(const avi::Compressor& chosen) {
    const bool takesKeyFrames = chosen.settings & avi::kTakesKeyFrames;
    const bool takesDataRate = chosen.settings & avi::kTakesDataRate;
    keyFrames->setEnabled(takesKeyFrames);
    keyFrameEvery->setEnabled(takesKeyFrames && keyFrames->isChecked());
    dataRate->setEnabled(takesDataRate);
    kilobits->setEnabled(takesDataRate && dataRate->isChecked());
    quality->setEnabled(chosen.settings & avi::kTakesQuality);
    picture->clear();
    previewText->clear();
    copied = avi::CopiedFrames(avi::PlanStoredFrames(stream, chosen));
    ShowStoredFrames();
}

// Says before the save how many frames are copied as their files store them and how many are
// encoded; shown only when there are frames to copy.
void SaveOptionsDialog::ShowStoredFrames() {
    const LONG frames = std::max<LONG>(AVIStreamLength(stream), 0);
    storedFrames->setVisible(copied > 0);
    encodeAll->setVisible(copied > 0);
    if (copied == 0) return;
    if (encodeAll->isChecked())
        storedFrames->setText(QStringLiteral("%1 フレームをすべて圧縮します。").arg(frames));
    else if (copied == frames)
        storedFrames->setText(
            QStringLiteral("%1 フレームをすべて元のファイルのまま写します。").arg(frames));
    else
        storedFrames->setText(
            QStringLiteral("%1 フレームは元のファイルのまま写し、%2 フレームを圧縮します。")
                .arg(copied)
                .arg(frames - copied));
}

void SaveOptionsDialog::Store(AVICOMPRESSOPTIONS& options) const {
    const avi::Compressor& chosen = Chosen();
    options.fccType = streamtypeVIDEO;
    options.fccHandler = chosen.fourcc;
    options.dwFlags = AVICOMPRESSF_VALID;
    if (keyFrames->isEnabled() && keyFrames->isChecked()) options.dwFlags |= AVICOMPRESSF_KEYFRAMES;
    if (dataRate->isEnabled() && dataRate->isChecked()) options.dwFlags |= AVICOMPRESSF_DATARATE;
    if (copied > 0 && encodeAll->isChecked()) options.dwFlags |= AVICOMPRESSF_ENCODE_ALL;
    options.dwKeyFrameEvery = DWORD(keyFrameEvery->value());
    options.dwBytesPerSecond = DWORD(kilobits->value()) * kBytesPerKilobit;
    options.dwQuality =
        quality->isEnabled() ? DWORD(quality->value() * kQualityPerPercent) : ICQUALITY_DEFAULT;
}

// The first frame as the chosen settings store it, and what it costs.
void SaveOptionsDialog::Preview() {
    AVICOMPRESSOPTIONS options{};
    Store(options);
    std::vector<uint8_t> decoded;
    int64_t storedBytes = 0;
    if (!avi::PreviewFrame(Chosen(), options, sample.format, sample.frame.data(), decoded,
                           storedBytes)) {
        picture->clear();
        previewText->setText(QStringLiteral("この設定ではプレビューできません"));
        return;
    }
    const int width = sample.format.biWidth;
    const int height = sample.format.biHeight;
    const qsizetype row = (qsizetype(width) * 3 + 3) / 4 * 4;
    const QImage image =
        QImage(decoded.data(), width, height, row, QImage::Format_BGR888).mirrored(false, true);
    picture->setPixmap(QPixmap::fromImage(image).scaled(picture->size(), Qt::KeepAspectRatio,
                                                        Qt::SmoothTransformation));
    const double percent = 100.0 * double(storedBytes) / double(sample.format.biSizeImage);
    previewText->setText(
        QStringLiteral("%1 バイト (%2 %)").arg(storedBytes).arg(percent, 0, 'f', 1));
}

std::vector<DWORD> HandlersOf(const std::vector<const avi::Compressor*>& offered) {
    std::vector<DWORD> handlers;
    for (const avi::Compressor* each : offered)
        handlers.push_back(each->fourcc);
    return handlers;
}

// `audioOffer` is null when the dialog is asked for video alone.
int ScriptedAnswer(unsigned flags, const std::vector<const avi::Compressor*>& offered,
                   const AudioOffer* audioOffer, AVICOMPRESSOPTIONS** options) {
    std::vector<DWORD> offeredAudio;
    for (size_t i = 0; audioOffer && i < audioOffer->choices.size(); ++i)
        offeredAudio.push_back(audioOffer->choices[i].handler);
    askedSaveOptions.push_back({flags, HandlersOf(offered), offeredAudio});
    if (saveAnswers.empty()) return 0;
    const std::optional<ScriptedChoice> answer = saveAnswers.front();
    saveAnswers.pop_front();
    if (!answer) return 0;
    *options[0] = answer->video;
    if (audioOffer)
        *options[1] = answer->audio.value_or(AudioOptions(DefaultAudioChoice(*audioOffer)));
    return 1;
}

} // namespace

namespace ui_script {

void QueueSaveOptions(const AVICOMPRESSOPTIONS& options) {
    saveAnswers.push_back(ScriptedChoice{options, std::nullopt});
}

void QueueSaveOptions(const AVICOMPRESSOPTIONS& video, const AVICOMPRESSOPTIONS& audio) {
    saveAnswers.push_back(ScriptedChoice{video, audio});
}

void QueueSaveOptionsCancel() {
    saveAnswers.push_back(std::nullopt);
}

const std::vector<AskedSaveOptions>& AskedSaveOptionsDialogs() {
    return askedSaveOptions;
}

void ClearSaveOptions() {
    saveAnswers.clear();
    askedSaveOptions.clear();
}

} // namespace ui_script

extern "C" int AVISaveOptions(HWND owner, unsigned flags, int streamCount, PAVISTREAM* streams,
                              AVICOMPRESSOPTIONS** options) {
    if (streamCount < 1 || streamCount > 2 || !streams || !options || !options[0] ||
        (streamCount == 2 && !options[1]))
        return 0;
    StreamSample sample;
    const std::vector<const avi::Compressor*> offered =
        ReadSample(streams[0], sample) ? avi::OfferedCompressors(sample.format, sample.info)
                                       : std::vector<const avi::Compressor*>{};
    const std::optional<AudioOffer> audio =
        streamCount == 2 ? std::optional(AudioOfferFor(streams[1], *options[1])) : std::nullopt;
    const AudioOffer* audioOffer = audio ? &*audio : nullptr;
    if (ui_script::Active()) return ScriptedAnswer(flags, offered, audioOffer, options);
    if (offered.empty() || !qApp) return 0;
    SaveOptionsDialog dialog(static_cast<QWidget*>(owner), flags, streams[0], sample, offered,
                             *options[0], audioOffer);
    if (!dialog.Run()) return 0;
    dialog.Store(*options[0]);
    if (audio) dialog.StoreAudio(*options[1]);
    return 1;
}
