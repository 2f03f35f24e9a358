#include "platform/foundation/Value.h"
#include "platform/ui/LayoutSolver.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIView.h"
#include "platform/ui/UIViewController.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace platform {

namespace {

bool isHorizontal(NSLayoutAttribute attribute) {
    switch (attribute) {
    case NSLayoutAttributeLeft:
    case NSLayoutAttributeRight:
    case NSLayoutAttributeLeading:
    case NSLayoutAttributeTrailing:
    case NSLayoutAttributeCenterX:
    case NSLayoutAttributeLeftMargin:
    case NSLayoutAttributeRightMargin:
    case NSLayoutAttributeLeadingMargin:
    case NSLayoutAttributeTrailingMargin:
    case NSLayoutAttributeCenterXWithinMargins:
        return true;
    default:
        return false;
    }
}

bool isDimension(NSLayoutAttribute attribute) {
    return attribute == NSLayoutAttributeWidth || attribute == NSLayoutAttributeHeight;
}

double strengthFor(UILayoutPriority priority) {
    if (priority >= UILayoutPriorityRequired)
        return LayoutStrength::required;
    return std::max(0.0, static_cast<double>(priority));
}

LayoutExpression attributeOfRect(const LayoutExpression& left, const LayoutExpression& top,
                                 const LayoutExpression& width, const LayoutExpression& height,
                                 UIEdgeInsets m, NSLayoutAttribute attribute) {
    switch (attribute) {
    case NSLayoutAttributeLeft:
    case NSLayoutAttributeLeading:
        return left;
    case NSLayoutAttributeRight:
    case NSLayoutAttributeTrailing:
        return left + width;
    case NSLayoutAttributeTop:
        return top;
    case NSLayoutAttributeBottom:
    case NSLayoutAttributeLastBaseline:
    case NSLayoutAttributeFirstBaseline:
        return top + height;
    case NSLayoutAttributeWidth:
        return width;
    case NSLayoutAttributeHeight:
        return height;
    case NSLayoutAttributeCenterX:
        return left + width * 0.5;
    case NSLayoutAttributeCenterY:
        return top + height * 0.5;
    case NSLayoutAttributeLeftMargin:
    case NSLayoutAttributeLeadingMargin:
        return left + m.left;
    case NSLayoutAttributeRightMargin:
    case NSLayoutAttributeTrailingMargin:
        return left + width - m.right;
    case NSLayoutAttributeTopMargin:
        return top + m.top;
    case NSLayoutAttributeBottomMargin:
        return top + height - m.bottom;
    case NSLayoutAttributeCenterXWithinMargins:
        return left + (width + m.left - m.right) * 0.5;
    case NSLayoutAttributeCenterYWithinMargins:
        return top + (height + m.top - m.bottom) * 0.5;
    default:
        return {};
    }
}

// The solve of a view tree, kept on the root between passes. Every position is in the root's coordinates
// while solving; a constraint's location attributes are measured from the view it is installed on, so
// multipliers on positions scale distances inside that view as the platform does. Views that translate their
// autoresizing masks (and the root) stand in the solve as constants taken from their current frames.
class TreeSolve : public Object {
public:
    explicit TreeSolve(UIView* root)
        : m_root(root) {}

    struct Box {
        LayoutExpression left, top, width, height;
        bool solved{false};
        LayoutVariable variables[4];
    };

    Box& box(UIView* view) {
        auto it = m_boxes.find(view);
        if (it != m_boxes.end())
            return it->second;
        Box result;
        auto superview = view->superview();
        if (view != m_root && superview && !view->translatesAutoresizingMaskIntoConstraints()) {
            result.solved = true;
            for (int i = 0; i < 4; ++i)
                result.variables[i] = LayoutVariable();
            result.left = result.variables[0];
            result.top = result.variables[1];
            result.width = result.variables[2];
            result.height = result.variables[3];
        } else {
            CGRect frame = view->frame();
            result.width = frame.size.width;
            result.height = frame.size.height;
            if (view != m_root && superview) {
                Box& parent = box(superview.get());
                CGRect parentBounds = superview->bounds();
                result.left = parent.left + (frame.origin.x - parentBounds.origin.x);
                result.top = parent.top + (frame.origin.y - parentBounds.origin.y);
            }
        }
        return m_boxes.emplace(view, std::move(result)).first->second;
    }

    LayoutExpression attribute(UIView* view, NSLayoutAttribute attribute) {
        Box& b = box(view);
        return attributeOfRect(b.left, b.top, b.width, b.height, view->layoutMargins(), attribute);
    }

