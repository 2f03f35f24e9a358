#pragma once
// Fits each frame into the stream's video size: fit shows the whole picture with black bars on two
// sides, fill covers the whole frame and crops what overflows, stretch scales each axis on its own.
// The output frame is always the video size; a frame already of that size passes through untouched.
// The mode may change at any time and applies from the next frame. Frames are pushed one at a time
// (the camera's road is serial).

#include "platform/media/PixelScaler.h"
#include "sdk/engine/IOutput.h"

#include <atomic>

namespace livecore {

class AspectTransform final : public ITransform {
public:
    enum class AspectMode { Fit = 0, Fill = 1, Stretch = 2 };

    AspectTransform(int width, int height, AspectMode mode);

    void setAspectMode(AspectMode mode) { m_mode = mode; }
    AspectMode aspectMode() const { return m_mode; }

    void setOutput(std::shared_ptr<IOutput> output) override { m_output.set(output); }
    void pushBuffer(const uint8_t* data, size_t size, IMetadata& metadata) override;

private:
    const int m_width;
    const int m_height;
    std::atomic<AspectMode> m_mode;
    platform::PixelScaler m_scaler;
    OutputLink m_output;
};

} // namespace livecore
