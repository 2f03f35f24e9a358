#include "app/ui/UIView+AutoLayout.h"
#include "platform/ui/UIViewController.h"

#include <algorithm>

using namespace platform;

namespace {

bool isFarEdge(int64_t edge) {
    return edge == EdgeRight || edge == EdgeBottom || edge == EdgeTrailing;
}

NSLayoutRelation inverted(NSLayoutRelation relation) {
    return static_cast<NSLayoutRelation>(-relation);
}

NSLayoutConstraintPtr build(const UIViewPtr& view, int64_t attribute, NSLayoutRelation relation,
                            const UIViewPtr& other, int64_t toAttribute, double multiplier, double constant) {
    auto second = layout_layoutAttributeForAttribute(toAttribute);
    // A relation to a view that is not there (no superview yet) has nothing to be solved against.
    if (!view || (!other && second != NSLayoutAttributeNotAnAttribute))
        return nullptr;
    view->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto constraint = NSLayoutConstraint::constraintWithItem(
        view, layout_layoutAttributeForAttribute(attribute), relation, other, second, multiplier, constant);
    autoInstall(constraint);
    return constraint;
}

void append(NSLayoutConstraintArray& array, NSLayoutConstraintPtr constraint) {
    if (constraint)
        array.push_back(std::move(constraint));
}

UIViewPtr superviewOf(const UIViewPtr& view) {
    return view ? view->superview() : nullptr;
}

// The four sides in the order the helpers return them, leaving out the one `excluded` names.
template <typename Pin> NSLayoutConstraintArray pinSides(int64_t excluded, Pin pin) {
    struct Side {
        LayoutAttribute edge;
        bool left;
    };
    const Side sides[] = {{EdgeTop, excluded == EdgeTop},
                          {EdgeLeading, excluded == EdgeLeading || excluded == EdgeLeft},
                          {EdgeBottom, excluded == EdgeBottom},
                          {EdgeTrailing, excluded == EdgeTrailing || excluded == EdgeRight}};
    NSLayoutConstraintArray result;
    for (const Side& side : sides)
        if (!side.left)
            append(result, pin(side.edge));
    return result;
}

double insetForEdge(UIEdgeInsets insets, LayoutAttribute edge) {
    switch (edge) {
    case EdgeTop:
        return insets.top;
    case EdgeBottom:
        return insets.bottom;
    case EdgeLeading:
        return insets.left;
    default:
        return insets.right;
    }
}

NSLayoutConstraintPtr pinToGuide(const UIViewPtr& view, const std::shared_ptr<UIViewController>& controller,
                                 bool top, double inset, NSLayoutRelation relation) {
    if (!view || !controller)
        return nullptr;
    view->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto constraint = top ? NSLayoutConstraint::constraintWithItem(view, NSLayoutAttributeTop, relation,
                                                                   controller->topLayoutGuide(),
                                                                   NSLayoutAttributeBottom, 1.0, inset)
                          : NSLayoutConstraint::constraintWithItem(
                                view, NSLayoutAttributeBottom, inverted(relation),
                                controller->bottomLayoutGuide(), NSLayoutAttributeTop, 1.0, -inset);
    layout_addConstraint(controller->view(), constraint);
    return constraint;
}

void setPriorityForAxis(const UIViewPtr& view, int64_t axis,
                        void (UIView::*setter)(UILayoutPriority, UILayoutConstraintAxis)) {
    if (!view || !layout_isExecutingPriorityConstraintsBlock())
        return;
    view->setTranslatesAutoresizingMaskIntoConstraints(false);
    (view.get()->*setter)(layout_currentGlobalConstraintPriority(), layout_constraintAxisForAxis(axis));
}

} // namespace

NSLayoutConstraintPtr autoConstrainAttribute(const UIViewPtr& view, int64_t attribute, int64_t toAttribute,
                                             const UIViewPtr& other) {
    return autoConstrainAttributeWithOffset(view, attribute, toAttribute, other, 0);
}

NSLayoutConstraintPtr autoConstrainAttributeWithOffset(const UIViewPtr& view, int64_t attribute,
                                                       int64_t toAttribute, const UIViewPtr& other,
                                                       double offset, NSLayoutRelation relation) {
    return build(view, attribute, relation, other, toAttribute, 1.0, offset);
}

