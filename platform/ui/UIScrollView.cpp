#include "platform/ui/UIScrollView.h"

#include "platform/dispatch/DispatchQueue.h"

#include <algorithm>
#include <cmath>

namespace platform {

namespace {
// How far a finger moves before a touch becomes a drag, as the platform's pan threshold.
constexpr double kDragThreshold = 10;
} // namespace

UIScrollView::UIScrollView()
    : UIScrollView(CGRectZero) {}

UIScrollView::UIScrollView(CGRect frame)
    : UIView(frame) {
    setClipsToBounds(true);
}

void UIScrollView::setContentSize(CGSize size) {
    m_contentSize = size;
}

void UIScrollView::setContentOffset(CGPoint offset) {
    CGRect b = bounds();
    if (b.origin.x == offset.x && b.origin.y == offset.y)
        return;
    b.origin = offset;
    setBounds(b);
    contentOffsetDidChange();
    if (auto d = delegate())
        d->scrollViewDidScroll(this);
}

void UIScrollView::setContentOffset(CGPoint offset, bool animated) {
    CGPoint before = contentOffset();
    setContentOffset(offset);
    if (!animated || (before.x == offset.x && before.y == offset.y))
        return;
    std::weak_ptr<UIScrollView> weak = std::static_pointer_cast<UIScrollView>(shared_from_this());
    DispatchQueue::main()->async([weak] {
        if (auto self = weak.lock())
            if (auto d = self->delegate())
                d->scrollViewDidEndScrollingAnimation(self.get());
    });
}

void UIScrollView::scrollRectToVisible(CGRect rect, bool animated) {
    CGRect visible = bounds();
    CGPoint offset = visible.origin;
    auto axis = [](double start, double length, double visibleStart, double visibleLength) {
        if (start < visibleStart || length > visibleLength)
            return start;
        if (start + length > visibleStart + visibleLength)
            return start + length - visibleLength;
        return visibleStart;
    };
    offset.x = axis(rect.origin.x, rect.size.width, visible.origin.x, visible.size.width);
    offset.y = axis(rect.origin.y, rect.size.height, visible.origin.y, visible.size.height);
    CGPoint low = minimumContentOffset(), high = maximumContentOffset();
    offset.x = std::clamp(offset.x, low.x, high.x);
    offset.y = std::clamp(offset.y, low.y, high.y);
    setContentOffset(offset, animated);
}

CGPoint UIScrollView::minimumContentOffset() const {
    return {-m_contentInset.left, -m_contentInset.top};
}

CGPoint UIScrollView::maximumContentOffset() const {
    CGSize visible = bounds().size;
    CGPoint low = minimumContentOffset();
    return {std::max(low.x, m_contentSize.width + m_contentInset.right - visible.width),
            std::max(low.y, m_contentSize.height + m_contentInset.bottom - visible.height)};
}

void UIScrollView::touchesBegan(const UITouchSet& touches, const UIEventPtr&) {
    if (touches.empty())
        return;
    m_tracking = true;
    m_dragging = false;
    m_lastTouchWasDrag = false;
    m_touchStart = touches.front()->locationInWindow();
    m_offsetAtTouchStart = contentOffset();
}

void UIScrollView::touchesMoved(const UITouchSet& touches, const UIEventPtr&) {
    if (!m_tracking || touches.empty() || !m_scrollEnabled)
        return;
    CGPoint now = touches.front()->locationInWindow();
    double dx = now.x - m_touchStart.x, dy = now.y - m_touchStart.y;
    if (!m_dragging) {
        if (std::hypot(dx, dy) < kDragThreshold)
            return;
        m_dragging = true;
        m_lastTouchWasDrag = true;
        if (auto d = delegate())
            d->scrollViewWillBeginDragging(this);
    }
    CGPoint low = minimumContentOffset(), high = maximumContentOffset();
    CGSize visible = bounds().size;
    bool horizontal = m_alwaysBounceHorizontal || m_contentSize.width > visible.width;
    bool vertical = m_alwaysBounceVertical || m_contentSize.height > visible.height;
    CGPoint offset = m_offsetAtTouchStart;
    if (horizontal)
        offset.x = std::clamp(m_offsetAtTouchStart.x - dx, low.x, high.x);
    if (vertical)
        offset.y = std::clamp(m_offsetAtTouchStart.y - dy, low.y, high.y);
    setContentOffset(offset);
}

void UIScrollView::touchesEnded(const UITouchSet&, const UIEventPtr&) {
    endTouches();
}

void UIScrollView::touchesCancelled(const UITouchSet&, const UIEventPtr&) {
    endTouches();
}

void UIScrollView::endTouches() {
    bool wasDragging = m_dragging;
    m_tracking = false;
    m_dragging = false;
    if (wasDragging)
        if (auto d = delegate())
            d->scrollViewDidEndDragging(this, false);
}

} // namespace platform
