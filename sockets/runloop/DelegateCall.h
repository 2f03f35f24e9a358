#pragma once
// Calling a delegate's optional method: only when a delegate is set and respondsTo(selector) says it
// has the method; otherwise the fallback answers. The delegate is held for the call, because it may
// replace itself (or let its socket go) from inside.

#include <memory>

namespace sockets {

template <typename Delegate, typename Result, typename Call>
Result askDelegate(const std::shared_ptr<Delegate>& delegate, const char* selector, Result fallback,
                   Call call) {
    auto held = delegate;
    if (!held || !held->respondsTo(selector))
        return fallback;
    return call(*held);
}

} // namespace sockets
