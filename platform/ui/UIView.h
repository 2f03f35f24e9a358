#pragma once
// UIView: a rectangle in the view tree. A view owns its subviews (front-most last) and its layer; its
// superview is a weak link. Geometry, alpha, hidden, background colour and clipping live on the layer
// (CALayer.h), so reading them through either gives the same answer, and subview layers are kept in the
// superview layer's sublayers in subview order.
//
// Subclass the platform's way: override layoutSubviews (called by layoutIfNeeded and by the display pass
// the main run loop makes after setNeedsLayout), drawRect (called with a current graphics context when the
// window is rendered), sizeThatFits, hitTest/pointInside, the touch methods, and the move hooks. Views
// build their subviews in their constructors or lazily. Make views with create()/make_shared; the tree
// needs shared ownership (addSubview takes the shared pointer). Main thread only.

#include "platform/graphics/Color.h"
#include "platform/graphics/Geometry.h"
#include "platform/ui/CALayer.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIResponder.h"
#include "platform/ui/UIViewAnimation.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace platform {

class UIView;
class UIWindow;
class UIViewController;
class UIGestureRecognizer;
using UIViewPtr = std::shared_ptr<UIView>;

// The platform's numbering.
enum UIViewContentMode : int64_t {
    UIViewContentModeScaleToFill = 0,
    UIViewContentModeScaleAspectFit = 1,
    UIViewContentModeScaleAspectFill = 2,
    UIViewContentModeRedraw = 3,
    UIViewContentModeCenter = 4,
    UIViewContentModeTop = 5,
    UIViewContentModeBottom = 6,
    UIViewContentModeLeft = 7,
    UIViewContentModeRight = 8,
    UIViewContentModeTopLeft = 9,
    UIViewContentModeTopRight = 10,
    UIViewContentModeBottomLeft = 11,
    UIViewContentModeBottomRight = 12,
};

enum UIViewAutoresizing : uint64_t {
    UIViewAutoresizingNone = 0,
    UIViewAutoresizingFlexibleLeftMargin = 1 << 0,
    UIViewAutoresizingFlexibleWidth = 1 << 1,
    UIViewAutoresizingFlexibleRightMargin = 1 << 2,
    UIViewAutoresizingFlexibleTopMargin = 1 << 3,
    UIViewAutoresizingFlexibleHeight = 1 << 4,
    UIViewAutoresizingFlexibleBottomMargin = 1 << 5,
};

// The content mode as a layer contents gravity (UIImageView shows its image through its layer).
const char* contentsGravityForContentMode(UIViewContentMode mode);

class UIView : public UIResponder {
public:
    static UIViewPtr create() { return std::make_shared<UIView>(); }
    static UIViewPtr create(CGRect frame) { return std::make_shared<UIView>(frame); }
    UIView();
    explicit UIView(CGRect frame);
    ~UIView() override;

    // Geometry, in the superview's coordinates (frame, center) or the view's own (bounds). Changing the
    // bounds size lays out again (setNeedsLayout) and applies the subviews' autoresizing masks.
    virtual CGRect frame() const;
    virtual void setFrame(CGRect frame);
    CGRect bounds() const;
    virtual void setBounds(CGRect bounds);
    CGPoint center() const;
    virtual void setCenter(CGPoint center);
    CGAffineTransform transform() const;
    virtual void setTransform(CGAffineTransform transform);
    const CALayerPtr& layer() const { return m_layer; }

    // The tree.
    UIViewPtr superview() const { return m_superview.lock(); }
    const std::vector<UIViewPtr>& subviews() const { return m_subviews; }
    // The window at the root of the tree (the view itself when it is a window), or null.
    std::shared_ptr<UIWindow> window() const;
    // Adding a view that is already a subview brings it to the front; one with another superview moves.
    void addSubview(const UIViewPtr& view);
    void insertSubview(const UIViewPtr& view, int64_t index);
    void insertSubviewAboveSubview(const UIViewPtr& view, const UIViewPtr& sibling);
    void insertSubviewBelowSubview(const UIViewPtr& view, const UIViewPtr& sibling);
    void bringSubviewToFront(const UIViewPtr& view);
    void sendSubviewToBack(const UIViewPtr& view);
    void exchangeSubviewAtIndex(int64_t index1, int64_t index2);
    void removeFromSuperview();
    bool isDescendantOfView(const UIViewPtr& view) const;
    // This view if its tag matches, else the first match depth-first through the subviews, else null.
    UIViewPtr viewWithTag(int64_t tag);
    int64_t tag() const { return m_tag; }
    void setTag(int64_t tag) { m_tag = tag; }

