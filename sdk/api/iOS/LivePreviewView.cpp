#include "sdk/api/iOS/LivePreviewView.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "platform/media/TestCard.h"

#include <algorithm>

LivePreviewView::LivePreviewView() {
    setBackgroundColor(platform::UIColor::blackColor());
    setClipsToBounds(true);
}

void LivePreviewView::setMirrored(bool mirrored) {
    m_mirrored = mirrored;
    layer()->setAffineTransform(mirrored ? platform::CGAffineTransformMakeScale(-1, 1)
                                         : platform::CGAffineTransformIdentity);
}

void LivePreviewView::showFrame(platform::CVPixelBufferRef frame) {
    {
        std::lock_guard lock(m_mutex);
        m_frame = std::move(frame);
    }
    // One redraw pending at a time: frames that come before it runs only replace the picture.
    if (m_redrawAsked.exchange(true))
        return;
    platform::DispatchQueue::main()->async(
        [weak = std::weak_ptr(std::static_pointer_cast<LivePreviewView>(shared_from_this()))] {
            if (auto view = weak.lock()) {
                view->m_redrawAsked = false;
                view->setNeedsDisplay();
            }
        });
}

platform::CVPixelBufferRef LivePreviewView::currentFrame() const {
    std::lock_guard lock(m_mutex);
    return m_frame;
}

void LivePreviewView::drawRect(platform::CGRect) {
    const platform::CGRect area = bounds();
    if (auto frame = currentFrame()) {
        const double scale = std::min(area.size.width / frame->width(), area.size.height / frame->height());
        const double width = frame->width() * scale;
        const double height = frame->height() * scale;
        platform::drawInRect(platform::UIImage::imageWithCGImage(frame),
                             platform::CGRectMake(area.origin.x + (area.size.width - width) / 2,
                                                  area.origin.y + (area.size.height - height) / 2, width,
                                                  height));
        return;
    }
    platform::TestCard::drawColourBars(platform::UIGraphicsGetCurrentContext(), area);
}