    // A guide is the strip of its controller's view that it measures, across the view's width.
    LayoutExpression guideAttribute(const UILayoutSupport& guide, NSLayoutAttribute attribute) {
        auto view = guide.owningView();
        if (!view)
            return {};
        Box& b = box(view.get());
        double length = guide.length();
        LayoutExpression top = guide.isTopGuide() ? b.top : b.top + b.height - length;
        return attributeOfRect(b.left, top, b.width, LayoutExpression(length), UIEdgeInsets{}, attribute);
    }

    LayoutExpression relative(LayoutExpression value, NSLayoutAttribute attr, UIView* container) {
        if (isDimension(attr) || !container)
            return value;
        return value - (isHorizontal(attr) ? box(container).left : box(container).top);
    }

    void add(const NSLayoutConstraint& constraint, UIView* container) {
        auto first = constraint.firstItem();
        if (!first || constraint.firstAttribute() == NSLayoutAttributeNotAnAttribute)
            return;
        auto firstAttribute = constraint.firstAttribute(), secondAttribute = constraint.secondAttribute();
        LayoutExpression lhs = relative(attribute(first.get(), firstAttribute), firstAttribute, container);
        LayoutExpression rhs(constraint.constant());
        if (secondAttribute != NSLayoutAttributeNotAnAttribute) {
            if (auto second = constraint.secondItem())
                rhs = rhs + relative(attribute(second.get(), secondAttribute), secondAttribute, container) *
                                constraint.multiplier();
            else if (auto guide = constraint.secondLayoutGuide())
                rhs = rhs + relative(guideAttribute(*guide, secondAttribute), secondAttribute, container) *
                                constraint.multiplier();
        }
        auto relation = constraint.relation() == NSLayoutRelationLessThanOrEqual ? LayoutRelation::LessOrEqual
                        : constraint.relation() == NSLayoutRelationGreaterThanOrEqual
                            ? LayoutRelation::GreaterOrEqual
                            : LayoutRelation::Equal;
        addSolverConstraint(LayoutConstraint(lhs, relation, rhs, strengthFor(constraint.priority())));
    }

    // Intrinsic sizes enter through edit variables, so a pass whose only change is a new intrinsic size
    // moves the existing solution (suggestValue) instead of building the tableau again.
    void addIntrinsicSize(UIView* view) {
        Box& b = box(view);
        if (!b.solved)
            return;
        CGSize size = view->intrinsicContentSize();
        const LayoutExpression* dimensions[2] = {&b.width, &b.height};
        double values[2] = {size.width, size.height};
        for (int axis = 0; axis < 2; ++axis) {
            if (values[axis] < 0)
                continue;
            auto constraintAxis = static_cast<UILayoutConstraintAxis>(axis);
            LayoutVariable intrinsic;
            m_solver.addEditVariable(intrinsic, intrinsicStrength);
            m_solver.suggestValue(intrinsic, values[axis]);
            m_intrinsics.push_back({view, axis, intrinsic, values[axis]});
            addSolverConstraint(LayoutConstraint(
                *dimensions[axis], LayoutRelation::GreaterOrEqual, intrinsic,
                strengthFor(view->contentCompressionResistancePriorityForAxis(constraintAxis))));
            addSolverConstraint(
                LayoutConstraint(*dimensions[axis], LayoutRelation::LessOrEqual, intrinsic,
                                 strengthFor(view->contentHuggingPriorityForAxis(constraintAxis))));
        }
    }

    void suggestIntrinsicSizes() {
        for (auto& entry : m_intrinsics) {
            CGSize size = entry.view->intrinsicContentSize();
            entry.suggested = entry.axis == 0 ? size.width : size.height;
            m_solver.suggestValue(entry.variable, entry.suggested);
        }
    }

    bool intrinsicSizeChanged(UIView* view) {
        for (auto& entry : m_intrinsics) {
            if (entry.view != view)
                continue;
            CGSize size = view->intrinsicContentSize();
            if ((entry.axis == 0 ? size.width : size.height) != entry.suggested)
                return true;
        }
        return false;
    }

    std::vector<const void*> identities;
    std::vector<double> numbers;

    // Frames in each view's superview, snapped to the screen's pixels edge by edge.
    void apply(UIView* view) {
        Box& b = box(view);
        if (!b.solved)
            return;
        auto superview = view->superview();
        Box& parent = box(superview.get());
        double scale = UIScreen::mainScreen()->scale();
        auto snap = [scale](double v) { return std::round(v * scale) / scale; };
        double left = snap(b.left.value()), top = snap(b.top.value());
        double right = snap(b.left.value() + b.width.value()),
               bottom = snap(b.top.value() + b.height.value());
        // A solved superview stands where its snapped edges put it, so its subviews are placed from there.
        double parentLeft = parent.solved ? snap(parent.left.value()) : parent.left.value();
        double parentTop = parent.solved ? snap(parent.top.value()) : parent.top.value();
        CGRect parentBounds = superview->bounds();
        CGRect frame =
            CGRectMake(left - parentLeft + parentBounds.origin.x, top - parentTop + parentBounds.origin.y,
                       std::max(0.0, right - left), std::max(0.0, bottom - top));
        if (!CGRectEqualToRect(frame, view->frame()))
            view->setFrame(frame);
    }

