#pragma once
// A latch that holds replies back until the test lets them go, so time-out tests never depend on
// sleeps: a handler (on its connection's thread) waits on the gate, the test opens it. The server
// that made the gate opens it when it stops, so a forgotten gate never hangs a test. Once open it
// stays open. Thread-safe; shared by pointer between the test and its handlers.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace liveapp::test {

class HttpGate {
public:
    void open();
    void openForStop(); // what the server's stop calls; waiters learn that it was not the test
    bool isOpen() const;

    // Blocks until the gate opens. True when the test opened it, false when the server stopped.
    bool wait();
    // As wait(), but gives up after `timeout` (then false, as if stopped).
    bool waitFor(std::chrono::milliseconds timeout);

    // How many waits have begun (including those that found the gate open). Lets a test hold off
    // until its request has really reached the handler.
    size_t arrivals() const;
    // Blocks the caller until arrivals() reaches `count`; false if the generous deadline passes first.
    bool waitForArrivals(size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(60)) const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_open{false};
    bool m_openedByStop{false};
    size_t m_arrivals{0};
};

} // namespace liveapp::test
