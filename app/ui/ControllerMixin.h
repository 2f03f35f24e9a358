#pragma once
// What the screen-extension mixins (Subclass_Rewrite, NetworkStatus) share: the controller they are part
// of, or, for a controller that does not inherit the mixin, the controller a stand-in answers for, so the
// extension's defaults are written once and serve every controller.

#include "platform/ui/UIViewController.h"

namespace detail {

class ControllerMixin {
public:
    ControllerMixin(const ControllerMixin&) = delete;
    ControllerMixin& operator=(const ControllerMixin&) = delete;

protected:
    ControllerMixin() = default;
    // A stand-in's: the controller it answers for.
    explicit ControllerMixin(platform::UIViewController& controller)
        : m_controller(&controller) {}
    virtual ~ControllerMixin() = default;

    platform::UIViewController& controller() {
        return m_controller ? *m_controller : dynamic_cast<platform::UIViewController&>(*this);
    }

private:
    platform::UIViewController* m_controller{nullptr};
};

// Calls the hook on the controller's own mixin when it has one, else on a stand-in of the defaults.
template <typename Mixin, typename Defaults, typename R, typename... Args, typename... Given>
R callHook(platform::UIViewController& controller, R (Mixin::*hook)(Args...), Given&&... args) {
    if (auto* mixin = dynamic_cast<Mixin*>(&controller))
        return (mixin->*hook)(std::forward<Given>(args)...);
    Defaults defaults(controller);
    return (defaults.*hook)(std::forward<Given>(args)...);
}

} // namespace detail
