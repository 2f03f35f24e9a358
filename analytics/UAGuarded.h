#pragma once
// A value that several threads read and write whole: each read answers a copy taken under its lock.

#include <mutex>
#include <utility>

namespace uadetail {

template <class T> class Guarded {
public:
    Guarded() = default;
    template <class U>
    Guarded(U&& initial)
        : m_value(std::forward<U>(initial)) {}

    T get() const {
        std::lock_guard lock(m_mutex);
        return m_value;
    }
    void set(T value) {
        std::lock_guard lock(m_mutex);
        m_value = std::move(value);
    }

private:
    mutable std::mutex m_mutex;
    T m_value{};
};

} // namespace uadetail
