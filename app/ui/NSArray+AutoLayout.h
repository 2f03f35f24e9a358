#pragma once
// NSArray(AutoLayout): the layout helpers over a whole array. Constraint operations act on the constraint
// members and view operations on the view members, in array order; members of any other class are skipped.
// View operations switch each view they use to constraint-based layout and return the constraints they
// made, in the order made, each installed through autoInstall (an open block applies to them).
// Distributions take an axis (9 vertical, 10 horizontal; the baselines count as horizontal) and answer nil
// for any other, making nothing. Main thread only.

#include "app/ui/UIView+AutoLayout.h"
#include "platform/foundation/Value.h"

#include <concepts>
#include <initializer_list>
#include <optional>
#include <vector>

// The array the helpers take: the platform objects of any array, in order. A value that is no object (a
// text or a number of a platform value array) is of another class, so it is skipped like any other.
class ObjectArray {
public:
    ObjectArray() = default;
    template <typename T>
    requires std::derived_from<T, platform::Object> ObjectArray(const std::vector<std::shared_ptr<T>>& items)
        : m_objects(items.begin(), items.end()) {}
    ObjectArray(const platform::ValueArray& values);
    ObjectArray(std::initializer_list<platform::Value> values)
        : ObjectArray(platform::ValueArray(values)) {}

    const std::vector<platform::ObjectPtr>& objects() const { return m_objects; }
    // The members of class T, in order.
    template <typename T> std::vector<std::shared_ptr<T>> membersOfClass() const {
        std::vector<std::shared_ptr<T>> members;
        for (auto& object : m_objects)
            if (auto member = std::dynamic_pointer_cast<T>(object))
                members.push_back(std::move(member));
        return members;
    }

private:
    std::vector<platform::ObjectPtr> m_objects;
};

// Constraint arrays: installed as one batch (collected instead while installation is prevented), removed as
// one batch, identified one by one (the receiver is returned).
void autoInstallConstraints(const ObjectArray& constraints);
void autoRemoveConstraints(const ObjectArray& constraints);
const ObjectArray& autoIdentifyConstraints(const ObjectArray& constraints,
                                           const std::optional<std::string>& identifier);

// Each view after the first to the one before it: n views give n - 1 constraints.
NSLayoutConstraintArray autoAlignViewsToEdge(const ObjectArray& views, int64_t edge);
NSLayoutConstraintArray autoAlignViewsToAxis(const ObjectArray& views, int64_t axis);
NSLayoutConstraintArray autoMatchViewsDimension(const ObjectArray& views, int64_t dimension);

NSLayoutConstraintArray autoSetViewsDimension(const ObjectArray& views, int64_t dimension, double size);
// Every width, then every height.
NSLayoutConstraintArray autoSetViewsDimensionsToSize(const ObjectArray& views, platform::CGSize size);

// Fixed spacing between neighbours (and at both ends with inset spacing), each view aligned to the one
// before it by the alignment attribute (an edge or an axis; other values align nothing), with matched
// sizes by default. Inset spacing and matched sizes default to YES.
std::optional<NSLayoutConstraintArray>
autoDistributeViewsAlongAxisWithFixedSpacing(const ObjectArray& views, int64_t axis, int64_t alignment,
                                             double spacing, bool insetSpacing = true,
                                             bool matchedSizes = true);
// Each view `size` long, centred at even steps across the views' common superview (as many gaps as views
// plus one with inset spacing, else the first and last flush); a right-to-left interface takes horizontal
// rows from the last view. Per view: the size, the position, then the alignment to the view placed before.
std::optional<NSLayoutConstraintArray>
autoDistributeViewsAlongAxisWithFixedSize(const ObjectArray& views, int64_t axis, int64_t alignment,
                                          double size, bool insetSpacing = true);

std::vector<platform::UIViewPtr> layout_copyViewsOnly(const ObjectArray& array);
// Null for an array without views.
platform::UIViewPtr layout_commonSuperviewOfViews(const ObjectArray& array);
bool layout_containsMinimumNumberOfViews(const ObjectArray& array, uint64_t count);
