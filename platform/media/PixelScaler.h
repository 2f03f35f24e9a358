#pragma once
// Scales a rectangle of one pixel buffer into a rectangle of another (bilinear, pixel centres aligned,
// each of the four 8-bit channels alike), the platform's image-scaling service for frames. Pixels of
// the destination outside its rectangle are left as they are. One scaler keeps its sampling positions
// between frames of the same geometry; not thread-safe.

#include "platform/media/PixelBuffer.h"

#include <memory>

namespace platform {

struct PixelRect {
    int x{0};
    int y{0};
    int width{0};
    int height{0};
};

class PixelScaler {
public:
    PixelScaler();
    ~PixelScaler();
    PixelScaler(const PixelScaler&) = delete;
    PixelScaler& operator=(const PixelScaler&) = delete;

    // False (nothing written) when a rectangle is empty or reaches outside its buffer.
    bool scale(const CVPixelBuffer& source, PixelRect from, CVPixelBuffer& destination, PixelRect to);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace platform
