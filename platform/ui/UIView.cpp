#include "platform/ui/UIView.h"

#include "platform/runloop/RunLoop.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIGestureRecognizer.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"

#include <algorithm>
#include <cmath>

namespace platform {

const char* contentsGravityForContentMode(UIViewContentMode mode) {
    switch (mode) {
    case UIViewContentModeScaleToFill:
    case UIViewContentModeRedraw:
        return kCAGravityResize;
    case UIViewContentModeScaleAspectFit:
        return kCAGravityResizeAspect;
    case UIViewContentModeScaleAspectFill:
        return kCAGravityResizeAspectFill;
    case UIViewContentModeCenter:
        return kCAGravityCenter;
    case UIViewContentModeTop:
        return kCAGravityTop;
    case UIViewContentModeBottom:
        return kCAGravityBottom;
    case UIViewContentModeLeft:
        return kCAGravityLeft;
    case UIViewContentModeRight:
        return kCAGravityRight;
    case UIViewContentModeTopLeft:
        return kCAGravityTopLeft;
    case UIViewContentModeTopRight:
        return kCAGravityTopRight;
    case UIViewContentModeBottomLeft:
        return kCAGravityBottomLeft;
    case UIViewContentModeBottomRight:
        return kCAGravityBottomRight;
    }
    return kCAGravityResize;
}

UIView::UIView()
    : m_layer(CALayer::create()) {
    m_layer->m_owningView = this;
}

UIView::UIView(CGRect frame)
    : UIView() {
    m_layer->setFrame(frame);
}

UIView::~UIView() {
    m_layer->m_owningView = nullptr;
}

// ---- Geometry ----
CGRect UIView::frame() const {
    return m_layer->frame();
}

void UIView::setFrame(CGRect frame) {
    CGSize oldSize = m_layer->bounds().size;
    m_layer->setFrame(frame);
    if (!CGSizeEqualToSize(oldSize, m_layer->bounds().size))
        boundsSizeChanged(oldSize);
}

CGRect UIView::bounds() const {
    return m_layer->bounds();
}

void UIView::setBounds(CGRect bounds) {
    CGSize oldSize = m_layer->bounds().size;
    m_layer->setBounds(bounds);
    if (!CGSizeEqualToSize(oldSize, m_layer->bounds().size))
        boundsSizeChanged(oldSize);
}

CGPoint UIView::center() const {
    return m_layer->position();
}

void UIView::setCenter(CGPoint center) {
    m_layer->setPosition(center);
}

CGAffineTransform UIView::transform() const {
    return m_layer->affineTransform();
}

void UIView::setTransform(CGAffineTransform transform) {
    m_layer->setAffineTransform(transform);
}

void UIView::boundsSizeChanged(CGSize oldSize) {
    setNeedsLayout();
    if (!m_autoresizesSubviews)
        return;
    auto subviews = m_subviews;
    CGSize newSize = bounds().size;
    for (auto& subview : subviews)
        subview->applyAutoresizing(oldSize, newSize);
}

namespace {

// One axis of an autoresizing mask: the superview grew by `delta`, the flexible parts (leading margin,
// size, trailing margin) share it in proportion to their current lengths, or equally when those are all 0.
void resizeAxis(double& position, double& length, double oldSuperLength, double delta, bool flexLead,
                bool flexSize, bool flexTrail) {
    double lead = position;
    double trail = oldSuperLength - position - length;
    double total = (flexLead ? std::max(0.0, lead) : 0) + (flexSize ? std::max(0.0, length) : 0) +
                   (flexTrail ? std::max(0.0, trail) : 0);
    int flexible = int(flexLead) + int(flexSize) + int(flexTrail);
    if (flexible == 0 || delta == 0)
        return;
    auto share = [&](bool flex, double value) {
        if (!flex)
            return 0.0;
        return total > 0 ? delta * std::max(0.0, value) / total : delta / flexible;
    };
    double leadShare = share(flexLead, lead);
    double sizeShare = share(flexSize, length);
    position += leadShare;
    length = std::max(0.0, length + sizeShare);
}

} // namespace

void UIView::applyAutoresizing(CGSize oldSuperSize, CGSize newSuperSize) {
    uint64_t mask = m_autoresizingMask;
    if (mask == UIViewAutoresizingNone)
        return;
    CGRect f = frame();
    resizeAxis(f.origin.x, f.size.width, oldSuperSize.width, newSuperSize.width - oldSuperSize.width,
               mask & UIViewAutoresizingFlexibleLeftMargin, mask & UIViewAutoresizingFlexibleWidth,
               mask & UIViewAutoresizingFlexibleRightMargin);
    resizeAxis(f.origin.y, f.size.height, oldSuperSize.height, newSuperSize.height - oldSuperSize.height,
               mask & UIViewAutoresizingFlexibleTopMargin, mask & UIViewAutoresizingFlexibleHeight,
               mask & UIViewAutoresizingFlexibleBottomMargin);
    setFrame(f);
}

// ---- The tree ----
std::shared_ptr<UIWindow> UIView::window() const {
    const UIView* view = this;
    while (auto super = view->superview())
        view = super.get();
    auto root = std::const_pointer_cast<Object>(view->weak_from_this().lock());
    return std::dynamic_pointer_cast<UIWindow>(root);
}

int64_t UIView::indexOfSubview(const UIView* view) const {
    for (size_t i = 0; i < m_subviews.size(); ++i)
        if (m_subviews[i].get() == view)
            return int64_t(i);
    return -1;
}

void UIView::syncSublayer(const UIViewPtr& view, int64_t index) {
    if (size_t(index) + 1 < m_subviews.size())
        m_layer->insertSublayerBelow(view->m_layer, m_subviews[size_t(index) + 1]->m_layer);
    else
        m_layer->addSublayer(view->m_layer);
}

void UIView::notifyWindowChange(const std::shared_ptr<UIWindow>& newWindow, bool after) {
    if (after)
        didMoveToWindow();
    else
        willMoveToWindow(newWindow);
    auto subviews = m_subviews;
    for (auto& subview : subviews)
        subview->notifyWindowChange(newWindow, after);
}

void UIView::addSubview(const UIViewPtr& view) {
    insertSubview(view, int64_t(m_subviews.size()));
}

void UIView::insertSubview(const UIViewPtr& view, int64_t index) {
    if (!view || view.get() == this)
        return;
    auto self = sharedAs<UIView>();
    if (view->superview() == self) {
        std::erase(m_subviews, view);
        index = std::clamp<int64_t>(index, 0, int64_t(m_subviews.size()));
        m_subviews.insert(m_subviews.begin() + index, view);
        syncSublayer(view, index);
        return;
    }
    auto oldWindow = view->window();
    auto newWindow = window();
    view->willMoveToSuperview(self);
    if (oldWindow != newWindow)
        view->notifyWindowChange(newWindow, false);
    if (auto old = view->superview()) {
        old->willRemoveSubview(view);
        std::erase(old->m_subviews, view);
    }
    view->m_layer->removeFromSuperlayer();
    view->m_superview = self;
    index = std::clamp<int64_t>(index, 0, int64_t(m_subviews.size()));
    m_subviews.insert(m_subviews.begin() + index, view);
    syncSublayer(view, index);
    if (oldWindow != newWindow)
        view->notifyWindowChange(newWindow, true);
    view->didMoveToSuperview();
    didAddSubview(view);
    view->setNeedsLayout();
    setNeedsLayout();
}

void UIView::insertSubviewAboveSubview(const UIViewPtr& view, const UIViewPtr& sibling) {
    if (!view || view == sibling)
        return;
    int64_t at = indexOfSubview(sibling.get());
    if (at < 0) {
        addSubview(view);
        return;
    }
    int64_t own = indexOfSubview(view.get());
    insertSubview(view, own >= 0 && own < at ? at : at + 1);
}

void UIView::insertSubviewBelowSubview(const UIViewPtr& view, const UIViewPtr& sibling) {
    if (!view || view == sibling)
        return;
    int64_t at = indexOfSubview(sibling.get());
    if (at < 0) {
        insertSubview(view, 0);
        return;
    }
    int64_t own = indexOfSubview(view.get());
    insertSubview(view, own >= 0 && own < at ? at - 1 : at);
}

void UIView::bringSubviewToFront(const UIViewPtr& view) {
    if (view && view->superview().get() == this)
        insertSubview(view, int64_t(m_subviews.size()));
}

void UIView::sendSubviewToBack(const UIViewPtr& view) {
    if (view && view->superview().get() == this)
        insertSubview(view, 0);
}

void UIView::exchangeSubviewAtIndex(int64_t index1, int64_t index2) {
    int64_t count = int64_t(m_subviews.size());
    if (index1 < 0 || index2 < 0 || index1 >= count || index2 >= count || index1 == index2)
        return;
    std::swap(m_subviews[size_t(index1)], m_subviews[size_t(index2)]);
    for (int64_t i : {std::min(index1, index2), std::max(index1, index2)})
        syncSublayer(m_subviews[size_t(i)], i);
}

void UIView::removeFromSuperview() {
    auto super = superview();
    if (!super)
        return;
    auto self = sharedAs<UIView>();
    auto oldWindow = window();
    super->willRemoveSubview(self);
    willMoveToSuperview(nullptr);
    if (oldWindow)
        notifyWindowChange(nullptr, false);
    std::erase(super->m_subviews, self);
    m_layer->removeFromSuperlayer();
    m_superview.reset();
    if (oldWindow)
        notifyWindowChange(nullptr, true);
    didMoveToSuperview();
    super->setNeedsLayout();
}

bool UIView::isDescendantOfView(const UIViewPtr& view) const {
    if (!view)
        return false;
    for (const UIView* v = this; v;) {
        if (v == view.get())
            return true;
        auto super = v->superview();
        v = super.get();
    }
    return false;
}

UIViewPtr UIView::viewWithTag(int64_t tag) {
    if (m_tag == tag)
        return sharedAs<UIView>();
    for (auto& subview : m_subviews)
        if (auto found = subview->viewWithTag(tag))
            return found;
    return nullptr;
}

void UIView::willMoveToSuperview(const UIViewPtr&) {}
void UIView::didMoveToSuperview() {}
void UIView::willMoveToWindow(const std::shared_ptr<UIWindow>&) {}
void UIView::didMoveToWindow() {}
void UIView::didAddSubview(const UIViewPtr&) {}
void UIView::willRemoveSubview(const UIViewPtr&) {}

// ---- Look ----
void UIView::setBackgroundColor(UIColorPtr color) {
    m_backgroundColor = std::move(color);
    m_layer->setBackgroundColor(m_backgroundColor ? m_backgroundColor->CGColor() : nullptr);
}

double UIView::alpha() const {
    // The layer keeps single precision; answer the value set through the view while the layer agrees.
    return float(m_alpha) == m_layer->opacity() ? m_alpha : double(m_layer->opacity());
}

void UIView::setAlpha(double alpha) {
    m_alpha = std::clamp(alpha, 0.0, 1.0);
    m_layer->setOpacity(float(m_alpha));
}

bool UIView::isHidden() const {
    return m_layer->isHidden();
}

void UIView::setHidden(bool hidden) {
    m_layer->setHidden(hidden);
}

bool UIView::isOpaque() const {
    return m_layer->isOpaque();
}

void UIView::setOpaque(bool opaque) {
    m_layer->setOpaque(opaque);
}

bool UIView::clipsToBounds() const {
    return m_layer->masksToBounds();
}

void UIView::setClipsToBounds(bool clips) {
    m_layer->setMasksToBounds(clips);
}

void UIView::setContentMode(UIViewContentMode mode) {
    m_contentMode = mode;
}

UIColorPtr UIView::tintColor() const {
    for (const UIView* v = this; v;) {
        if (v->m_tintColor)
            return v->m_tintColor;
        auto super = v->superview();
        v = super.get();
    }
    static const UIColorPtr systemBlue = UIColor::colorWithRed(0, 122 / 255.0, 1, 1);
    return systemBlue;
}

void UIView::setTintColor(UIColorPtr color) {
    m_tintColor = std::move(color);
    tintColorDidChange();
}

// ---- Interaction ----
UIViewPtr UIView::hitTest(CGPoint point, const UIEventPtr& event) {
    if (isHidden() || !m_userInteractionEnabled || alpha() < 0.01)
        return nullptr;
    if (!pointInside(point, event))
        return nullptr;
    auto self = sharedAs<UIView>();
    auto subviews = m_subviews;
    for (auto it = subviews.rbegin(); it != subviews.rend(); ++it) {
        CGPoint local = (*it)->convertPointFromView(point, self);
        if (auto hit = (*it)->hitTest(local, event))
            return hit;
    }
    return self;
}

bool UIView::pointInside(CGPoint point, const UIEventPtr&) {
    return CGRectContainsPoint(bounds(), point);
}

UIResponderPtr UIView::nextResponder() const {
    if (auto controller = viewDelegate())
        return controller;
    return superview();
}

void UIView::addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer) {
    if (!recognizer)
        return;
    auto self = sharedAs<UIView>();
    if (auto old = recognizer->view(); old && old != self)
        old->removeGestureRecognizer(recognizer);
    if (std::find(m_gestureRecognizers.begin(), m_gestureRecognizers.end(), recognizer) ==
        m_gestureRecognizers.end())
        m_gestureRecognizers.push_back(recognizer);
    recognizer->setView(self);
}

