#include "app/ui/NSArray+AutoLayout.h"
#include "app/ui/NSLayoutConstraint+AutoLayout.h"
#include "app/ui/UIView+AutoLayout.h"
#include "platform/ui/UIView.h"

using namespace platform;

namespace {

bool g_installingCreatedConstraints = false;

// Pops what a block pushed when the block ends, however it ends.
template <typename Stack> class ScopedPush {
public:
    ScopedPush(Stack& stack, typename Stack::value_type value)
        : m_stack(stack) {
        m_stack.push_back(std::move(value));
    }
    ~ScopedPush() { m_stack.pop_back(); }
    ScopedPush(const ScopedPush&) = delete;
    ScopedPush& operator=(const ScopedPush&) = delete;

private:
    Stack& m_stack;
};

bool isEdge(int64_t value) {
    return value >= EdgeLeft && value <= EdgeTrailing;
}

} // namespace

NSLayoutAttribute layout_layoutAttributeForAttribute(int64_t attribute) {
    return attribute >= EdgeLeft && attribute <= MarginAxisHorizontal
               ? static_cast<NSLayoutAttribute>(attribute)
               : NSLayoutAttributeNotAnAttribute;
}

UILayoutConstraintAxis layout_constraintAxisForAxis(int64_t axis) {
    return axis == AxisVertical ? UILayoutConstraintAxisVertical : UILayoutConstraintAxisHorizontal;
}

LayoutAttribute layout_marginForEdge(int64_t edge) {
    return isEdge(edge) ? static_cast<LayoutAttribute>(edge + 12) : MarginLeft;
}

LayoutAttribute layout_marginAxisForAxis(int64_t axis) {
    return axis == AxisHorizontal ? MarginAxisHorizontal : MarginAxisVertical;
}

std::optional<NSLayoutConstraintArray>
autoCreateConstraintsWithoutInstalling(const LayoutConstraintsBlock& block) {
    if (!block)
        return std::nullopt;
    auto& stack = layout_arraysOfCreatedConstraints();
    ScopedPush push(stack, {});
    block();
    return std::move(stack.back());
}

std::optional<NSLayoutConstraintArray> autoCreateAndInstallConstraints(const LayoutConstraintsBlock& block) {
    auto created = autoCreateConstraintsWithoutInstalling(block);
    if (!created)
        return created;
    struct Installing {
        Installing() { g_installingCreatedConstraints = true; }
        ~Installing() { g_installingCreatedConstraints = false; }
    } installing;
    autoInstallConstraints(*created);
    return created;
}

void autoSetPriority(UILayoutPriority priority, const LayoutConstraintsBlock& block) {
    if (!block)
        return;
    ScopedPush push(layout_globalConstraintPriorities(), priority);
    block();
}

void autoSetIdentifier(const std::optional<std::string>& identifier, const LayoutConstraintsBlock& block) {
    if (!block)
        return;
    if (!identifier) {
        block();
        return;
    }
    ScopedPush push(layout_globalConstraintIdentifiers(), *identifier);
    block();
}

std::vector<NSLayoutConstraintArray>& layout_arraysOfCreatedConstraints() {
    static std::vector<NSLayoutConstraintArray> stack;
    return stack;
}

std::vector<UILayoutPriority>& layout_globalConstraintPriorities() {
    static std::vector<UILayoutPriority> stack;
    return stack;
}

std::vector<std::string>& layout_globalConstraintIdentifiers() {
    static std::vector<std::string> stack;
    return stack;
}

NSLayoutConstraintArray* layout_currentArrayOfCreatedConstraints() {
    auto& stack = layout_arraysOfCreatedConstraints();
    return stack.empty() ? nullptr : &stack.back();
}

bool layout_isInstallingCreatedConstraints() {
    return g_installingCreatedConstraints;
}

bool layout_preventAutomaticConstraintInstallation() {
    return !g_installingCreatedConstraints && !layout_arraysOfCreatedConstraints().empty();
}

UILayoutPriority layout_currentGlobalConstraintPriority() {
    auto& stack = layout_globalConstraintPriorities();
    return stack.empty() ? UILayoutPriorityRequired : stack.back();
}

bool layout_isExecutingPriorityConstraintsBlock() {
    return !layout_globalConstraintPriorities().empty();
}

std::optional<std::string> layout_currentGlobalConstraintIdentifier() {
    auto& stack = layout_globalConstraintIdentifiers();
    return stack.empty() ? std::nullopt : std::optional<std::string>(stack.back());
}

void layout_applyGlobalStateToConstraint(const NSLayoutConstraintPtr& constraint) {
    if (!constraint)
        return;
    if (layout_isExecutingPriorityConstraintsBlock())
        constraint->setPriority(layout_currentGlobalConstraintPriority());
    if (auto identifier = layout_currentGlobalConstraintIdentifier())
        autoIdentify(constraint, identifier);
}

const NSLayoutConstraintPtr& autoIdentify(const NSLayoutConstraintPtr& constraint,
                                          const std::optional<std::string>& identifier) {
    if (constraint && constraint->respondsTo("setIdentifier:"))
        constraint->setIdentifier(identifier);
    return constraint;
}

void autoInstall(const NSLayoutConstraintPtr& constraint) {
    if (!constraint)
        return;
    if (constraint->respondsTo("setActive:")) {
        layout_applyGlobalStateToConstraint(constraint);
        if (layout_preventAutomaticConstraintInstallation())
            layout_currentArrayOfCreatedConstraints()->push_back(constraint);
        else
            constraint->setActive(true);
        return;
    }
    auto first = constraint->firstItem();
    auto second = constraint->secondItem();
    UIViewPtr holder = first && second ? layout_commonSuperviewWithView(first, second)
                       : first         ? first
                                       : second;
    if (holder)
        layout_addConstraint(holder, constraint);
}

void autoRemove(const NSLayoutConstraintPtr& constraint) {
    if (!constraint)
        return;
    if (constraint->respondsTo("setActive:")) {
        constraint->setActive(false);
        return;
    }
    auto first = constraint->firstItem();
    auto second = constraint->secondItem();
    if (!second) {
        if (first)
            first->removeConstraint(constraint);
        return;
    }
    for (auto view = first ? layout_commonSuperviewWithView(first, second) : nullptr; view;
         view = view->superview()) {
        auto& held = view->constraints();
        if (std::find(held.begin(), held.end(), constraint) != held.end()) {
            view->removeConstraint(constraint);
            return;
        }
    }
}
