// Scaling a rectangle of a frame into a rectangle of another, on frames small enough to reason about
// pixel by pixel.
#include "platform/media/PixelScaler.h"

#include <gtest/gtest.h>

using platform::CVPixelBuffer;
using platform::PixelRect;

namespace {

void fill(CVPixelBuffer& buffer, PixelRect rect, uint32_t bgra) {
    for (int y = rect.y; y < rect.y + rect.height; ++y)
        for (int x = rect.x; x < rect.x + rect.width; ++x)
            for (int c = 0; c < 4; ++c)
                buffer.mutablePixels()[y * buffer.bytesPerRow() + x * 4 + c] = uint8_t(bgra >> (8 * c));
}

uint32_t pixel(const CVPixelBuffer& buffer, int x, int y) {
    const uint8_t* p = buffer.pixels() + y * buffer.bytesPerRow() + x * 4;
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

} // namespace

TEST(PixelScaler, ScalesTheRectangleIntoItsPlaceAndLeavesTheRestAlone) {
    auto source = platform::CVPixelBufferCreate(8, 4);
    // Left half dark grey, right half white; a blue column at x 0 to see what a crop leaves out.
    fill(*source, {0, 0, 8, 4}, 0xFF404040);
    fill(*source, {4, 0, 4, 4}, 0xFFFFFFFF);
    fill(*source, {0, 0, 1, 4}, 0xFF0000FF);
    struct Case {
        const char* name;
        PixelRect from;
        PixelRect to;
        std::vector<std::pair<int, uint32_t>> row1; // x and the pixel expected in row 1 of a 6x3 frame
    };
    const Case cases[] = {
        {"same size: an exact copy",
         {1, 0, 6, 3},
         {0, 0, 6, 3},
         {{0, 0xFF404040}, {2, 0xFF404040}, {3, 0xFFFFFFFF}, {5, 0xFFFFFFFF}}},
        {"halved: each pixel the mean of two",
         {0, 0, 8, 4},
         {1, 0, 4, 2},
         {{0, 0xFF000000}, {1, 0xFF2020A0}, {2, 0xFF404040}, {3, 0xFFFFFFFF}, {5, 0xFF000000}}},
        {"doubled: the middle blends its neighbours",
         {3, 0, 2, 2},
         {0, 0, 4, 3},
         {{0, 0xFF404040}, {1, 0xFF707070}, {2, 0xFFCFCFCF}, {3, 0xFFFFFFFF}, {4, 0xFF000000}}},
    };
    for (const auto& [name, from, to, row1] : cases) {
        SCOPED_TRACE(name);
        auto destination = platform::CVPixelBufferCreate(6, 3);
        platform::PixelScaler scaler;
        ASSERT_TRUE(scaler.scale(*source, from, *destination, to));
        for (const auto& [x, expected] : row1)
            EXPECT_EQ(pixel(*destination, x, 1), expected) << "x " << x;
        EXPECT_EQ(pixel(*destination, 5, 2),
                  to.x + to.width > 5 && to.height > 2 ? pixel(*destination, 5, 1) : 0xFF000000u);
    }
}

TEST(PixelScaler, RefusesEmptyRectanglesAndRectanglesReachingOutside) {
    auto source = platform::CVPixelBufferCreate(8, 4);
    auto destination = platform::CVPixelBufferCreate(6, 3);
    platform::PixelScaler scaler;
    for (auto [from, to] : {std::pair<PixelRect, PixelRect>{{0, 0, 0, 4}, {0, 0, 6, 3}},
                            {{0, 0, 8, 4}, {0, 0, 6, 0}},
                            {{1, 0, 8, 4}, {0, 0, 6, 3}},
                            {{0, 0, 8, 4}, {0, 1, 6, 3}},
                            {{-1, 0, 4, 4}, {0, 0, 6, 3}}})
        EXPECT_FALSE(scaler.scale(*source, from, *destination, to));
    EXPECT_TRUE(scaler.scale(*source, {0, 0, 1, 1}, *destination, {0, 0, 6, 3})) << "a single pixel spreads";
}