void UIView::removeGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer) {
    auto it = std::find(m_gestureRecognizers.begin(), m_gestureRecognizers.end(), recognizer);
    if (it == m_gestureRecognizers.end())
        return;
    m_gestureRecognizers.erase(it);
    recognizer->setView(nullptr);
}

CGPoint UIView::convertPointToView(CGPoint point, const UIViewPtr& view) const {
    return m_layer->convertPointToLayer(point, view ? view->m_layer : nullptr);
}

CGPoint UIView::convertPointFromView(CGPoint point, const UIViewPtr& view) const {
    return m_layer->convertPointFromLayer(point, view ? view->m_layer : nullptr);
}

CGRect UIView::convertRectToView(CGRect rect, const UIViewPtr& view) const {
    return m_layer->convertRectToLayer(rect, view ? view->m_layer : nullptr);
}

CGRect UIView::convertRectFromView(CGRect rect, const UIViewPtr& view) const {
    return m_layer->convertRectFromLayer(rect, view ? view->m_layer : nullptr);
}

// ---- Layout and drawing ----

namespace {
bool displayPassScheduled = false;
} // namespace

void UIView::setNeedsLayout() {
    m_needsLayout = true;
    if (displayPassScheduled)
        return;
    displayPassScheduled = true;
    RunLoop::main()->performBlock([] { runDisplayPass(); });
}