    void solve() { m_solver.updateVariables(); }

private:
    void addSolverConstraint(const LayoutConstraint& constraint) {
        try {
            m_solver.addConstraint(constraint);
        } catch (const LayoutSolverError&) {
            // As on the platform, a required constraint that conflicts with those before it is broken
            // (left out) and the rest of the layout still holds.
        }
    }

    // Far above any priority (at most 999) so intrinsic sizes only give way through hugging and
    // compression resistance, yet not required, as the solver wants of edit variables.
    static constexpr double intrinsicStrength = LayoutStrength::required / 2;

    struct Intrinsic {
        UIView* view;
        int axis;
        LayoutVariable variable;
        double suggested;
    };

    UIView* m_root;
    std::map<UIView*, Box> m_boxes;
    std::vector<Intrinsic> m_intrinsics;
    LayoutSolver m_solver;
};

void collect(UIView* view, std::vector<UIView*>& views, bool& usesConstraints) {
    views.push_back(view);
    if (!view->constraints().empty() || !view->translatesAutoresizingMaskIntoConstraints())
        usesConstraints = true;
    for (auto& subview : view->subviews())
        collect(subview.get(), views, usesConstraints);
}

} // namespace

void UIView::addConstraint(const NSLayoutConstraintPtr& constraint) {
    if (!constraint || constraint->installedView().get() == this)
        return;
    if (auto previous = constraint->installedView())
        previous->removeConstraint(constraint);
    m_constraints.push_back(constraint);
    constraint->m_installedView = std::static_pointer_cast<UIView>(weak_from_this().lock());
    setNeedsLayout();
}

void UIView::addConstraints(const std::vector<NSLayoutConstraintPtr>& constraints) {
    for (auto& constraint : constraints)
        addConstraint(constraint);
}

void UIView::removeConstraint(const NSLayoutConstraintPtr& constraint) {
    auto it = std::find(m_constraints.begin(), m_constraints.end(), constraint);
    if (it == m_constraints.end())
        return;
    m_constraints.erase(it);
    if (constraint->installedView().get() == this)
        constraint->m_installedView.reset();
    setNeedsLayout();
}

void UIView::removeConstraints(const std::vector<NSLayoutConstraintPtr>& constraints) {
    for (auto& constraint : constraints)
        removeConstraint(constraint);
}

void UIView::setTranslatesAutoresizingMaskIntoConstraints(bool translates) {
    if (translates == m_translatesAutoresizingMask)
        return;
    m_translatesAutoresizingMask = translates;
    setNeedsLayout();
    if (auto parent = superview())
        parent->setNeedsLayout();
}

UILayoutPriority UIView::contentHuggingPriorityForAxis(UILayoutConstraintAxis axis) const {
    return m_huggingPriority[axis == UILayoutConstraintAxisVertical ? 1 : 0];
}

void UIView::setContentHuggingPriority(UILayoutPriority priority, UILayoutConstraintAxis axis) {
    m_huggingPriority[axis == UILayoutConstraintAxisVertical ? 1 : 0] = priority;
    invalidateIntrinsicContentSize();
}

UILayoutPriority UIView::contentCompressionResistancePriorityForAxis(UILayoutConstraintAxis axis) const {
    return m_compressionPriority[axis == UILayoutConstraintAxisVertical ? 1 : 0];
}

void UIView::setContentCompressionResistancePriority(UILayoutPriority priority, UILayoutConstraintAxis axis) {
    m_compressionPriority[axis == UILayoutConstraintAxisVertical ? 1 : 0] = priority;
    invalidateIntrinsicContentSize();
}

void UIView::setLayoutMargins(UIEdgeInsets margins) {
    m_layoutMargins = margins;
    setNeedsLayout();
}

void UIView::invalidateIntrinsicContentSize() {
    setNeedsLayout();
    if (auto parent = superview())
        parent->setNeedsLayout();
}

void UIView::setNeedsUpdateConstraints() {
    m_needsUpdateConstraints = true;
    setNeedsLayout();
}

