#include "sdk/api/iOS/LivePreviewView.h"

#include "platform/graphics/Color.h"

LivePreviewView::LivePreviewView() {
    setBackgroundColor(platform::UIColor::blackColor());
    setClipsToBounds(true);
}

void LivePreviewView::setMirrored(bool mirrored) {
    m_mirrored = mirrored;
    layer()->setAffineTransform(mirrored ? platform::CGAffineTransformMakeScale(-1, 1)
                                         : platform::CGAffineTransformIdentity);
}
