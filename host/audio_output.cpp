#include "audio_output.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>

#include <algorithm>

namespace {

// Room for what the player keeps ahead of the clock, with a margin.
constexpr qint64 kBufferMicroseconds = 400'000;

class DeviceAudioOutput final : public AudioOutput {
  public:
    bool start(const WAVEFORMATEX& format) override {
        stop();
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull()) return false;
        QAudioFormat wanted;
        wanted.setSampleRate(int(format.nSamplesPerSec));
        wanted.setChannelCount(format.nChannels);
        wanted.setSampleFormat(QAudioFormat::Int16);
        if (!device.isFormatSupported(wanted)) return false;
        sink_ = std::make_unique<QAudioSink>(device, wanted);
        sink_->setBufferSize(wanted.bytesForDuration(kBufferMicroseconds));
        device_ = sink_->start();
        if (!device_ || sink_->error() != QAudio::NoError) {
            stop();
            return false;
        }
        samplesPerSecond_ = format.nSamplesPerSec;
        return true;
    }

    int64_t room() const override { return sink_ ? sink_->bytesFree() : 0; }

    int64_t write(const char* bytes, int64_t size) override {
        return device_ ? std::max<qint64>(device_->write(bytes, size), 0) : 0;
    }

    // Qt's sink counts what the sound server has read less the server's own latency, and never
    // more than was written: what has been heard.
    int64_t playedSamples() const override {
        return sink_ ? sink_->processedUSecs() * samplesPerSecond_ / 1'000'000 : 0;
    }

    void stop() override {
        if (sink_) sink_->stop();
        sink_.reset();
        device_ = nullptr;
    }

  private:
    std::unique_ptr<QAudioSink> sink_;
    QIODevice* device_ = nullptr; // the sink's, valid while it runs
    int64_t samplesPerSecond_ = 0;
};

} // namespace

std::unique_ptr<AudioOutput> MakeDeviceAudioOutput() {
    return std::make_unique<DeviceAudioOutput>();
}