void UIView::updateConstraintsIfNeeded() {
    auto keepAlive = weak_from_this().lock();
    auto subviews = m_subviews;
    for (auto& subview : subviews)
        subview->updateConstraintsIfNeeded();
    if (m_needsUpdateConstraints) {
        m_needsUpdateConstraints = false;
        updateConstraints();
    }
}

static const char cachedSolveKey = 0;

static bool isInside(const UIView* view, const UIView* ancestor) {
    for (const UIView* v = view; v; v = v->superview().get())
        if (v == ancestor)
            return true;
    return false;
}

void UIView::intrinsicContentMayHaveChanged() {
    if (m_translatesAutoresizingMask)
        return;
    auto parent = superview();
    if (!parent)
        return;
    UIView* root = parent.get();
    while (auto above = root->superview())
        root = above.get();
    auto cached = std::dynamic_pointer_cast<TreeSolve>(root->associatedObject(&cachedSolveKey).object());
    if (cached && cached->intrinsicSizeChanged(this))
        invalidateIntrinsicContentSize();
}

// Raw pointers: a view may lay out before anything owns it (from its own constructor), and every view
// reached here is kept alive by the tree for the whole solve.
void UIView::solveConstraints() {
    UIView* root = this;
    while (auto parent = root->superview())
        root = parent.get();
    std::vector<UIView*> views;
    bool usesConstraints = false;
    collect(root, views, usesConstraints);
    if (!usesConstraints)
        return;
    root->updateConstraintsIfNeeded();
    views.clear();
    collect(root, views, usesConstraints);

    // Everything the tableau is built from except intrinsic sizes: while it stays the same, the solve
    // kept on the root is reused.
    std::vector<const void*> identities;
    std::vector<double> numbers;
    std::vector<std::pair<NSLayoutConstraint*, UIView*>> applicable;
    for (UIView* view : views) {
        identities.push_back(view);
        bool fixed = view == root || view->translatesAutoresizingMaskIntoConstraints();
        numbers.push_back(fixed ? 1 : 0);
        if (fixed) {
            CGRect frame = view->frame();
            CGRect bounds = view->bounds();
            numbers.insert(numbers.end(), {frame.origin.x, frame.origin.y, frame.size.width,
                                           frame.size.height, bounds.origin.x, bounds.origin.y});
        } else {
            CGSize intrinsic = view->intrinsicContentSize();
            auto h = UILayoutConstraintAxisHorizontal, v = UILayoutConstraintAxisVertical;
            numbers.insert(numbers.end(),
                           {intrinsic.width < 0 ? 0.0 : 1.0, intrinsic.height < 0 ? 0.0 : 1.0,
                            view->contentHuggingPriorityForAxis(h), view->contentHuggingPriorityForAxis(v),
                            view->contentCompressionResistancePriorityForAxis(h),
                            view->contentCompressionResistancePriorityForAxis(v)});
        }
        UIEdgeInsets m = view->layoutMargins();
        numbers.insert(numbers.end(), {m.top, m.left, m.bottom, m.right});
        for (auto& constraint : view->constraints()) {
            // Constraints whose items have left the installing view's subtree no longer apply.
            auto first = constraint->firstItem();
            auto guide = constraint->secondLayoutGuide();
            auto second = guide ? guide->owningView() : constraint->secondItem();
            if (!first || !isInside(first.get(), view) || (second && !isInside(second.get(), view)))
                continue;
            applicable.push_back({constraint.get(), view});
            identities.push_back(constraint.get());
            identities.push_back(first.get());
            identities.push_back(second.get());
            numbers.insert(numbers.end(), {constraint->constant(), constraint->priority()});
            // A guide's length follows bars that come and go, so each pass measures it again.
            if (guide)
                numbers.push_back(guide->length());
        }
    }

    auto cached = std::dynamic_pointer_cast<TreeSolve>(root->associatedObject(&cachedSolveKey).object());
    bool reused = false;
    if (cached && cached->identities == identities && cached->numbers == numbers) {
        try {
            cached->suggestIntrinsicSizes();
            reused = true;
        } catch (const LayoutSolverError&) {
        }
    }
    if (!reused) {
        cached = std::make_shared<TreeSolve>(root);
        for (auto& [constraint, view] : applicable)
            cached->add(*constraint, view);
        for (UIView* view : views)
            if (view != root && !view->translatesAutoresizingMaskIntoConstraints())
                cached->addIntrinsicSize(view);
        cached->identities = std::move(identities);
        cached->numbers = std::move(numbers);
        root->setAssociatedObject(&cachedSolveKey, Value(cached));
    }
    cached->solve();
    for (UIView* view : views)
        if (view != root)
            cached->apply(view);
}

} // namespace platform
