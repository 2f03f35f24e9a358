#include "platform/media/TestCard.h"

#include "platform/foundation/Value.h"
#include "platform/graphics/AttributedString.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/Font.h"
#include "platform/graphics/GraphicsContextFunctions.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "platform/graphics/GraphicsContextText.h"
#include "platform/graphics/TextMeasure.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <string>

namespace platform {

namespace {

constexpr std::array<std::array<double, 3>, 7> barColours = {{{0.75, 0.75, 0.75},
                                                              {0.75, 0.75, 0},
                                                              {0, 0.75, 0.75},
                                                              {0, 0.75, 0},
                                                              {0.75, 0, 0.75},
                                                              {0.75, 0, 0},
                                                              {0, 0, 0.75}}};

// Segments a..g of the digits 0-9, as bits 0..6.
constexpr std::array<uint8_t, 10> digitSegments = {0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                                   0x6D, 0x7D, 0x07, 0x7F, 0x6F};

class Painter {
public:
    // A context over the frame's pixels whose coordinates start at the top left, as the card is laid out.
    explicit Painter(const CVPixelBufferRef& frame)
        : m_context(CGBitmapContextCreate(frame->mutablePixels(), frame->width(), frame->height(), 8,
                                          frame->bytesPerRow(), CGColorSpaceCreateDeviceRGB(),
                                          kCGBitmapByteOrder32Little | kCGImageAlphaNoneSkipFirst))
        , m_height(frame->height()) {}

    void fill(CGRect rect, double r, double g, double b, double a = 1) {
        CGContextSetRGBFillColor(m_context, r, g, b, a);
        CGContextFillRect(m_context, CGRectMake(rect.origin.x, m_height - rect.origin.y - rect.size.height,
                                                rect.size.width, rect.size.height));
    }

    // One seven-segment digit in the box (x, y, w, h).
    void digit(int value, double x, double y, double w, double h) {
        const double t = std::max(2.0, w / 6);
        const CGRect segments[7] = {
            CGRectMake(x, y, w, t),                     // a
            CGRectMake(x + w - t, y, t, h / 2),         // b
            CGRectMake(x + w - t, y + h / 2, t, h / 2), // c
            CGRectMake(x, y + h - t, w, t),             // d
            CGRectMake(x, y + h / 2, t, h / 2),         // e
            CGRectMake(x, y, t, h / 2),                 // f
            CGRectMake(x, y + (h - t) / 2, w, t),       // g
        };
        for (int s = 0; s < 7; ++s) {
            if (digitSegments[value] & (1 << s))
                fill(segments[s], 1, 1, 1);
        }
    }