NSLayoutConstraintPtr autoConstrainAttributeWithMultiplier(const UIViewPtr& view, int64_t attribute,
                                                           int64_t toAttribute, const UIViewPtr& other,
                                                           double multiplier, NSLayoutRelation relation) {
    return build(view, attribute, relation, other, toAttribute, multiplier, 0);
}

NSLayoutConstraintPtr autoSetDimension(const UIViewPtr& view, int64_t dimension, double size,
                                       NSLayoutRelation relation) {
    return build(view, dimension, relation, nullptr, NSLayoutAttributeNotAnAttribute, 0.0, size);
}

NSLayoutConstraintArray autoSetDimensionsToSize(const UIViewPtr& view, CGSize size) {
    NSLayoutConstraintArray result;
    append(result, autoSetDimension(view, DimensionWidth, size.width));
    append(result, autoSetDimension(view, DimensionHeight, size.height));
    return result;
}

NSLayoutConstraintPtr autoPinEdge(const UIViewPtr& view, int64_t edge, int64_t toEdge, const UIViewPtr& other,
                                  double offset, NSLayoutRelation relation) {
    return autoConstrainAttributeWithOffset(view, edge, toEdge, other, offset, relation);
}

NSLayoutConstraintPtr autoAlignAxis(const UIViewPtr& view, int64_t axis, const UIViewPtr& other) {
    return autoAlignAxisWithOffset(view, axis, other, 0);
}

NSLayoutConstraintPtr autoAlignAxisWithOffset(const UIViewPtr& view, int64_t axis, const UIViewPtr& other,
                                              double offset) {
    return autoConstrainAttributeWithOffset(view, axis, axis, other, offset);
}

NSLayoutConstraintPtr autoAlignAxisWithMultiplier(const UIViewPtr& view, int64_t axis, const UIViewPtr& other,
                                                  double multiplier) {
    return autoConstrainAttributeWithMultiplier(view, axis, axis, other, multiplier);
}

NSLayoutConstraintPtr autoMatchDimension(const UIViewPtr& view, int64_t dimension, int64_t toDimension,
                                         const UIViewPtr& other) {
    return autoMatchDimensionWithOffset(view, dimension, toDimension, other, 0);
}

NSLayoutConstraintPtr autoMatchDimensionWithOffset(const UIViewPtr& view, int64_t dimension,
                                                   int64_t toDimension, const UIViewPtr& other, double offset,
                                                   NSLayoutRelation relation) {
    return autoConstrainAttributeWithOffset(view, dimension, toDimension, other, offset, relation);
}

NSLayoutConstraintPtr autoMatchDimensionWithMultiplier(const UIViewPtr& view, int64_t dimension,
                                                       int64_t toDimension, const UIViewPtr& other,
                                                       double multiplier, NSLayoutRelation relation) {
    return autoConstrainAttributeWithMultiplier(view, dimension, toDimension, other, multiplier, relation);
}

NSLayoutConstraintPtr autoAlignAxisToSuperviewAxis(const UIViewPtr& view, int64_t axis) {
    return autoConstrainAttribute(view, axis, axis, superviewOf(view));
}

NSLayoutConstraintArray autoCenterInSuperview(const UIViewPtr& view) {
    NSLayoutConstraintArray result;
    append(result, autoAlignAxisToSuperviewAxis(view, AxisHorizontal));
    append(result, autoAlignAxisToSuperviewAxis(view, AxisVertical));
    return result;
}

NSLayoutConstraintPtr autoAlignAxisToSuperviewMarginAxis(const UIViewPtr& view, int64_t axis) {
    return autoConstrainAttribute(view, axis, layout_marginAxisForAxis(axis), superviewOf(view));
}

NSLayoutConstraintArray autoCenterInSuperviewMargins(const UIViewPtr& view) {
    NSLayoutConstraintArray result;
    append(result, autoAlignAxisToSuperviewMarginAxis(view, AxisHorizontal));
    append(result, autoAlignAxisToSuperviewMarginAxis(view, AxisVertical));
    return result;
}

