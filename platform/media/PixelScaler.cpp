#include "platform/media/PixelScaler.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace platform {

namespace {

bool inside(const CVPixelBuffer& buffer, PixelRect rect) {
    return rect.width > 0 && rect.height > 0 && rect.x >= 0 && rect.y >= 0 &&
           rect.x + rect.width <= buffer.width() && rect.y + rect.height <= buffer.height();
}

// Where an output pixel samples its axis: between source pixels `index` and `index + 1`, `weight`
// 256ths of the way (pixel centres aligned, edges clamped).
struct Tap {
    int index;
    uint32_t weight;
};

std::vector<Tap> tapsFor(int from, int to) {
    std::vector<Tap> taps(to);
    const double ratio = double(from) / to;
    const int lastPair = std::max(from - 2, 0);
    for (int i = 0; i < to; ++i) {
        const double at = std::clamp((i + 0.5) * ratio - 0.5, 0.0, double(from - 1));
        const int index = std::min(int(at), lastPair);
        taps[i] = {index, static_cast<uint32_t>(std::lround((at - index) * 256))};
    }
    return taps;
}

} // namespace

struct PixelScaler::State {
    // The sampling positions, for a source of fromWidth x fromHeight and an output of as many columns
    // and rows as they hold.
    int fromWidth{0};
    int fromHeight{0};
    std::vector<Tap> columns;
    std::vector<Tap> rows;
    // Two source rows blended horizontally, in 256ths, kept while consecutive output rows share them.
    std::vector<uint16_t> upper;
    std::vector<uint16_t> lower;
};

PixelScaler::PixelScaler()
    : m_state(std::make_unique<State>()) {}

PixelScaler::~PixelScaler() = default;

bool PixelScaler::scale(const CVPixelBuffer& source, PixelRect from, CVPixelBuffer& destination,
                        PixelRect to) {
    if (!inside(source, from) || !inside(destination, to))
        return false;
    auto& state = *m_state;
    if (state.fromWidth != from.width || state.fromHeight != from.height ||
        state.columns.size() != size_t(to.width) || state.rows.size() != size_t(to.height)) {
        state.fromWidth = from.width;
        state.fromHeight = from.height;
        state.columns = tapsFor(from.width, to.width);
        state.rows = tapsFor(from.height, to.height);
        state.upper.assign(size_t(to.width) * 4, 0);
        state.lower.assign(size_t(to.width) * 4, 0);
    }

    // A one-pixel-wide source has no right-hand neighbour: its taps have weight 0 but still read
    // index + 1, so those reads stay on the pixel itself.
    const int neighbour = from.width > 1 ? 4 : 0;
    const int neighbourRow = from.height > 1 ? 1 : 0;
    auto blendRow = [&](int row, uint16_t* out) {
        const uint8_t* pixels =
            source.pixels() + size_t(from.y + row) * source.bytesPerRow() + size_t(from.x) * 4;
        for (int x = 0; x < to.width; ++x) {
            const uint8_t* left = pixels + size_t(state.columns[x].index) * 4;
            const uint32_t right = state.columns[x].weight;
            const uint32_t leftWeight = 256 - right;
            for (int c = 0; c < 4; ++c)
                out[x * 4 + c] = static_cast<uint16_t>(left[c] * leftWeight + left[c + neighbour] * right);
        }
    };

    int upperRow = -1;
    int lowerRow = -1;
    const size_t values = size_t(to.width) * 4;
    for (int y = 0; y < to.height; ++y) {
        const int top = state.rows[y].index;
        const int bottom = top + neighbourRow;
        if (upperRow != top) {
            if (lowerRow == top) {
                std::swap(state.upper, state.lower);
                std::swap(upperRow, lowerRow);
            } else {
                blendRow(top, state.upper.data());
                upperRow = top;
            }
        }
        if (lowerRow != bottom) {
            blendRow(bottom, state.lower.data());
            lowerRow = bottom;
        }
        const uint32_t down = state.rows[y].weight;
        const uint32_t upWeight = 256 - down;
        const uint16_t* upper = state.upper.data();
        const uint16_t* lower = state.lower.data();
        uint8_t* out =
            destination.mutablePixels() + size_t(to.y + y) * destination.bytesPerRow() + size_t(to.x) * 4;
        for (size_t i = 0; i < values; ++i)
            out[i] = static_cast<uint8_t>((upper[i] * upWeight + lower[i] * down + 32768) >> 16);
    }
    return true;
}

} // namespace platform
