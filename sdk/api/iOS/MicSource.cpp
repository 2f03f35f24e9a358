#include "sdk/api/iOS/MicSource.h"

#include <vector>

namespace livecore::iOS {

std::shared_ptr<MicSource> MicSource::create() {
    return std::make_shared<MicSource>(PrivateTag{});
}

MicSource::MicSource(PrivateTag)
    : m_capture(platform::CaptureAudioDataOutput::create(
          [this](const int16_t* samples, size_t count, platform::MonoTime time) {
              captured(samples, count, time);
          })) {}

MicSource::~MicSource() {
    stopRunning();
}

void MicSource::startRunning() {
    m_capture->startRunning();
}

void MicSource::stopRunning() {
    m_capture->stopRunning();
    m_road.enqueueSync([] {});
}

platform::MonoTime MicSource::nextCaptureTime() const {
    return m_capture->nextDeliveryTime();
}

void MicSource::captured(const int16_t* samples, size_t count, platform::MonoTime time) {
    if (!m_output.get())
        return;
    std::vector<int16_t> stereo(count * channelCount);
    for (size_t i = 0; i < count; ++i)
        stereo[2 * i] = stereo[2 * i + 1] = samples[i];
    m_road.enqueue([this, stereo = std::move(stereo), milliseconds = millisecondsOf(time)] {
        AudioBufferMetadata metadata(milliseconds);
        metadata.setData(platform::CaptureAudioDataOutput::sampleRate, channelCount);
        m_output.push(reinterpret_cast<const uint8_t*>(stereo.data()), stereo.size() * sizeof(int16_t),
                      metadata);
    });
}

} // namespace livecore::iOS
