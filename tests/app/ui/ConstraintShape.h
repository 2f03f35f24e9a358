#pragma once
// What a layout test checks of a constraint: its items, attributes by the platform's numbers, relation,
// multiplier and constant, comparable and printable in one assertion.

#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIView.h"

#include <ostream>

namespace liveapp::test {

struct ConstraintShape {
    const platform::UIView* first{nullptr};
    int64_t firstAttribute{0};
    int64_t relation{0};
    const platform::UIView* second{nullptr};
    int64_t secondAttribute{0};
    double multiplier{1};
    double constant{0};

    friend bool operator==(const ConstraintShape&, const ConstraintShape&) = default;
    friend std::ostream& operator<<(std::ostream& out, const ConstraintShape& s) {
        return out << "[" << s.first << "." << s.firstAttribute << " " << s.relation << " " << s.second << "."
                   << s.secondAttribute << " x " << s.multiplier << " + " << s.constant << "]";
    }
};

inline ConstraintShape shapeOf(const platform::NSLayoutConstraintPtr& c) {
    if (!c)
        return {};
    return {c->firstItem().get(), c->firstAttribute(), c->relation(), c->secondItem().get(),
            c->secondAttribute(), c->multiplier(),     c->constant()};
}

} // namespace liveapp::test
