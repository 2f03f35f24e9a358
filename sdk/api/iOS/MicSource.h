#pragma once
// The session's microphone: the source of the audio road. Its mono samples are doubled to stereo
// (the encoder's layout) and enter the road on the microphone's own job queue, in order; while the
// road has no output (not publishing) they are not kept.
//
// Promises: startRunning()/stopRunning() as the camera's; stopRunning() returns once no buffer is
// delivered or travelling. Thread-safe.

#include "platform/media/CaptureAudioDataOutput.h"
#include "sdk/engine/IOutput.h"
#include "sdk/engine/JobQueue.h"

#include <memory>

namespace livecore::iOS {

class MicSource final : public ISource {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    static constexpr int channelCount = 2;

    static std::shared_ptr<MicSource> create();
    MicSource(PrivateTag);
    ~MicSource() override;

    void setOutput(std::shared_ptr<IOutput> output) override { m_output.set(output); }
    void startRunning();
    void stopRunning();
    int sampleRate() const { return platform::CaptureAudioDataOutput::sampleRate; }

    // For tests that pace capture with a ManualClock (CameraSource has the same).
    platform::MonoTime nextCaptureTime() const;
    bool isRoadIdle() const { return m_road.isIdle(); }

private:
    void captured(const int16_t* samples, size_t count, platform::MonoTime time);

    OutputLink m_output;
    JobQueue m_road{"com.marvane.audio.road"};
    std::shared_ptr<platform::CaptureAudioDataOutput> m_capture; // made last: it calls back into the above
};

} // namespace livecore::iOS