    // Hooks around moves, in the platform's order: willMoveToSuperview, willMoveToWindow, (the move),
    // didMoveToWindow, didMoveToSuperview; the superview gets didAddSubview / willRemoveSubview.
    virtual void willMoveToSuperview(const UIViewPtr& newSuperview);
    virtual void didMoveToSuperview();
    virtual void willMoveToWindow(const std::shared_ptr<UIWindow>& newWindow);
    virtual void didMoveToWindow();
    virtual void didAddSubview(const UIViewPtr& subview);
    virtual void willRemoveSubview(const UIViewPtr& subview);

    // Look.
    UIColorPtr backgroundColor() const { return m_backgroundColor; }
    virtual void setBackgroundColor(UIColorPtr color);
    double alpha() const;
    virtual void setAlpha(double alpha);
    bool isHidden() const;
    virtual void setHidden(bool hidden);
    bool isOpaque() const;
    void setOpaque(bool opaque);
    bool clipsToBounds() const;
    void setClipsToBounds(bool clips);
    UIViewContentMode contentMode() const { return m_contentMode; }
    virtual void setContentMode(UIViewContentMode mode);
    // Inherited from the superview when not set (the platform's blue at the root).
    UIColorPtr tintColor() const;
    void setTintColor(UIColorPtr color);
    virtual void tintColorDidChange() {}

    // Interaction.
    bool isUserInteractionEnabled() const { return m_userInteractionEnabled; }
    void setUserInteractionEnabled(bool enabled) { m_userInteractionEnabled = enabled; }
    bool isMultipleTouchEnabled() const { return m_multipleTouchEnabled; }
    void setMultipleTouchEnabled(bool enabled) { m_multipleTouchEnabled = enabled; }
    bool isExclusiveTouch() const { return m_exclusiveTouch; }
    void setExclusiveTouch(bool exclusive) { m_exclusiveTouch = exclusive; }
    // The deepest visible, interactive view containing the point (in this view's coordinates), front-most
    // first: hidden views, views with alpha below 0.01 and views with user interaction off are skipped
    // with their subviews, and, as on the platform, a point outside a view's bounds (pointInside) reaches
    // none of its subviews even when they stick out.
    virtual UIViewPtr hitTest(CGPoint point, const UIEventPtr& event);
    virtual bool pointInside(CGPoint point, const UIEventPtr& event);
    UIResponderPtr nextResponder() const override;

