#include "tests/peers/HttpGate.h"

namespace liveapp::test {

void HttpGate::open() {
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
    }
    m_changed.notify_all();
}

void HttpGate::openForStop() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_open)
            m_openedByStop = true;
        m_open = true;
    }
    m_changed.notify_all();
}

bool HttpGate::isOpen() const {
    std::lock_guard lock(m_mutex);
    return m_open;
}

bool HttpGate::wait() {
    std::unique_lock lock(m_mutex);
    ++m_arrivals;
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return m_open; });
    return !m_openedByStop;
}

bool HttpGate::waitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    ++m_arrivals;
    m_changed.notify_all();
    return m_changed.wait_for(lock, timeout, [&] { return m_open; }) && !m_openedByStop;
}

size_t HttpGate::arrivals() const {
    std::lock_guard lock(m_mutex);
    return m_arrivals;
}

bool HttpGate::waitForArrivals(size_t count, std::chrono::milliseconds deadline) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, deadline, [&] { return m_arrivals >= count; });
}

} // namespace liveapp::test
