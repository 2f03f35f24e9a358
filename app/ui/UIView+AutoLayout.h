#pragma once
// UIView(AutoLayout): one call, one constraint (or a short array): pin an edge, align an axis, match or fix
// a dimension, centre in or pin to the superview or its margins, pin to a controller's layout guides. Each
// builder switches the receiver (never the other view) to constraint-based layout, makes the constraint,
// installs it at once through autoInstall (so an open priority, identifier or creation-only block applies)
// and returns it for the caller to change or remove. Right, bottom and trailing pins to the superview
// negate the inset and invert the relation, so a positive inset keeps the view inside.
//
// Attributes are LayoutAttribute values; anything outside 1 to 20 becomes no attribute. A null receiver, or
// a missing other view (no superview yet) where one is needed, makes nothing and returns null; arrays leave
// out what was not made. Main thread only.

#include "app/ui/NSLayoutConstraint+AutoLayout.h"
#include "platform/ui/UIView.h"

#include <memory>

namespace platform {
class UIViewController;
}

using platform::NSLayoutConstraintPtr;
using platform::NSLayoutRelation;
using platform::UIViewPtr;

// Preparation: a new view of the class, or the given one, switched to constraint-based layout.
template <typename View = platform::UIView> std::shared_ptr<View> newAutoLayoutView();
template <typename View> std::shared_ptr<View> initForAutoLayout(std::shared_ptr<View> view);
template <typename View> std::shared_ptr<View> configureForAutoLayout(std::shared_ptr<View> view);

// The general builders: [view.attribute relation other.toAttribute x 1 + offset], [... x multiplier + 0]
// and [view.dimension relation size] (no second item, multiplier 0).
NSLayoutConstraintPtr autoConstrainAttribute(const UIViewPtr& view, int64_t attribute, int64_t toAttribute,
                                             const UIViewPtr& other);
NSLayoutConstraintPtr
autoConstrainAttributeWithOffset(const UIViewPtr& view, int64_t attribute, int64_t toAttribute,
                                 const UIViewPtr& other, double offset,
                                 NSLayoutRelation relation = platform::NSLayoutRelationEqual);
NSLayoutConstraintPtr
autoConstrainAttributeWithMultiplier(const UIViewPtr& view, int64_t attribute, int64_t toAttribute,
                                     const UIViewPtr& other, double multiplier,
                                     NSLayoutRelation relation = platform::NSLayoutRelationEqual);
NSLayoutConstraintPtr autoSetDimension(const UIViewPtr& view, int64_t dimension, double size,
                                       NSLayoutRelation relation = platform::NSLayoutRelationEqual);
// Width first, then height.
NSLayoutConstraintArray autoSetDimensionsToSize(const UIViewPtr& view, platform::CGSize size);

NSLayoutConstraintPtr autoPinEdge(const UIViewPtr& view, int64_t edge, int64_t toEdge, const UIViewPtr& other,
                                  double offset = 0,
                                  NSLayoutRelation relation = platform::NSLayoutRelationEqual);
NSLayoutConstraintPtr autoAlignAxis(const UIViewPtr& view, int64_t axis, const UIViewPtr& other);
NSLayoutConstraintPtr autoAlignAxisWithOffset(const UIViewPtr& view, int64_t axis, const UIViewPtr& other,
                                              double offset);
NSLayoutConstraintPtr autoAlignAxisWithMultiplier(const UIViewPtr& view, int64_t axis, const UIViewPtr& other,
                                                  double multiplier);
NSLayoutConstraintPtr autoMatchDimension(const UIViewPtr& view, int64_t dimension, int64_t toDimension,
                                         const UIViewPtr& other);
NSLayoutConstraintPtr
autoMatchDimensionWithOffset(const UIViewPtr& view, int64_t dimension, int64_t toDimension,
                             const UIViewPtr& other, double offset,
                             NSLayoutRelation relation = platform::NSLayoutRelationEqual);
NSLayoutConstraintPtr
autoMatchDimensionWithMultiplier(const UIViewPtr& view, int64_t dimension, int64_t toDimension,
                                 const UIViewPtr& other, double multiplier,
                                 NSLayoutRelation relation = platform::NSLayoutRelationEqual);

