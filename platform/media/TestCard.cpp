#include "platform/media/TestCard.h"

#include "platform/foundation/Value.h"
#include "platform/graphics/AttributedString.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/Font.h"
#include "platform/graphics/GraphicsContextFunctions.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "platform/graphics/GraphicsContextText.h"
#include "platform/graphics/TextMeasure.h"

#include <array>
#include <cmath>
#include <cstring>

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
            NSAttributes attributes;
            attributes.set(NSFontAttributeName, Value(UIFont::boldSystemFontOfSize(height / 12.0)));
            attributes.set(NSForegroundColorAttributeName, Value(UIColor::whiteColor()));
            const std::string label = front ? "FRONT CAMERA" : "BACK CAMERA";
            const CGSize size = sizeWithAttributes(label, attributes);
            drawAtPoint(label, CGPointMake((width - size.width) / 2, height * 0.24), attributes);
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
    const double digitHeight = height / 14.0;
    const double digitWidth = digitHeight / 2;
    const double gap = digitWidth / 2;
    const double total = 8 * digitWidth + 7 * gap + 3 * gap;
    double x = (width - total) / 2;
    const double y = flash.origin.y + flash.size.height + digitHeight / 3;
    for (int field = 0; field < 4; ++field) {
        painter.digit(fields[field] / 10, x, y, digitWidth, digitHeight);
        x += digitWidth + gap;
        painter.digit(fields[field] % 10, x, y, digitWidth, digitHeight);
        x += digitWidth + gap;
        if (field < 3) {
            painter.fill(CGRectMake(x, y + digitHeight * 0.25, gap, gap), 1, 1, 1);
            painter.fill(CGRectMake(x, y + digitHeight * 0.7, gap, gap), 1, 1, 1);
            x += 2 * gap;
        }
    }

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
