#include "player.h"

#include "outcome_box.h"
#include "paint_frame.h"
#include "session.h"

#include <QTimer>

#include <algorithm>
#include <climits>
#include <cstdio>

namespace {

const dlg::ControlDef kControls140[] = {
    {kPlayerPicture, dlg::Kind::Edit, "", 5, 5, 90, 70,
     dlg::kDisabled | dlg::kBorder | dlg::kKeepAspect},
    {dlg::kNoId, dlg::Kind::GroupBox, "Speed Control", 5, 80, 90, 40},
    {kPlayerSpeedSlider, dlg::Kind::HSlider, "", 10, 105, 78, 9},
    {kPlayerSpeedOffset, dlg::Kind::Edit, "", 38, 92, 24, 12, dlg::kCentre},
    {dlg::kNoId, dlg::Kind::GroupBox, "Frame Rate", 101, 0, 95, 40},
    {kPlayerRateText, dlg::Kind::Edit, "", 106, 12, 85, 12, dlg::kCentre},
    {kPlayerRateSet, dlg::Kind::PushButton, "RateSet", 128, 25, 40, 10},
    {dlg::kNoId, dlg::Kind::GroupBox, "Control", 101, 40, 95, 80},
    {kPlayerPosition, dlg::Kind::Edit, "", 106, 53, 85, 12, dlg::kCentre},
    {kPlayerTime, dlg::Kind::Edit, "", 106, 68, 85, 12, dlg::kCentre},
    {kPlayerBack, dlg::Kind::PushButton, "<", 118, 87, 8, 12},
    {kPlayerPlay, dlg::Kind::PushButton, "play", 128, 87, 40, 12},
    {kPlayerForward, dlg::Kind::PushButton, ">", 170, 87, 8, 12},
    {kPlayerStop, dlg::Kind::PushButton, "stop", 128, 101, 40, 12},
};

constexpr int kSpeedSliderMiddle = 100;
// The longest wait between two ticks while the sound plays: well within what it holds ahead.
constexpr int64_t kFeedMilliseconds = 40;

QString Unsigned(uint32_t value) {
    return QString::number(value);
}

// Whole frames per second, rate / scale with the remainder dropped; 0 for a zero scale.
int32_t WholeRate(const AVISTREAMINFOA& info) {
    const uint32_t whole = info.dwScale ? info.dwRate / info.dwScale : 0;
    return int32_t(std::min<uint32_t>(whole, INT32_MAX));
}

// A play time as whole minutes, seconds and hundredths. Frame counts are 32-bit and rates at
// least 1, so the minutes fit 32 bits.
struct PlayTime {
    unsigned minutes, seconds, hundredths;
};

PlayTime Split(double seconds) {
    const auto whole = static_cast<unsigned long long>(seconds);
    return {unsigned(whole / 60), unsigned(whole % 60),
            unsigned((seconds - double(whole)) * 100) % 100};
}

} // namespace

int64_t EffectiveRate(const PlayerState& state) {
    return std::max<int64_t>(int64_t(state.baseRate) + state.speedExtra, 1);
}

void FormatPlayTime(PlayerState& state, double frames) {
    state.totalSeconds = frames / double(EffectiveRate(state));
    state.positionSeconds =
        frames > 1 ? state.totalSeconds / (frames - 1) * double(state.playPosition) : 0.0;
    const PlayTime total = Split(state.totalSeconds);
    const PlayTime position = Split(state.positionSeconds);
    std::snprintf(state.timeText, sizeof state.timeText, "%.2u:%.2u.%.2u / %.2u:%.2u.%.2u",
                  total.minutes, total.seconds, total.hundredths, position.minutes,
                  position.seconds, position.hundredths);
}

PlayerPanelDialog::PlayerPanelDialog(QWidget* parent)
    : Dialog({"", 200, 121, kControls140}, parent, dlg::Role::Panel), timer_(new QTimer(this)),
      sound_(MakeDeviceAudioOutput(), {}) {
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, [this] { tick(); });
}

void PlayerPanelDialog::initialise() {
    state_.playPosition = 0;
    state_.speedOffset = 0;
    state_.speedExtra = 0;
    state_.baseRate = WholeRate(workspace.streamInfo);
    setRange(kPlayerSpeedSlider, 1, 200);
    setPosition(kPlayerSpeedSlider, kSpeedSliderMiddle);
    setText(kPlayerPosition, Unsigned(state_.playPosition));
    frame_.assign(workspace.frameFormat ? workspace.frameFormat->biSizeImage : 0, 0);
    readFrame(workspace.currentStream);
    showRate();
    // The sound playing belongs to the position left behind.
    if (sound_.running()) play();
}

void PlayerPanelDialog::stop() {
    timer_->stop();
    sound_.stop();
}

void PlayerPanelDialog::useSound(std::unique_ptr<AudioOutput> output, SoundSource source) {
    stop();
    sound_ = SoundFeed(std::move(output), std::move(source));
}

void PlayerPanelDialog::rereadFrame() {
    const uint32_t count = frameCount();
    if (count > 0 && state_.playPosition >= count) state_.playPosition = count - 1;
    const int slot = workspace.currentSlot;
    if (slot >= 0 && slot < workspace.slotCount) readFrame(workspace.slotStreams[slot]);
    invalidate();
}

bool PlayerPanelDialog::playing() const {
    return timer_->isActive();
}

