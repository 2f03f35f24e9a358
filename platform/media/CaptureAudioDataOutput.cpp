#include "platform/media/CaptureAudioDataOutput.h"

#include "platform/media/TestCard.h"

#include <array>
#include <cmath>
#include <numbers>

namespace platform {

std::shared_ptr<CaptureAudioDataOutput> CaptureAudioDataOutput::create(Handler handler) {
    return std::make_shared<CaptureAudioDataOutput>(PrivateTag{}, std::move(handler));
}

CaptureAudioDataOutput::CaptureAudioDataOutput(PrivateTag, Handler handler)
    : m_handler(std::move(handler))
    , m_ticker("microphone", samplesPerBuffer, sampleRate, false,
               [this](MonoTime due, int64_t) { deliver(due); }) {}

CaptureAudioDataOutput::~CaptureAudioDataOutput() {
    stopRunning();
}

void CaptureAudioDataOutput::startRunning() {
    m_ticker.start();
}

void CaptureAudioDataOutput::stopRunning() {
    m_ticker.stop();
}

// A buffer is complete at its deadline: its samples are the ones just before it.
void CaptureAudioDataOutput::deliver(MonoTime due) {
    const auto bufferDuration =
        std::chrono::nanoseconds(int64_t(samplesPerBuffer) * 1'000'000'000 / sampleRate);
    const MonoTime first = due - bufferDuration;
    const double firstSeconds = TestCard::secondsOf(first);
    std::array<int16_t, samplesPerBuffer> samples{};
    for (int i = 0; i < samplesPerBuffer; ++i) {
        const double t = firstSeconds + double(i) / sampleRate;
        const double intoSecond = t - std::floor(t);
        if (intoSecond < TestCard::markerSeconds)
            samples[i] =
                static_cast<int16_t>(16000 * std::sin(2 * std::numbers::pi * beepFrequency * intoSecond));
    }
    if (m_handler)
        m_handler(samples.data(), samples.size(), first);
}

} // namespace platform