    const CGContextRef& context() const { return m_context; }

private:
    CGContextRef m_context;
    const int m_height;
};

// The widest the camera's name and the timecode may be: the card's middle 9:16, which a portrait
// stream's crop of a landscape card keeps, less a margin on each side.
double middleRoom(int width, int height) {
    constexpr double margin = 0.05; // of the band, each side
    return std::min(width, height * 9 / 16) * (1 - 2 * margin);
}

NSAttributes labelAttributes(double fontSize) {
    NSAttributes attributes;
    attributes.set(NSFontAttributeName, Value(UIFont::boldSystemFontOfSize(fontSize)));
    attributes.set(NSForegroundColorAttributeName, Value(UIColor::whiteColor()));
    return attributes;
}

// The largest bold font size, up to `largest`, in which the label fits `room`.
double labelFontSize(const std::string& label, double largest, double room) {
    double fontSize = largest;
    for (;;) {
        const double measured = sizeWithAttributes(label, labelAttributes(fontSize)).width;
        if (measured <= room || fontSize < 1)
            return fontSize;
        // Text widens about in proportion to its size, but hinting can leave it a little over.
        fontSize *= std::min(room / measured, 0.98);
    }
}

// Walks HH:MM:SS:FF left to right from x = 0, handing `place` each glyph's left edge (digits as 0-7,
// separators as -1), and answers the width the glyphs cover: drawing and centring share this one layout.
template <typename Place> double layOutTimecode(double digitWidth, Place&& place) {
    const double gap = digitWidth / 2;
    double x = 0;
    for (int digit = 0; digit < 8; ++digit) {
        if (digit > 0)
            x += gap;
        if (digit > 0 && digit % 2 == 0) {
            place(-1, x);
            x += 2 * gap;
        }
        place(digit, x);
        x += digitWidth;
    }
    return x;
}

} // namespace

double TestCard::secondsOf(MonoTime time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

bool TestCard::isFlashTime(MonoTime time) {
    const double seconds = secondsOf(time);
    return seconds - std::floor(seconds) < markerSeconds;
}

void TestCard::drawColourBars(const CGContextRef& context, CGRect rect) {
    const double barWidth = rect.size.width / barColours.size();
    for (size_t bar = 0; bar < barColours.size(); ++bar) {
        const auto& [r, g, b] = barColours[bar];
        CGContextSetRGBFillColor(context, r, g, b, 1);
        CGContextFillRect(context, CGRectMake(rect.origin.x + bar * barWidth, rect.origin.y, barWidth + 1,
                                              rect.size.height));
    }
}

CGRect TestCard::flashRect(int width, int height) {
    const double side = height / 5.0;
    return CGRectMake((width - side) / 2, height * 0.58, side, side);
}

CGImageRef TestCard::background(int width, int height, bool front) {
    auto& cached = m_backgrounds[{width, height, front}];
    if (cached)
        return cached;
    auto image =
        UIGraphicsImageWithDrawing(CGSizeMake(width, height), true, 1, [&](const CGContextRef& context) {
            if (front)
                CGContextSetRGBFillColor(context, 0.12, 0.18, 0.42, 1);
            else
                CGContextSetRGBFillColor(context, 0.32, 0.32, 0.32, 1);
            CGContextFillRect(context, CGRectMake(0, 0, width, height));
            drawColourBars(context, CGRectMake(0, 0, width, barsHeight(height)));
            const std::string label = front ? "FRONT CAMERA" : "BACK CAMERA";
            const double largest = height / 12.0;
            const double fontSize = labelFontSize(label, largest, middleRoom(width, height));
            const auto attributes = labelAttributes(fontSize);
            const CGSize size = sizeWithAttributes(label, attributes);
            // A smaller name keeps the middle of the line the largest would fill.
            const double top = height * 0.24 + size.height * (largest / fontSize - 1) / 2;
            drawAtPoint(label, CGPointMake((width - size.width) / 2, top), attributes);
        });
    cached = image ? image->CGImage() : nullptr;
    return cached;
}

CVPixelBufferRef TestCard::draw(int width, int height, MonoTime time, int frameRate, Look look) {
    auto frame = CVPixelBufferCreate(width, height);
    if (!frame)
        return nullptr;
    if (auto card = background(width, height, look.front)) {
        for (int y = 0; y < height; ++y)
            std::memcpy(frame->mutableRow(y), card->row(y), size_t(width) * 4);
    }
    Painter painter(frame);

    const double seconds = secondsOf(time);
    // The sweep crosses the card every two seconds.
    const double sweep = std::fmod(seconds, 2.0) / 2.0;
    painter.fill(CGRectMake(sweep * (width - width / 40.0), height * 0.42, width / 40.0, height * 0.12), 1, 1,
                 1);

    const CGRect flash = flashRect(width, height);
    if (isFlashTime(time))
        painter.fill(flash, 1, 1, 1);
    else
        painter.fill(flash, 0.08, 0.08, 0.08);

    // HH:MM:SS:FF of the clock, under the marker.
    const auto whole = static_cast<int64_t>(std::floor(seconds));
    const int frameNumber = std::clamp(static_cast<int>((seconds - whole) * std::max(1, frameRate)), 0, 99);
    const int fields[4] = {static_cast<int>(whole / 3600 % 24), static_cast<int>(whole / 60 % 60),
                           static_cast<int>(whole % 60), frameNumber};
    const double largestHeight = height / 14.0;
    const auto nowhere = [](int, double) {};
    // The layout's width grows in proportion to the digits' width.
    const double digitWidth =
        std::min(largestHeight / 2, middleRoom(width, height) / layOutTimecode(1, nowhere));
    const double digitHeight = 2 * digitWidth;
    const double left = (width - layOutTimecode(digitWidth, nowhere)) / 2;
    const double y = flash.origin.y + flash.size.height + largestHeight / 3;
    layOutTimecode(digitWidth, [&](int glyph, double x) {
        if (glyph >= 0) {
            const int field = fields[glyph / 2];
            painter.digit(glyph % 2 == 0 ? field / 10 : field % 10, left + x, y, digitWidth, digitHeight);
            return;
        }
        const double dot = digitWidth / 2;
        painter.fill(CGRectMake(left + x, y + digitHeight * 0.25, dot, dot), 1, 1, 1);
        painter.fill(CGRectMake(left + x, y + digitHeight * 0.7, dot, dot), 1, 1, 1);
    });

    if (look.torch)
        painter.fill(CGRectMake(0, 0, width, height), 1, 1, 1, 0.3);
    if (look.zoom > 1.0) {
        // The centre 1/zoom of the picture, enlarged to the whole frame.
        auto zoomed = CVPixelBufferCreate(width, height);
        Painter enlarged(zoomed);
        const double w = width * look.zoom;
        const double h = height * look.zoom;
        CGContextDrawImage(enlarged.context(), CGRectMake((width - w) / 2, (height - h) / 2, w, h), frame);
        return zoomed;
    }
    return frame;
}

} // namespace platform
