#pragma once
// NSLayoutConstraint(AutoLayout): installing and removing single constraints, and the process-wide state
// that shapes every constraint the layout helpers build. Three stacks: creation-only collections (while one
// is open, installing a constraint collects it there instead), priorities and identifiers (the innermost
// applies to each constraint installed). Each block operation pushes, runs its block and pops, and pops
// also when the block throws, so the outer value is current again afterwards.
// Main thread only: the stacks are process-wide and unguarded.

#include "platform/ui/NSLayoutConstraint.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The attributes the layout helpers take; each equals the platform attribute of the same number.
enum LayoutAttribute : int64_t {
    EdgeLeft = 1,
    EdgeRight = 2,
    EdgeTop = 3,
    EdgeBottom = 4,
    EdgeLeading = 5,
    EdgeTrailing = 6,
    DimensionWidth = 7,
    DimensionHeight = 8,
    AxisVertical = 9,
    AxisHorizontal = 10,
    AxisBaseline = 11,
    AxisFirstBaseline = 12,
    MarginLeft = 13,
    MarginRight = 14,
    MarginTop = 15,
    MarginBottom = 16,
    MarginLeading = 17,
    MarginTrailing = 18,
    MarginAxisVertical = 19,
    MarginAxisHorizontal = 20,
};

using NSLayoutConstraintArray = std::vector<platform::NSLayoutConstraintPtr>;
using LayoutConstraintsBlock = std::function<void()>;

// Conversions: 1 to 20 stay, anything else is no attribute (0); axis 9 is the vertical constraint axis and
// every other value the horizontal one; an edge's margin (left margin for anything but an edge); an axis's
// margin axis (vertical within margins for anything but the horizontal axis).
platform::NSLayoutAttribute layout_layoutAttributeForAttribute(int64_t attribute);
platform::UILayoutConstraintAxis layout_constraintAxisForAxis(int64_t axis);
LayoutAttribute layout_marginForEdge(int64_t edge);
LayoutAttribute layout_marginAxisForAxis(int64_t axis);

// The constraints installed inside the block, none of them active; nil for a nil block (nothing pushed).
std::optional<NSLayoutConstraintArray>
autoCreateConstraintsWithoutInstalling(const LayoutConstraintsBlock& block);
// The same collection, then installed in one batch, even inside an open creation-only block.
std::optional<NSLayoutConstraintArray> autoCreateAndInstallConstraints(const LayoutConstraintsBlock& block);
// autoSetPriority:forConstraints: and autoSetIdentifier:forConstraints:. A nil block does nothing; a nil
// identifier runs the block without pushing.
void autoSetPriority(platform::UILayoutPriority priority, const LayoutConstraintsBlock& block);
void autoSetIdentifier(const std::optional<std::string>& identifier, const LayoutConstraintsBlock& block);

std::vector<NSLayoutConstraintArray>& layout_arraysOfCreatedConstraints();
std::vector<platform::UILayoutPriority>& layout_globalConstraintPriorities();
std::vector<std::string>& layout_globalConstraintIdentifiers();
// The open collection, or null.
NSLayoutConstraintArray* layout_currentArrayOfCreatedConstraints();
bool layout_preventAutomaticConstraintInstallation();
// 1000 (required) outside a priority block.
platform::UILayoutPriority layout_currentGlobalConstraintPriority();
bool layout_isExecutingPriorityConstraintsBlock();
std::optional<std::string> layout_currentGlobalConstraintIdentifier();
// The current priority (inside a priority block only) and identifier (when there is one).
void layout_applyGlobalStateToConstraint(const platform::NSLayoutConstraintPtr& constraint);

// Instance operations; each does nothing for a null constraint.
const platform::NSLayoutConstraintPtr& autoIdentify(const platform::NSLayoutConstraintPtr& constraint,
                                                    const std::optional<std::string>& identifier);
// Activates (or collects) a constraint that responds to setActive:; one that does not is added to the
// nearest common superview of its items.
void autoInstall(const platform::NSLayoutConstraintPtr& constraint);
// Deactivates, or removes the constraint from the view that holds it (nothing when none does).
void autoRemove(const platform::NSLayoutConstraintPtr& constraint);

// For the array helpers: whether installing now collects instead (a create-and-install batch suspends it).
bool layout_isInstallingCreatedConstraints();
