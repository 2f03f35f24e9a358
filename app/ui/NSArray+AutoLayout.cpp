#include "app/ui/NSArray+AutoLayout.h"
#include "platform/ui/UIApplication.h"

#include <algorithm>
#include <cmath>

using namespace platform;

namespace {

// Where a distribution along an axis starts, ends, what it sizes and what it positions by.
struct Distribution {
    LayoutAttribute firstEdge;
    LayoutAttribute lastEdge;
    LayoutAttribute dimension;
    LayoutAttribute position;
};

std::optional<Distribution> distributionAlong(int64_t axis) {
    switch (axis) {
    case AxisVertical:
        return Distribution{EdgeTop, EdgeBottom, DimensionHeight, AxisHorizontal};
    case AxisHorizontal:
    case AxisBaseline:
    case AxisFirstBaseline:
        return Distribution{EdgeLeading, EdgeTrailing, DimensionWidth, AxisVertical};
    default:
        return std::nullopt;
    }
}

void append(NSLayoutConstraintArray& array, NSLayoutConstraintPtr constraint) {
    if (constraint)
        array.push_back(std::move(constraint));
}

template <typename Link> NSLayoutConstraintArray chain(const ObjectArray& array, Link link) {
    NSLayoutConstraintArray result;
    UIViewPtr previous;
    for (auto& view : layout_copyViewsOnly(array)) {
        if (previous)
            append(result, link(view, previous));
        previous = view;
    }
    return result;
}

// Where view i of n sits: its centre at multiplier x the reference's centre + constant.
std::pair<double, double> fixedSizePlacement(size_t i, size_t n, double size, bool insetSpacing) {
    double multiplier = 1;
    double constant = 0;
    if (insetSpacing) {
        multiplier = double(2 * i + 2) / double(n + 1);
        constant = (multiplier - 1) * size / 2;
    } else if (n > 1) {
        multiplier = double(2 * i) / double(n - 1);
        constant = (1 - multiplier) * size / 2;
    }
    // A single view without inset spacing has no steps to divide; it is centred (multiplier 1, constant 0).
    // A zero multiplier on a position is refused by the platform, so the first view gets the smallest one.
    if (std::fabs(multiplier) < 0.00001)
        multiplier = 0.00001;
    return {multiplier, constant};
}

} // namespace

ObjectArray::ObjectArray(const ValueArray& values) {
    for (auto& value : values)
        if (auto object = value.object())
            m_objects.push_back(std::move(object));
}

void autoInstallConstraints(const ObjectArray& array) {
    auto constraints = array.membersOfClass<NSLayoutConstraint>();
    for (auto& constraint : constraints)
        layout_applyGlobalStateToConstraint(constraint);
    if (layout_preventAutomaticConstraintInstallation()) {
        auto* collection = layout_currentArrayOfCreatedConstraints();
        collection->insert(collection->end(), constraints.begin(), constraints.end());
        return;
    }
    NSLayoutConstraint::activateConstraints(constraints);
}

void autoRemoveConstraints(const ObjectArray& array) {
    NSLayoutConstraint::deactivateConstraints(array.membersOfClass<NSLayoutConstraint>());
}

const ObjectArray& autoIdentifyConstraints(const ObjectArray& array,
                                           const std::optional<std::string>& identifier) {
    for (auto& constraint : array.membersOfClass<NSLayoutConstraint>())
        autoIdentify(constraint, identifier);
    return array;
}

NSLayoutConstraintArray autoAlignViewsToEdge(const ObjectArray& views, int64_t edge) {
    return chain(views,
                 [edge](auto& view, auto& previous) { return autoPinEdge(view, edge, edge, previous); });
}

NSLayoutConstraintArray autoAlignViewsToAxis(const ObjectArray& views, int64_t axis) {
    return chain(views, [axis](auto& view, auto& previous) { return autoAlignAxis(view, axis, previous); });
}

NSLayoutConstraintArray autoMatchViewsDimension(const ObjectArray& views, int64_t dimension) {
    return chain(views, [dimension](auto& view, auto& previous) {
        return autoMatchDimension(view, dimension, dimension, previous);
    });
}

