#include "sdk/api/iOS/LivePreviewView.h"

#include "platform/graphics/Color.h"
#include "platform/graphics/GraphicsContextFunctions.h"
#include "platform/graphics/GraphicsContextStack.h"

LivePreviewView::LivePreviewView() {
    setBackgroundColor(platform::UIColor::blackColor());
    setClipsToBounds(true);
}

void LivePreviewView::setMirrored(bool mirrored) {
    m_mirrored = mirrored;
    layer()->setAffineTransform(mirrored ? platform::CGAffineTransformMakeScale(-1, 1)
                                         : platform::CGAffineTransformIdentity);
}

void LivePreviewView::drawRect(platform::CGRect) {
    // Seven bars at three quarters' intensity: grey, yellow, cyan, green, magenta, red, blue.
    static constexpr double bars[7][3] = {{0.75, 0.75, 0.75}, {0.75, 0.75, 0}, {0, 0.75, 0.75}, {0, 0.75, 0},
                                          {0.75, 0, 0.75},    {0.75, 0, 0},    {0, 0, 0.75}};
    auto context = platform::UIGraphicsGetCurrentContext();
    const platform::CGRect area = bounds();
    const double width = area.size.width / 7;
    for (int bar = 0; bar < 7; ++bar) {
        platform::CGContextSetRGBFillColor(context, bars[bar][0], bars[bar][1], bars[bar][2], 1);
        platform::CGContextFillRect(context, platform::CGRectMake(area.origin.x + bar * width, area.origin.y,
                                                                  width, area.size.height));
    }
}
