#include "sdk/engine/AspectTransform.h"

#include "sdk/engine/IPixelBuffer.h"

#include <algorithm>
#include <cmath>

namespace livecore {

AspectTransform::AspectTransform(int width, int height, AspectMode mode)
    : m_width(width)
    , m_height(height)
    , m_mode(mode) {}

void AspectTransform::pushBuffer(const uint8_t*, size_t, IMetadata& metadata) {
    if (metadata.type() != VideoBufferMetadata().type())
        return;
    auto& video = static_cast<VideoBufferMetadata&>(metadata);
    const auto& input = video.getData<kVideoMetadataPixelBuffer>();
    if (!input)
        return;
    if (input->width() == m_width && input->height() == m_height) {
        m_output.push(input->cvBuffer()->pixels(), input->cvBuffer()->byteCount(), metadata);
        return;
    }
    auto frame = platform::CVPixelBufferCreate(m_width, m_height);
    if (!frame)
        return;
    // Whole pixels: the part of the picture that is shown, and where it goes (the rest stays black).
    const int sourceWidth = input->width();
    const int sourceHeight = input->height();
    platform::PixelRect from{0, 0, sourceWidth, sourceHeight};
    platform::PixelRect to{0, 0, m_width, m_height};
    const AspectMode mode = m_mode;
    if (mode != AspectMode::Stretch) {
        const double scaleX = double(m_width) / sourceWidth;
        const double scaleY = double(m_height) / sourceHeight;
        if (mode == AspectMode::Fit) {
            const double scale = std::min(scaleX, scaleY);
            to.width = std::clamp(int(std::lround(sourceWidth * scale)), 1, m_width);
            to.height = std::clamp(int(std::lround(sourceHeight * scale)), 1, m_height);
            to.x = (m_width - to.width) / 2;
            to.y = (m_height - to.height) / 2;
        } else {
            const double scale = std::max(scaleX, scaleY);
            from.width = std::clamp(int(std::lround(m_width / scale)), 1, sourceWidth);
            from.height = std::clamp(int(std::lround(m_height / scale)), 1, sourceHeight);
            from.x = (sourceWidth - from.width) / 2;
            from.y = (sourceHeight - from.height) / 2;
        }
    }
    if (!m_scaler.scale(*input->cvBuffer(), from, *frame, to))
        return;

    VideoBufferMetadata out(metadata.timestampDelta);
    out.setData(std::make_shared<Apple::PixelBuffer>(frame), false);
    m_output.push(frame->pixels(), frame->byteCount(), out);
}

} // namespace livecore