NSLayoutConstraintArray autoSetViewsDimension(const ObjectArray& views, int64_t dimension, double size) {
    NSLayoutConstraintArray result;
    for (auto& view : layout_copyViewsOnly(views))
        append(result, autoSetDimension(view, dimension, size));
    return result;
}

NSLayoutConstraintArray autoSetViewsDimensionsToSize(const ObjectArray& views, CGSize size) {
    auto result = autoSetViewsDimension(views, DimensionWidth, size.width);
    auto heights = autoSetViewsDimension(views, DimensionHeight, size.height);
    result.insert(result.end(), heights.begin(), heights.end());
    return result;
}

std::optional<NSLayoutConstraintArray>
autoDistributeViewsAlongAxisWithFixedSpacing(const ObjectArray& array, int64_t axis, int64_t alignment,
                                             double spacing, bool insetSpacing, bool matchedSizes) {
    auto along = distributionAlong(axis);
    if (!along)
        return std::nullopt;
    double inset = insetSpacing ? spacing : 0;
    NSLayoutConstraintArray result;
    UIViewPtr previous;
    for (auto& view : layout_copyViewsOnly(array)) {
        if (!previous) {
            append(result, autoPinEdgeToSuperviewEdge(view, along->firstEdge, inset));
        } else {
            append(result, autoPinEdge(view, along->firstEdge, along->lastEdge, previous, spacing));
            if (matchedSizes)
                append(result, autoMatchDimension(view, along->dimension, along->dimension, previous));
            append(result, layout_alignAttribute(view, alignment, previous, axis));
        }
        previous = view;
    }
    if (previous)
        append(result, autoPinEdgeToSuperviewEdge(previous, along->lastEdge, inset));
    return result;
}

std::optional<NSLayoutConstraintArray>
autoDistributeViewsAlongAxisWithFixedSize(const ObjectArray& array, int64_t axis, int64_t alignment,
                                          double size, bool insetSpacing) {
    auto along = distributionAlong(axis);
    if (!along)
        return std::nullopt;
    auto views = layout_copyViewsOnly(array);
    auto reference = layout_commonSuperviewOfViews(array);
    if (axis != AxisVertical && UIApplication::sharedApplication()->userInterfaceLayoutDirection() ==
                                    UIUserInterfaceLayoutDirectionRightToLeft)
        std::reverse(views.begin(), views.end());
    NSLayoutConstraintArray result;
    auto position = layout_layoutAttributeForAttribute(along->position);
    for (size_t i = 0; i < views.size(); ++i) {
        auto& view = views[i];
        append(result, autoSetDimension(view, along->dimension, size));
        if (reference) {
            auto [multiplier, constant] = fixedSizePlacement(i, views.size(), size, insetSpacing);
            auto placed = NSLayoutConstraint::constraintWithItem(view, position, NSLayoutRelationEqual,
                                                                 reference, position, multiplier, constant);
            autoInstall(placed);
            result.push_back(placed);
        }
        if (i > 0)
            append(result, layout_alignAttribute(view, alignment, views[i - 1], axis));
    }
    return result;
}

std::vector<UIViewPtr> layout_copyViewsOnly(const ObjectArray& array) {
    return array.membersOfClass<UIView>();
}

UIViewPtr layout_commonSuperviewOfViews(const ObjectArray& array) {
    auto views = layout_copyViewsOnly(array);
    if (views.empty())
        return nullptr;
    UIViewPtr common = views.front()->superview();
    for (size_t i = 1; i < views.size(); ++i)
        common = layout_commonSuperviewWithView(views[i], common);
    return common;
}

bool layout_containsMinimumNumberOfViews(const ObjectArray& array, uint64_t count) {
    uint64_t found = 0;
    for (auto& object : array.objects()) {
        if (found >= count)
            return true;
        if (std::dynamic_pointer_cast<UIView>(object))
            ++found;
    }
    return found >= count;
}
