#pragma once
// Guarded<T>: a value behind a mutex of its own, for settings any thread may read and change. get()
// returns a copy; set() replaces the value and lets go of the old one after the lock; with() runs a
// function on the value under the lock (it must not call back into the same Guarded).

#include <mutex>
#include <utility>

namespace platform {

template <typename T> class Guarded {
public:
    Guarded() = default;
    explicit Guarded(T value)
        : m_value(std::move(value)) {}

    T get() const {
        std::lock_guard lock(m_mutex);
        return m_value;
    }

    void set(T value) {
        std::unique_lock lock(m_mutex);
        T old = std::exchange(m_value, std::move(value));
        lock.unlock();
    }

    template <typename Function> decltype(auto) with(Function&& function) {
        std::lock_guard lock(m_mutex);
        return std::forward<Function>(function)(m_value);
    }
    template <typename Function> decltype(auto) with(Function&& function) const {
        std::lock_guard lock(m_mutex);
        return std::forward<Function>(function)(m_value);
    }

private:
    mutable std::mutex m_mutex;
    T m_value{};
};

} // namespace platform
