#include "platform/ui/NSLayoutConstraint.h"

#include "platform/foundation/Exception.h"
#include "platform/ui/UIView.h"
#include "platform/ui/UIViewController.h"

#include <algorithm>
#include <fmt/format.h>

namespace platform {

namespace {

UIViewPtr nearestCommonAncestor(const UIViewPtr& first, const UIViewPtr& second) {
    if (!second)
        return first;
    if (!first)
        return second;
    for (UIViewPtr candidate = first; candidate; candidate = candidate->superview())
        if (second->isDescendantOfView(candidate))
            return candidate;
    return nullptr;
}

} // namespace

NSLayoutConstraint::NSLayoutConstraint(const std::shared_ptr<UIView>& view1, NSLayoutAttribute attr1,
                                       NSLayoutRelation relation, const std::shared_ptr<UIView>& view2,
                                       NSLayoutAttribute attr2, double multiplier, double constant)
    : m_firstItem(view1)
    , m_secondItem(view2)
    , m_firstAttribute(attr1)
    , m_secondAttribute(attr2)
    , m_relation(relation)
    , m_multiplier(multiplier)
    , m_constant(constant) {}

NSLayoutConstraintPtr
NSLayoutConstraint::constraintWithItem(const std::shared_ptr<UIView>& view1, NSLayoutAttribute attr1,
                                       NSLayoutRelation relation, const std::shared_ptr<UIView>& view2,
                                       NSLayoutAttribute attr2, double multiplier, double constant) {
    return std::make_shared<NSLayoutConstraint>(view1, attr1, relation, view2, attr2, multiplier, constant);
}

NSLayoutConstraintPtr NSLayoutConstraint::constraintWithItem(const std::shared_ptr<UIView>& view1,
                                                             NSLayoutAttribute attr1,
                                                             NSLayoutRelation relation,
                                                             const std::shared_ptr<UILayoutSupport>& guide,
                                                             NSLayoutAttribute attr2, double multiplier,
                                                             double constant) {
    auto constraint =
        std::make_shared<NSLayoutConstraint>(view1, attr1, relation, nullptr, attr2, multiplier, constant);
    constraint->m_secondGuide = guide;
    return constraint;
}

void NSLayoutConstraint::activateConstraints(const std::vector<NSLayoutConstraintPtr>& constraints) {
    for (auto& constraint : constraints)
        if (constraint)
            constraint->setActive(true);
}

void NSLayoutConstraint::deactivateConstraints(const std::vector<NSLayoutConstraintPtr>& constraints) {
    for (auto& constraint : constraints)
        if (constraint)
            constraint->setActive(false);
}

void NSLayoutConstraint::setConstant(double constant) {
    if (constant == m_constant)
        return;
    m_constant = constant;
    changed();
}

void NSLayoutConstraint::setPriority(UILayoutPriority priority) {
    if (priority == m_priority)
        return;
    m_priority = priority;
    changed();
}

bool NSLayoutConstraint::isActive() const {
    return installedView() != nullptr;
}

void NSLayoutConstraint::setActive(bool active) {
    if (active == isActive())
        return;
    if (!active) {
        installedView()->removeConstraint(std::static_pointer_cast<NSLayoutConstraint>(shared_from_this()));
        return;
    }
    auto second = secondItem();
    auto guide = secondLayoutGuide();
    if (guide)
        second = guide->owningView();
    // A guide whose controller has no view yet measures nothing that could be related.
    auto container = guide && !second ? nullptr : nearestCommonAncestor(firstItem(), second);
    if (!container)
        throw Exception("NSGenericException", "Unable to activate constraint with items that have no common "
                                              "ancestor: " +
                                                  description());
    container->addConstraint(std::static_pointer_cast<NSLayoutConstraint>(shared_from_this()));
}

void NSLayoutConstraint::changed() {
    if (auto view = installedView())
        view->setNeedsLayout();
}

bool NSLayoutConstraint::respondsTo(std::string_view selector) const {
    return selector == "setActive:" || selector == "isActive" || selector == "setIdentifier:" ||
           selector == "identifier" || selector == "activateConstraints:" ||
           selector == "deactivateConstraints:" || Object::respondsTo(selector);
}

std::string NSLayoutConstraint::description() const {
    static const char* const relations[] = {"<=", "==", ">="};
    return fmt::format("<NSLayoutConstraint {} {}.{} {} {}.{} x {} + {} @{}>", m_identifier.value_or(""),
                       fmt::ptr(firstItem().get()), static_cast<int>(m_firstAttribute),
                       relations[std::clamp<int64_t>(m_relation, -1, 1) + 1], fmt::ptr(secondItem().get()),
                       static_cast<int>(m_secondAttribute), m_multiplier, m_constant, m_priority);
}

} // namespace platform
