#pragma once
// The action half of the platform's target-action pairs (controls, gesture recognizers, bar-button items):
// a name, which identifies the action for removal and for lookups as a selector's text does, and the
// function that performs it on a target. Targets are held weakly by whoever keeps the pair; a target that
// is gone is skipped, never called. A pair without a target calls the function with a null target, which
// suits actions written as closures.
//
//     button->addTarget(self, selector("backButtonPressed", &LiveViewController::backButtonPressed),
//                       UIControlEventTouchUpInside);
//     recognizer->addTarget(self, selector("pinchAction:", &ZoomTouchesView::pinchAction));
//
// Main thread only, like the rest of the kit.

#include "platform/foundation/Object.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class UIEvent;

struct Selector {
    using Function = std::function<void(Object* target, Object* sender, UIEvent* event)>;

    std::string name;
    Function perform;

    bool operator==(const Selector& other) const { return name == other.name; }
};

// Member-function actions, in the three shapes the platform accepts: no argument, the sender, or the
// sender and the event. The sender is cast to the method's parameter type (null when it is not one).
template <typename T> Selector selector(std::string name, void (T::*method)()) {
    return {std::move(name), [method](Object* target, Object*, UIEvent*) {
                if (auto* self = dynamic_cast<T*>(target))
                    (self->*method)();
            }};
}

template <typename T, typename Sender> Selector selector(std::string name, void (T::*method)(Sender*)) {
    return {std::move(name), [method](Object* target, Object* sender, UIEvent*) {
                if (auto* self = dynamic_cast<T*>(target))
                    (self->*method)(dynamic_cast<Sender*>(sender));
            }};
}

template <typename T, typename Sender>
Selector selector(std::string name, void (T::*method)(Sender*, UIEvent*)) {
    return {std::move(name), [method](Object* target, Object* sender, UIEvent* event) {
                if (auto* self = dynamic_cast<T*>(target))
                    (self->*method)(dynamic_cast<Sender*>(sender), event);
            }};
}

// A closure action; `target` is the pair's target (null when none was given).
inline Selector selector(std::string name, Selector::Function function) {
    return {std::move(name), std::move(function)};
}

// One registered pair. `hasTarget` tells a pair made without a target from one whose target has gone.
struct TargetAction {
    std::weak_ptr<Object> target;
    bool hasTarget{false};
    Selector action;

    TargetAction(const ObjectPtr& target, Selector action)
        : target(target)
        , hasTarget(target != nullptr)
        , action(std::move(action)) {}

    // Performs the action unless its target has gone. Returns whether it ran.
    bool send(Object* sender, UIEvent* event) const {
        ObjectPtr strong = target.lock();
        if (hasTarget && !strong)
            return false;
        if (action.perform)
            action.perform(strong.get(), sender, event);
        return true;
    }

    bool matches(const Object* otherTarget, const std::string* actionName) const {
        if (otherTarget && target.lock().get() != otherTarget)
            return false;
        return !actionName || action.name == *actionName;
    }
};

} // namespace platform
