#pragma once
// Storage for process-wide singletons whose destructor must never run: detached threads (workers,
// the source manager, the network thread) may still touch them while static destructors run at exit.

#include <new>
#include <utility>

namespace platform::detail {

template <class T> class Immortal {
public:
    template <class... Args> explicit Immortal(Args&&... args) {
        ::new (static_cast<void*>(m_storage)) T(std::forward<Args>(args)...);
    }
    Immortal(const Immortal&) = delete;
    Immortal& operator=(const Immortal&) = delete;

    T& get() { return *std::launder(reinterpret_cast<T*>(m_storage)); }

private:
    alignas(T) unsigned char m_storage[sizeof(T)];
};

} // namespace platform::detail