void UIView::runDisplayPass() {
    displayPassScheduled = false;
    for (auto& window : UIWindow::visibleWindows())
        window->layoutIfNeeded();
}

void UIView::layoutIfNeeded() {
    solveConstraints();
    layoutSubtree();
}

void UIView::layoutSubtree() {
    if (m_needsLayout) {
        m_needsLayout = false;
        auto keepAlive = weak_from_this().lock();
        auto controller = viewDelegate();
        if (controller)
            controller->viewWillLayoutSubviews();
        layoutSubviews();
        if (controller)
            controller->viewDidLayoutSubviews();
    }
    auto subviews = m_subviews;
    for (auto& subview : subviews)
        subview->layoutSubtree();
}

CGSize UIView::sizeThatFits(CGSize) {
    return bounds().size;
}

void UIView::sizeToFit() {
    CGRect f = frame();
    CGSize size = sizeThatFits(bounds().size);
    setFrame(CGRectMake(f.origin.x, f.origin.y, size.width, size.height));
}

CGSize UIView::intrinsicContentSize() {
    return {-1, -1};
}

void UIView::setNeedsDisplay() {
    m_layer->setNeedsDisplay();
    // New content (a label's text, an image view's image) may measure differently; a view laid out by
    // constraints then needs a pass to pick up its new intrinsic size.
    intrinsicContentMayHaveChanged();
}

void UIView::setNeedsDisplayInRect(CGRect) {
    m_layer->setNeedsDisplay();
}

void UIView::drawRect(CGRect) {}

} // namespace platform