// The superview as it is at the call.
NSLayoutConstraintPtr autoAlignAxisToSuperviewAxis(const UIViewPtr& view, int64_t axis);
// Horizontal axis (centre Y) first, then vertical (centre X).
NSLayoutConstraintArray autoCenterInSuperview(const UIViewPtr& view);
NSLayoutConstraintPtr autoAlignAxisToSuperviewMarginAxis(const UIViewPtr& view, int64_t axis);
NSLayoutConstraintArray autoCenterInSuperviewMargins(const UIViewPtr& view);
NSLayoutConstraintPtr autoPinEdgeToSuperviewEdge(const UIViewPtr& view, int64_t edge, double inset = 0,
                                                 NSLayoutRelation relation = platform::NSLayoutRelationEqual);
// Top, leading, bottom, trailing; the excluding form leaves out the pin the edge names (left counts as
// leading and right as trailing; any other value leaves out nothing).
NSLayoutConstraintArray autoPinEdgesToSuperviewEdges(const UIViewPtr& view);
NSLayoutConstraintArray autoPinEdgesToSuperviewEdgesWithInsets(const UIViewPtr& view,
                                                               platform::UIEdgeInsets insets);
NSLayoutConstraintArray autoPinEdgesToSuperviewEdgesWithInsets(const UIViewPtr& view,
                                                               platform::UIEdgeInsets insets,
                                                               int64_t excludingEdge);
NSLayoutConstraintPtr
autoPinEdgeToSuperviewMargin(const UIViewPtr& view, int64_t edge,
                             NSLayoutRelation relation = platform::NSLayoutRelationEqual);
NSLayoutConstraintArray autoPinEdgesToSuperviewMargins(const UIViewPtr& view);
NSLayoutConstraintArray autoPinEdgesToSuperviewMarginsExcludingEdge(const UIViewPtr& view, int64_t edge);

// [view.top relation topLayoutGuide.bottom + inset] and [view.bottom (inverted relation)
// bottomLayoutGuide.top - inset], added to the controller's view with layout_addConstraint.
NSLayoutConstraintPtr autoPinToTopLayoutGuideOfViewController(
    const UIViewPtr& view, const std::shared_ptr<platform::UIViewController>& controller, double inset,
    NSLayoutRelation relation = platform::NSLayoutRelationEqual);
NSLayoutConstraintPtr autoPinToBottomLayoutGuideOfViewController(
    const UIViewPtr& view, const std::shared_ptr<platform::UIViewController>& controller, double inset,
    NSLayoutRelation relation = platform::NSLayoutRelationEqual);

// Inside a priority block only: the view's priority for the axis becomes the current global priority.
void autoSetContentCompressionResistancePriorityForAxis(const UIViewPtr& view, int64_t axis);
void autoSetContentHuggingPriorityForAxis(const UIViewPtr& view, int64_t axis);

// Applies the global state, then collects the constraint when installation is prevented, else adds it.
void layout_addConstraint(const UIViewPtr& view, const NSLayoutConstraintPtr& constraint);
// The nearest of the view and its superviews that `other` descends from (a view descends from itself).
UIViewPtr layout_commonSuperviewWithView(const UIViewPtr& view, const UIViewPtr& other);
// An edge pins the same edges, an axis aligns the same axes; anything else makes nothing. The axis
// argument does not change the result.
NSLayoutConstraintPtr layout_alignAttribute(const UIViewPtr& view, int64_t attribute, const UIViewPtr& other,
                                            int64_t axis);

template <typename View> std::shared_ptr<View> configureForAutoLayout(std::shared_ptr<View> view) {
    if (view)
        view->setTranslatesAutoresizingMaskIntoConstraints(false);
    return view;
}

template <typename View> std::shared_ptr<View> initForAutoLayout(std::shared_ptr<View> view) {
    return configureForAutoLayout(std::move(view));
}

template <typename View> std::shared_ptr<View> newAutoLayoutView() {
    return configureForAutoLayout(std::make_shared<View>());
}
