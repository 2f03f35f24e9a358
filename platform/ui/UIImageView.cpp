#include "platform/ui/UIImageView.h"

#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"

#include <chrono>

namespace platform {

UIImageView::UIImageView()
    : UIImageView(CGRectZero) {}

UIImageView::UIImageView(CGRect frame)
    : UIView(frame) {
    setUserInteractionEnabled(false);
    layer()->setContentsGravity(contentsGravityForContentMode(contentMode()));
}

UIImageView::UIImageView(UIImagePtr image)
    : UIImageView(std::move(image), nullptr) {}

UIImageView::UIImageView(UIImagePtr image, UIImagePtr highlightedImage)
    : UIImageView(CGRectZero) {
    if (image) {
        CGSize size = image->size();
        setFrame(CGRectMake(0, 0, size.width, size.height));
    }
    m_image = std::move(image);
    m_highlightedImage = std::move(highlightedImage);
    updateContents();
}

UIImageView::~UIImageView() {
    if (m_timer)
        m_timer->invalidate();
}

void UIImageView::setImage(UIImagePtr image) {
    m_image = std::move(image);
    updateContents();
}

void UIImageView::setHighlightedImage(UIImagePtr image) {
    m_highlightedImage = std::move(image);
    updateContents();
}

void UIImageView::setHighlighted(bool highlighted) {
    m_highlighted = highlighted;
    updateContents();
}

void UIImageView::setContentMode(UIViewContentMode mode) {
    UIView::setContentMode(mode);
    layer()->setContentsGravity(contentsGravityForContentMode(mode));
}

void UIImageView::setAnimationImages(std::vector<UIImagePtr> images) {
    std::erase(images, nullptr);
    m_animationImages = std::move(images);
    if (m_animationImages.empty())
        stopAnimating();
}

void UIImageView::updateContents() {
    UIImagePtr shown = m_highlighted && m_highlightedImage ? m_highlightedImage : m_image;
    if (m_animating && m_frame < m_animationImages.size())
        shown = m_animationImages[m_frame];
    layer()->setContents(shown ? shown->CGImage() : nullptr);
    layer()->setContentsScale(shown ? shown->scale() : 1);
    setNeedsDisplay();
}

void UIImageView::startAnimating() {
    if (m_animating || m_animationImages.empty())
        return;
    m_animating = true;
    m_frame = 0;
    m_cyclesDone = 0;
    double seconds =
        m_animationDuration > 0 ? m_animationDuration / double(m_animationImages.size()) : 1.0 / 30;
    auto interval = std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds));
    std::weak_ptr<UIImageView> weak = sharedAs<UIImageView>();
    m_timer = Timer::timerWithTimeInterval(interval, true, [weak](Timer&) {
        if (auto self = weak.lock())
            self->advanceFrame();
    });
    RunLoop::main()->addTimer(m_timer, RunLoop::commonModes);
    updateContents();
}

void UIImageView::advanceFrame() {
    if (!m_animating)
        return;
    if (++m_frame >= m_animationImages.size()) {
        m_frame = 0;
        if (m_animationRepeatCount > 0 && ++m_cyclesDone >= m_animationRepeatCount) {
            stopAnimating();
            return;
        }
    }
    updateContents();
}

void UIImageView::stopAnimating() {
    if (m_timer) {
        m_timer->invalidate();
        m_timer.reset();
    }
    if (!m_animating)
        return;
    m_animating = false;
    m_frame = 0;
    updateContents();
}

CGSize UIImageView::sizeThatFits(CGSize) {
    return m_image ? m_image->size() : CGSizeZero;
}

CGSize UIImageView::intrinsicContentSize() {
    return m_image ? m_image->size() : CGSize{-1, -1};
}

} // namespace platform