NSLayoutConstraintPtr autoPinEdgeToSuperviewEdge(const UIViewPtr& view, int64_t edge, double inset,
                                                 NSLayoutRelation relation) {
    bool far = isFarEdge(edge);
    return autoPinEdge(view, edge, edge, superviewOf(view), far ? -inset : inset,
                       far ? inverted(relation) : relation);
}

NSLayoutConstraintArray autoPinEdgesToSuperviewEdges(const UIViewPtr& view) {
    return autoPinEdgesToSuperviewEdgesWithInsets(view, UIEdgeInsetsZero);
}

NSLayoutConstraintArray autoPinEdgesToSuperviewEdgesWithInsets(const UIViewPtr& view, UIEdgeInsets insets) {
    return autoPinEdgesToSuperviewEdgesWithInsets(view, insets, NSLayoutAttributeNotAnAttribute);
}

NSLayoutConstraintArray autoPinEdgesToSuperviewEdgesWithInsets(const UIViewPtr& view, UIEdgeInsets insets,
                                                               int64_t excludingEdge) {
    return pinSides(excludingEdge, [&](LayoutAttribute edge) {
        return autoPinEdgeToSuperviewEdge(view, edge, insetForEdge(insets, edge));
    });
}

NSLayoutConstraintPtr autoPinEdgeToSuperviewMargin(const UIViewPtr& view, int64_t edge,
                                                   NSLayoutRelation relation) {
    return autoConstrainAttributeWithOffset(view, edge, layout_marginForEdge(edge), superviewOf(view), 0,
                                            isFarEdge(edge) ? inverted(relation) : relation);
}

NSLayoutConstraintArray autoPinEdgesToSuperviewMargins(const UIViewPtr& view) {
    return autoPinEdgesToSuperviewMarginsExcludingEdge(view, NSLayoutAttributeNotAnAttribute);
}

NSLayoutConstraintArray autoPinEdgesToSuperviewMarginsExcludingEdge(const UIViewPtr& view, int64_t edge) {
    return pinSides(edge, [&](LayoutAttribute side) { return autoPinEdgeToSuperviewMargin(view, side); });
}

NSLayoutConstraintPtr
autoPinToTopLayoutGuideOfViewController(const UIViewPtr& view,
                                        const std::shared_ptr<UIViewController>& controller, double inset,
                                        NSLayoutRelation relation) {
    return pinToGuide(view, controller, true, inset, relation);
}

NSLayoutConstraintPtr
autoPinToBottomLayoutGuideOfViewController(const UIViewPtr& view,
                                           const std::shared_ptr<UIViewController>& controller, double inset,
                                           NSLayoutRelation relation) {
    return pinToGuide(view, controller, false, inset, relation);
}

void autoSetContentCompressionResistancePriorityForAxis(const UIViewPtr& view, int64_t axis) {
    setPriorityForAxis(view, axis, &UIView::setContentCompressionResistancePriority);
}

void autoSetContentHuggingPriorityForAxis(const UIViewPtr& view, int64_t axis) {
    setPriorityForAxis(view, axis, &UIView::setContentHuggingPriority);
}

void layout_addConstraint(const UIViewPtr& view, const NSLayoutConstraintPtr& constraint) {
    if (!view || !constraint)
        return;
    layout_applyGlobalStateToConstraint(constraint);
    if (layout_preventAutomaticConstraintInstallation())
        layout_currentArrayOfCreatedConstraints()->push_back(constraint);
    else
        view->addConstraint(constraint);
}

UIViewPtr layout_commonSuperviewWithView(const UIViewPtr& view, const UIViewPtr& other) {
    if (!other)
        return nullptr;
    for (auto candidate = view; candidate; candidate = candidate->superview())
        if (other->isDescendantOfView(candidate))
            return candidate;
    return nullptr;
}

NSLayoutConstraintPtr layout_alignAttribute(const UIViewPtr& view, int64_t attribute, const UIViewPtr& other,
                                            int64_t /*axis*/) {
    if (attribute >= EdgeLeft && attribute <= EdgeTrailing)
        return autoPinEdge(view, attribute, attribute, other);
    if (attribute >= AxisVertical && attribute <= AxisFirstBaseline)
        return autoAlignAxis(view, attribute, other);
    return nullptr;
}
