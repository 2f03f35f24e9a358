#pragma once
// The microphone (the platform's audio capture with its data output): while running it delivers
// 44.1 kHz mono 16-bit samples in buffers of 1024, paced by the installed clock, to the handler on the
// output's own thread. No microphone exists here, so the samples are silence with a 1 kHz beep during
// the first 100 ms of each whole second of the clock: the moments the test card's marker lights.
//
// Promises: every sample is delivered once, in order, with the clock time of the buffer's first sample
// (a late thread catches up buffer by buffer; samples are never skipped). stopRunning() returns once no
// handler runs any more (not from the handler).

#include "platform/media/CaptureTicker.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

class CaptureAudioDataOutput {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    static constexpr int sampleRate = 44100;
    static constexpr int samplesPerBuffer = 1024;
    static constexpr int beepFrequency = 1000;

    using Handler = std::function<void(const int16_t* samples, size_t count, MonoTime firstSampleTime)>;

    static std::shared_ptr<CaptureAudioDataOutput> create(Handler handler);
    CaptureAudioDataOutput(PrivateTag, Handler handler);
    ~CaptureAudioDataOutput();

    void startRunning();
    void stopRunning();
    // When the next buffer is delivered: the time just after its last sample.
    MonoTime nextDeliveryTime() const { return m_ticker.nextDue(); }

private:
    void deliver(MonoTime due);

    const Handler m_handler;
    CaptureTicker m_ticker;
};

} // namespace platform
