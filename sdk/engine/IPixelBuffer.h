#pragma once
// A shared handle on a frame of the platform's pixels, as it travels through the graph. The frame is
// never changed once it has entered the graph, so any number of nodes may read it at once.

#include "platform/media/PixelBuffer.h"

#include <memory>

namespace livecore {

class IPixelBuffer {
public:
    virtual ~IPixelBuffer() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual const platform::CVPixelBufferRef& cvBuffer() const = 0;
};

namespace Apple {

class PixelBuffer final : public IPixelBuffer {
public:
    explicit PixelBuffer(platform::CVPixelBufferRef buffer)
        : m_buffer(std::move(buffer)) {}
    int width() const override { return m_buffer->width(); }
    int height() const override { return m_buffer->height(); }
    const platform::CVPixelBufferRef& cvBuffer() const override { return m_buffer; }

private:
    platform::CVPixelBufferRef m_buffer;
};

} // namespace Apple
} // namespace livecore