    // Gesture recognizers: adding sets the recognizer's view to this view (recognizer->setView), removing
    // clears it. Touches in this view or its subviews reach these recognizers (TouchSimulator.h).
    void addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer);
    void removeGestureRecognizer(const std::shared_ptr<UIGestureRecognizer>& recognizer);
    const std::vector<std::shared_ptr<UIGestureRecognizer>>& gestureRecognizers() const {
        return m_gestureRecognizers;
    }

    // Coordinates between views of one tree (a null view means the window).
    CGPoint convertPointToView(CGPoint point, const UIViewPtr& view) const;
    CGPoint convertPointFromView(CGPoint point, const UIViewPtr& view) const;
    CGRect convertRectToView(CGRect rect, const UIViewPtr& view) const;
    CGRect convertRectFromView(CGRect rect, const UIViewPtr& view) const;

    // Layout. setNeedsLayout marks the view and schedules a display pass on the main run loop that lays out
    // every marked view; layoutIfNeeded lays out marked views of this subtree now, superviews first. Each
    // layout calls the owning controller's viewWillLayoutSubviews, layoutSubviews, then its
    // viewDidLayoutSubviews.
    void setNeedsLayout();
    void layoutIfNeeded();
    bool needsLayout() const { return m_needsLayout; }
    virtual void layoutSubviews() {}
    UIViewAutoresizing autoresizingMask() const { return m_autoresizingMask; }
    void setAutoresizingMask(uint64_t mask) { m_autoresizingMask = static_cast<UIViewAutoresizing>(mask); }
    bool autoresizesSubviews() const { return m_autoresizesSubviews; }
    void setAutoresizesSubviews(bool on) { m_autoresizesSubviews = on; }
    // The default answers the current size.
    virtual CGSize sizeThatFits(CGSize size);
    // Resizes to sizeThatFits(current size), keeping the origin.
    virtual void sizeToFit();
    virtual CGSize intrinsicContentSize();

    // Constraint-based layout (UIView+Constraints.cpp). In a tree that has constraints, layoutIfNeeded and
    // the display pass first run updateConstraints where needed, then solve every installed constraint and
    // give the views that do not translate their autoresizing masks their frames (snapped to pixels).
    // intrinsicContentSize enters as hugging (<=, 250 by default) and compression-resistance (>=, 750)
    // constraints; layout margins default to 8 points (a subclass may answer its own, which every solve
    // reads); leading and trailing are left and right.
    void addConstraint(const NSLayoutConstraintPtr& constraint);
    void addConstraints(const std::vector<NSLayoutConstraintPtr>& constraints);
    void removeConstraint(const NSLayoutConstraintPtr& constraint);
    void removeConstraints(const std::vector<NSLayoutConstraintPtr>& constraints);
    const std::vector<NSLayoutConstraintPtr>& constraints() const { return m_constraints; }
    bool translatesAutoresizingMaskIntoConstraints() const { return m_translatesAutoresizingMask; }
    void setTranslatesAutoresizingMaskIntoConstraints(bool translates);
    UILayoutPriority contentHuggingPriorityForAxis(UILayoutConstraintAxis axis) const;
    void setContentHuggingPriority(UILayoutPriority priority, UILayoutConstraintAxis axis);
    UILayoutPriority contentCompressionResistancePriorityForAxis(UILayoutConstraintAxis axis) const;
    void setContentCompressionResistancePriority(UILayoutPriority priority, UILayoutConstraintAxis axis);
    virtual UIEdgeInsets layoutMargins() const { return m_layoutMargins; }
    void setLayoutMargins(UIEdgeInsets margins);
    void invalidateIntrinsicContentSize();
    virtual void updateConstraints() {}
    void setNeedsUpdateConstraints();
    bool needsUpdateConstraints() const { return m_needsUpdateConstraints; }
    void updateConstraintsIfNeeded();

    // Drawing: drawRect runs when the window renders, with a current context in bounds coordinates.
    void setNeedsDisplay();
    void setNeedsDisplayInRect(CGRect rect);
    virtual void drawRect(CGRect rect);

    // The controller whose view this is (set by UIViewController when it loads its view).
    std::shared_ptr<UIViewController> viewDelegate() const { return m_viewDelegate.lock(); }
    void setViewDelegate(const std::shared_ptr<UIViewController>& controller) { m_viewDelegate = controller; }

    // Animations (UIView+Animation.cpp; see UIViewAnimation.h for what they promise).
    using Animations = std::function<void()>;
    using Completion = std::function<void(bool finished)>;
    static void animateWithDuration(double duration, Animations animations);
    static void animateWithDuration(double duration, Animations animations, Completion completion);
    static void animateWithDuration(double duration, double delay, uint64_t options, Animations animations,
                                    Completion completion);
    // usingSpringWithDamping:initialSpringVelocity:
    static void animateWithDuration(double duration, double delay, double dampingRatio, double velocity,
                                    uint64_t options, Animations animations, Completion completion);
    static void transitionWithView(const UIViewPtr& view, double duration, uint64_t options,
                                   Animations animations, Completion completion);
    // Replaces fromView with toView in fromView's superview (or only shows/hides them with
    // UIViewAnimationOptionShowHideTransitionViews).
    static void transitionFromView(const UIViewPtr& fromView, const UIViewPtr& toView, double duration,
                                   uint64_t options, Completion completion);
    static void performWithoutAnimation(const Animations& actions);
    static void setAnimationsEnabled(bool enabled);
    static bool areAnimationsEnabled();

protected:
    // The display pass: lays out every marked view of every window.
    static void runDisplayPass();

private:
    void layoutSubtree();
    void solveConstraints();
    void intrinsicContentMayHaveChanged();
    void applyAutoresizing(CGSize oldSuperSize, CGSize newSuperSize);
    void boundsSizeChanged(CGSize oldSize);
    int64_t indexOfSubview(const UIView* view) const;
    void syncSublayer(const UIViewPtr& view, int64_t index);
    void notifyWindowChange(const std::shared_ptr<UIWindow>& newWindow, bool after);

    CALayerPtr m_layer;
    std::weak_ptr<UIView> m_superview;
    std::vector<UIViewPtr> m_subviews;
    std::vector<std::shared_ptr<UIGestureRecognizer>> m_gestureRecognizers;
    std::weak_ptr<UIViewController> m_viewDelegate;
    UIColorPtr m_backgroundColor;
    UIColorPtr m_tintColor;
    double m_alpha{1};
    int64_t m_tag{0};
    UIViewContentMode m_contentMode{UIViewContentModeScaleToFill};
    UIViewAutoresizing m_autoresizingMask{UIViewAutoresizingNone};
    bool m_autoresizesSubviews{true};
    bool m_userInteractionEnabled{true};
    bool m_multipleTouchEnabled{false};
    bool m_exclusiveTouch{false};
    bool m_needsLayout{true};
    std::vector<NSLayoutConstraintPtr> m_constraints;
    UIEdgeInsets m_layoutMargins{8, 8, 8, 8};
    UILayoutPriority m_huggingPriority[2]{UILayoutPriorityDefaultLow, UILayoutPriorityDefaultLow};
    UILayoutPriority m_compressionPriority[2]{UILayoutPriorityDefaultHigh, UILayoutPriorityDefaultHigh};
    bool m_translatesAutoresizingMask{true};
    bool m_needsUpdateConstraints{true};
};

} // namespace platform
