#include "sdk/engine/AspectTransform.h"

#include "platform/graphics/Color.h"
#include "platform/graphics/GraphicsContextFunctions.h"
#include "sdk/engine/IPixelBuffer.h"

#include <algorithm>

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
    const double sourceWidth = input->width();
    const double sourceHeight = input->height();
    platform::CGRect placed = platform::CGRectMake(0, 0, m_width, m_height);
    const AspectMode mode = m_mode;
    if (mode != AspectMode::Stretch) {
        const double scaleX = m_width / sourceWidth;
        const double scaleY = m_height / sourceHeight;
        const double scale = mode == AspectMode::Fit ? std::min(scaleX, scaleY) : std::max(scaleX, scaleY);
        const double width = sourceWidth * scale;
        const double height = sourceHeight * scale;
        placed = platform::CGRectMake((m_width - width) / 2, (m_height - height) / 2, width, height);
    }
    auto context = platform::CGBitmapContextCreate(
        frame->mutablePixels(), m_width, m_height, 8, frame->bytesPerRow(),
        platform::CGColorSpaceCreateDeviceRGB(),
        platform::kCGBitmapByteOrder32Little | platform::kCGImageAlphaNoneSkipFirst);
    platform::CGContextDrawImage(context, placed, input->cvBuffer());

    VideoBufferMetadata out(metadata.timestampDelta);
    out.setData(std::make_shared<Apple::PixelBuffer>(frame), false);
    m_output.push(frame->pixels(), frame->byteCount(), out);
}

} // namespace livecore
