#pragma once
// A value read and written whole under a lock: the platform's atomic property. get() answers a copy, so a
// reader never sees half of a write; nothing orders two properties with each other. Thread-safe.

#include <mutex>
#include <utility>

namespace platform {

template <typename T> class AtomicProperty {
public:
    AtomicProperty() = default;
    explicit AtomicProperty(T value)
        : m_value(std::move(value)) {}
    AtomicProperty(const AtomicProperty&) = delete;
    AtomicProperty& operator=(const AtomicProperty&) = delete;

    T get() const {
        std::lock_guard lock(m_mutex);
        return m_value;
    }
    void set(T value) {
        std::lock_guard lock(m_mutex);
        m_value = std::move(value);
    }
    // Replaces the value and answers the one it had.
    T exchange(T value) {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_value, std::move(value));
    }

private:
    mutable std::mutex m_mutex;
    T m_value{};
};

} // namespace platform
