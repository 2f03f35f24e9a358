#pragma once
// NSLayoutConstraint: [firstItem.firstAttribute relation secondItem.secondAttribute × multiplier + constant]
// at a priority. A constraint is installed on a view (the nearest common ancestor of its items when made
// active); the layout pass of that view's window solves every installed constraint into the frames of the
// views that do not translate their autoresizing masks (UIView+Constraints.cpp). Items are held weakly:
// the view tree owns the constraints, not the other way round. Changing the constant, priority or
// activity marks the layout as needing a pass. The second item may instead be a controller's layout guide,
// which stands for the strip of the controller's view it measures (the top guide from the view's top down,
// the bottom guide from the view's bottom up) at the guide's length as measured on each layout pass.
// Main thread only.

#include "platform/foundation/Object.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class UIView;
class UILayoutSupport;
class NSLayoutConstraint;
using NSLayoutConstraintPtr = std::shared_ptr<NSLayoutConstraint>;

// The platform's numbering.
enum NSLayoutAttribute : int64_t {
    NSLayoutAttributeNotAnAttribute = 0,
    NSLayoutAttributeLeft = 1,
    NSLayoutAttributeRight = 2,
    NSLayoutAttributeTop = 3,
    NSLayoutAttributeBottom = 4,
    NSLayoutAttributeLeading = 5,
    NSLayoutAttributeTrailing = 6,
    NSLayoutAttributeWidth = 7,
    NSLayoutAttributeHeight = 8,
    NSLayoutAttributeCenterX = 9,
    NSLayoutAttributeCenterY = 10,
    NSLayoutAttributeLastBaseline = 11,
    NSLayoutAttributeBaseline = 11,
    NSLayoutAttributeFirstBaseline = 12,
    NSLayoutAttributeLeftMargin = 13,
    NSLayoutAttributeRightMargin = 14,
    NSLayoutAttributeTopMargin = 15,
    NSLayoutAttributeBottomMargin = 16,
    NSLayoutAttributeLeadingMargin = 17,
    NSLayoutAttributeTrailingMargin = 18,
    NSLayoutAttributeCenterXWithinMargins = 19,
    NSLayoutAttributeCenterYWithinMargins = 20,
};

enum NSLayoutRelation : int64_t {
    NSLayoutRelationLessThanOrEqual = -1,
    NSLayoutRelationEqual = 0,
    NSLayoutRelationGreaterThanOrEqual = 1,
};

enum UILayoutConstraintAxis : int64_t {
    UILayoutConstraintAxisHorizontal = 0,
    UILayoutConstraintAxisVertical = 1,
};

using UILayoutPriority = float;
inline constexpr UILayoutPriority UILayoutPriorityRequired = 1000;
inline constexpr UILayoutPriority UILayoutPriorityDefaultHigh = 750;
inline constexpr UILayoutPriority UILayoutPriorityDefaultLow = 250;
inline constexpr UILayoutPriority UILayoutPriorityFittingSizeLevel = 50;

class NSLayoutConstraint : public Object {
public:
    // constraintWithItem:attribute:relatedBy:toItem:attribute:multiplier:constant:
    static NSLayoutConstraintPtr constraintWithItem(const std::shared_ptr<UIView>& view1,
                                                    NSLayoutAttribute attr1, NSLayoutRelation relation,
                                                    const std::shared_ptr<UIView>& view2,
                                                    NSLayoutAttribute attr2, double multiplier,
                                                    double constant);
    static NSLayoutConstraintPtr constraintWithItem(const std::shared_ptr<UIView>& view1,
                                                    NSLayoutAttribute attr1, NSLayoutRelation relation,
                                                    const std::shared_ptr<UILayoutSupport>& guide,
                                                    NSLayoutAttribute attr2, double multiplier,
                                                    double constant);
    // No second item (a constant size).
    static NSLayoutConstraintPtr constraintWithItem(const std::shared_ptr<UIView>& view1,
                                                    NSLayoutAttribute attr1, NSLayoutRelation relation,
                                                    std::nullptr_t, NSLayoutAttribute attr2,
                                                    double multiplier, double constant) {
        return constraintWithItem(view1, attr1, relation, std::shared_ptr<UIView>(), attr2, multiplier,
                                  constant);
    }
    static void activateConstraints(const std::vector<NSLayoutConstraintPtr>& constraints);
    static void deactivateConstraints(const std::vector<NSLayoutConstraintPtr>& constraints);

    std::shared_ptr<UIView> firstItem() const { return m_firstItem.lock(); }
    NSLayoutAttribute firstAttribute() const { return m_firstAttribute; }
    NSLayoutRelation relation() const { return m_relation; }
    std::shared_ptr<UIView> secondItem() const { return m_secondItem.lock(); }
    // The layout guide standing as the second item (secondItem is then null).
    std::shared_ptr<UILayoutSupport> secondLayoutGuide() const { return m_secondGuide.lock(); }
    NSLayoutAttribute secondAttribute() const { return m_secondAttribute; }
    double multiplier() const { return m_multiplier; }

    double constant() const { return m_constant; }
    void setConstant(double constant);
    UILayoutPriority priority() const { return m_priority; }
    void setPriority(UILayoutPriority priority);
    const std::optional<std::string>& identifier() const { return m_identifier; }
    void setIdentifier(std::optional<std::string> identifier) { m_identifier = std::move(identifier); }

    // Activating installs the constraint on the nearest common ancestor of its items (the first item alone
    // when there is no second); deactivating removes it from the view that holds it.
    bool isActive() const;
    void setActive(bool active);
    // The view the constraint is installed on, or null.
    std::shared_ptr<UIView> installedView() const { return m_installedView.lock(); }

    bool respondsTo(std::string_view selector) const override;
    std::string description() const override;

    NSLayoutConstraint(const std::shared_ptr<UIView>& view1, NSLayoutAttribute attr1,
                       NSLayoutRelation relation, const std::shared_ptr<UIView>& view2,
                       NSLayoutAttribute attr2, double multiplier, double constant);

private:
    friend class UIView;
    void changed();

    std::weak_ptr<UIView> m_firstItem;
    std::weak_ptr<UIView> m_secondItem;
    std::weak_ptr<UILayoutSupport> m_secondGuide;
    std::weak_ptr<UIView> m_installedView;
    NSLayoutAttribute m_firstAttribute{NSLayoutAttributeNotAnAttribute};
    NSLayoutAttribute m_secondAttribute{NSLayoutAttributeNotAnAttribute};
    NSLayoutRelation m_relation{NSLayoutRelationEqual};
    double m_multiplier{1};
    double m_constant{0};
    UILayoutPriority m_priority{UILayoutPriorityRequired};
    std::optional<std::string> m_identifier;
};

} // namespace platform