int PlayerPanelDialog::tick() {
    timer_->stop();
    const uint32_t shown = state_.playPosition;
    const bool followingSound = sound_.running();
    if (followingSound)
        followSound();
    else
        advanceOneFrame();
    // The sound's ticks come more often than its frames change: a frame is read once.
    if (!followingSound || state_.playPosition != shown) {
        const int slot = workspace.currentSlot;
        if (slot >= 0 && slot < workspace.slotCount) readFrame(workspace.slotStreams[slot]);
        invalidate();
    }
    armNextTick();
    return int(1000 / EffectiveRate(state_));
}

// Playback loops over 0 .. count - 2; the last frame is reached only by stepping.
void PlayerPanelDialog::advanceOneFrame() {
    const uint32_t count = frameCount();
    const uint32_t next = state_.playPosition + 1;
    const bool loops = count > 1 && next >= count - 1;
    state_.playPosition = count <= 1 ? 0 : loops ? next % (count - 1) : next;
    if (loops) startSound();
}

// Shows the frame whose sound is heard. The end of the loop stops the sound and starts it again
// from the first frame; a sound that ends before the frames leaves the rest to the timer.
void PlayerPanelDialog::followSound() {
    sound_.feed();
    const int64_t heard = sound_.heard();
    const uint32_t last = frameCount() - 1;
    uint32_t position = state_.playPosition;
    while (position + 1 < last && sound_.firstSampleOf(LONG(position + 1)) <= heard)
        ++position;
    state_.playPosition = position;
    if (!sound_.finished()) return;
    sound_.stop();
    if (heard < sound_.firstSampleOf(LONG(last))) return;
    state_.playPosition = 0;
    startSound();
}

void PlayerPanelDialog::onCommand(int id) {
    switch (id) {
    case kPlayerPlay:
        play();
        break;
    case kPlayerStop:
        stop();
        break;
    case kPlayerBack:
        step(-1);
        break;
    case kPlayerForward:
        step(+1);
        break;
    case kPlayerRateSet:
        setRate();
        break;
    default:
        break;
    }
}

void PlayerPanelDialog::onScroll(int id) {
    if (id != kPlayerSpeedSlider) return;
    state_.speedOffset = position(kPlayerSpeedSlider) - kSpeedSliderMiddle;
    state_.speedExtra = int32_t(int64_t(state_.baseRate) * state_.speedOffset / 100);
    showRate();
    // The sound plays at the stream's own speed only.
    if (playing()) play();
}

void PlayerPanelDialog::onPaint() {
    FormatPlayTime(state_, double(frameCount()));
    setText(kPlayerTime, QString::fromLatin1(state_.timeText));
    setText(kPlayerPosition, Unsigned(state_.playPosition));
    PaintFrame(*this, kPlayerPicture, frameBuffer(), workspace.frameFormat);
}

// Starting again while playing restarts the schedule and the sound; the single timer never
// holds two ticks.
void PlayerPanelDialog::play() {
    sound_.stop();
    startSound();
    due_ = Clock::now();
    armNextTick();
}

void PlayerPanelDialog::startSound() {
    const uint32_t count = frameCount();
    if (state_.speedOffset != 0 || count < 2) return;
    if (sound_.start(workspace.currentSlot, LONG(state_.playPosition), LONG(count - 1)))
        sound_.feed();
}

void PlayerPanelDialog::step(int direction) {
    stop();
    const uint32_t position = state_.playPosition;
    if (direction < 0 && position > 0)
        state_.playPosition = position - 1;
    else if (direction > 0 && position + 1 < frameCount())
        state_.playPosition = position + 1;
    else
        return;
    readFrame(workspace.currentStream);
    invalidate();
}

// The session announces the new rate, and the panel starts afresh from it.
void PlayerPanelDialog::setRate() {
    stop();
    ShowOutcome(window(), session::SetRate(DWORD(EffectiveRate(state_))));
}

void PlayerPanelDialog::showRate() {
    setText(kPlayerRateText,
            QString::asprintf("1 Sec %.3d Frame",
                              int(std::min<int64_t>(EffectiveRate(state_), INT_MAX))));
    setNumber(kPlayerSpeedOffset, state_.speedOffset);
    invalidate();
}

// With sound, the next tick comes when the next frame's sound is heard, and often enough to keep
// the sound fed. Without, it is due one period after the last one was; a tick more than a period
// late starts the schedule afresh rather than rushing several frames out.
void PlayerPanelDialog::armNextTick() {
    if (sound_.running()) {
        const int64_t next =
            sound_.millisecondsUntil(sound_.firstSampleOf(LONG(state_.playPosition + 1)));
        timer_->start(std::chrono::milliseconds(std::clamp<int64_t>(next, 1, kFeedMilliseconds)));
        return;
    }
    const auto period = std::chrono::nanoseconds(1'000'000'000 / EffectiveRate(state_));
    const Clock::time_point now = Clock::now();
    due_ += period;
    if (due_ + period < now) due_ = now;
    const auto wait = std::chrono::round<std::chrono::milliseconds>(due_ - now);
    timer_->start(std::max(wait, std::chrono::milliseconds(0)));
}

uint32_t PlayerPanelDialog::frameCount() const {
    return workspace.streamInfo.dwLength;
}

// The buffer always holds one frame of the current format, so reading and painting stay
// inside it whatever format became current.
uint8_t* PlayerPanelDialog::frameBuffer() {
    const std::size_t size = workspace.frameFormat ? workspace.frameFormat->biSizeImage : 0;
    if (frame_.size() < std::max<std::size_t>(size, 1))
        frame_.resize(std::max<std::size_t>(size, 1));
    return frame_.data();
}

void PlayerPanelDialog::readFrame(PAVISTREAM stream) {
    session::ReadFrame(stream, LONG(state_.playPosition), frameBuffer());
}
