#pragma once
// UIScrollView: a view whose bounds origin is the content offset, so its subviews (the content) move as it
// scrolls. Content size and insets bound the offset a finger can reach; code may set any offset. A finger
// that goes down on the view or its content makes it tracking; once it has moved more than a few points the
// view is dragging and follows it, clamped to the scrollable range, telling the delegate as it goes.
// Without a screen to animate on, animated scrolls land at once and then tell the delegate the scrolling
// animation ended, on the next turn of the main loop. Main thread only.

#include "platform/ui/UIView.h"

#include <memory>
#include <string_view>

namespace platform {

class UIScrollView;
using UIScrollViewPtr = std::shared_ptr<UIScrollView>;

// The platform's protocol; every method is optional and has a default that does nothing. The protocols
// derived from it (table and collection delegates) have optional methods whose absence changes what the
// list does; an adopter that implements one says so through respondsTo with the selector's text, which
// also overrides Object::respondsTo when the adopter is an Object (a controller or a view).
class UIScrollViewDelegate {
public:
    virtual ~UIScrollViewDelegate() = default;
    virtual bool respondsTo(std::string_view /*selector*/) const { return false; }
    virtual void scrollViewDidScroll(UIScrollView*) {}
    virtual void scrollViewWillBeginDragging(UIScrollView*) {}
    virtual void scrollViewDidEndDragging(UIScrollView*, bool /*decelerate*/) {}
    virtual void scrollViewDidEndScrollingAnimation(UIScrollView*) {}
};

class UIScrollView : public UIView {
public:
    static UIScrollViewPtr create() { return std::make_shared<UIScrollView>(); }
    static UIScrollViewPtr create(CGRect frame) { return std::make_shared<UIScrollView>(frame); }
    UIScrollView();
    explicit UIScrollView(CGRect frame);

    CGSize contentSize() const { return m_contentSize; }
    virtual void setContentSize(CGSize size);
    CGPoint contentOffset() const { return bounds().origin; }
    void setContentOffset(CGPoint offset);
    void setContentOffset(CGPoint offset, bool animated);
    UIEdgeInsets contentInset() const { return m_contentInset; }
    void setContentInset(UIEdgeInsets insets) { m_contentInset = insets; }
    UIEdgeInsets scrollIndicatorInsets() const { return m_scrollIndicatorInsets; }
    void setScrollIndicatorInsets(UIEdgeInsets insets) { m_scrollIndicatorInsets = insets; }

    // Scrolls the least distance that brings the rectangle (in content coordinates) into view; a
    // rectangle that is already visible leaves the offset alone.
    void scrollRectToVisible(CGRect rect, bool animated);

    bool isTracking() const { return m_tracking; }
    bool isDragging() const { return m_dragging; }
    bool isDecelerating() const { return false; }
    bool isScrollEnabled() const { return m_scrollEnabled; }
    void setScrollEnabled(bool enabled) { m_scrollEnabled = enabled; }
    bool bounces() const { return m_bounces; }
    void setBounces(bool bounces) { m_bounces = bounces; }
    bool alwaysBounceVertical() const { return m_alwaysBounceVertical; }
    void setAlwaysBounceVertical(bool on) { m_alwaysBounceVertical = on; }
    bool alwaysBounceHorizontal() const { return m_alwaysBounceHorizontal; }
    void setAlwaysBounceHorizontal(bool on) { m_alwaysBounceHorizontal = on; }
    bool isPagingEnabled() const { return m_pagingEnabled; }
    void setPagingEnabled(bool on) { m_pagingEnabled = on; }
    bool showsVerticalScrollIndicator() const { return m_showsVerticalScrollIndicator; }
    void setShowsVerticalScrollIndicator(bool on) { m_showsVerticalScrollIndicator = on; }
    bool showsHorizontalScrollIndicator() const { return m_showsHorizontalScrollIndicator; }
    void setShowsHorizontalScrollIndicator(bool on) { m_showsHorizontalScrollIndicator = on; }
    bool scrollsToTop() const { return m_scrollsToTop; }
    void setScrollsToTop(bool on) { m_scrollsToTop = on; }

    std::shared_ptr<UIScrollViewDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<UIScrollViewDelegate>& delegate) { m_delegate = delegate; }

    void touchesBegan(const UITouchSet& touches, const UIEventPtr& event) override;
    void touchesMoved(const UITouchSet& touches, const UIEventPtr& event) override;
    void touchesEnded(const UITouchSet& touches, const UIEventPtr& event) override;
    void touchesCancelled(const UITouchSet& touches, const UIEventPtr& event) override;

protected:
    // The offsets a finger can reach: from minus the top/left inset to the content's end plus the
    // bottom/right inset, less the visible size (never below the start).
    CGPoint minimumContentOffset() const;
    CGPoint maximumContentOffset() const;
    // Whether the touch sequence that just ended was a drag (lists select rows only on taps).
    bool lastTouchWasDrag() const { return m_lastTouchWasDrag; }
    // Called whenever the offset changes; lists lay out their visible cells here.
    virtual void contentOffsetDidChange() {}

private:
    void endTouches();

    std::weak_ptr<UIScrollViewDelegate> m_delegate;
    CGSize m_contentSize{0, 0};
    UIEdgeInsets m_contentInset{};
    UIEdgeInsets m_scrollIndicatorInsets{};
    CGPoint m_touchStart{0, 0};
    CGPoint m_offsetAtTouchStart{0, 0};
    bool m_tracking{false};
    bool m_dragging{false};
    bool m_lastTouchWasDrag{false};
    bool m_scrollEnabled{true};
    bool m_bounces{true};
    bool m_alwaysBounceVertical{false};
    bool m_alwaysBounceHorizontal{false};
    bool m_pagingEnabled{false};
    bool m_showsVerticalScrollIndicator{true};
    bool m_showsHorizontalScrollIndicator{true};
    bool m_scrollsToTop{true};
};

} // namespace platform
