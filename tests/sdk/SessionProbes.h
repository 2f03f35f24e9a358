#pragma once
// What the session tests watch: the states a delegate receives (and on which thread), the session's
// notifications, and the process's RTMP threads and open descriptors.

#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/Thread.h"
#include "sdk/api/iOS/LiveSessionDelegate.h"
#include "sdk/api/iOS/LiveSimpleSession.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sdktest {

class StateRecorder : public LiveSessionDelegate {
public:
    bool respondsTo(std::string_view selector) const override {
        return selector == "connectionStatusChanged:";
    }

    void connectionStatusChanged(LiveSessionState state) override {
        {
            std::lock_guard lock(m_mutex);
            m_states.push_back(state);
            if (!platform::Thread::isMainThread())
                m_offMainCalls++;
        }
        if (onChange)
            onChange(state);
    }

    std::vector<LiveSessionState> states() const {
        std::lock_guard lock(m_mutex);
        return m_states;
    }
    bool sawState(LiveSessionState state) const {
        auto all = states();
        return std::find(all.begin(), all.end(), state) != all.end();
    }
    int offMainCalls() const {
        std::lock_guard lock(m_mutex);
        return m_offMainCalls;
    }
    void clear() {
        std::lock_guard lock(m_mutex);
        m_states.clear();
    }

    std::function<void(LiveSessionState)> onChange;

private:
    mutable std::mutex m_mutex;
    std::vector<LiveSessionState> m_states;
    int m_offMainCalls{0};
};

// Implements the method but does not say so: the session must not call it.
class SilentDelegate : public LiveSessionDelegate {
public:
    void connectionStatusChanged(LiveSessionState) override { calls++; }
    std::atomic<int> calls{0};
};

class NotificationCounter {
public:
    explicit NotificationCounter(std::string name) {
        m_token = platform::NotificationCenter::defaultCenter().addObserverForName(
            name, nullptr, [this](const platform::Notification&) {
                m_count++;
                if (!platform::Thread::isMainThread())
                    m_offMain++;
            });
    }
    ~NotificationCounter() { platform::NotificationCenter::defaultCenter().removeObserver(m_token); }
    int count() const { return m_count; }
    int offMain() const { return m_offMain; }

private:
    platform::NotificationObserver m_token;
    std::atomic<int> m_count{0};
    std::atomic<int> m_offMain{0};
};

// The RTMP output's connect and send threads ("com.marvane.rtmp.*", as far as the kernel keeps names).
inline int rtmpThreadCount() {
    int count = 0;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name.rfind("com.marvane.rtm", 0) == 0)
            count++;
    }
    return count;
}

// Moves a ManualClock to the session's next capture (the camera's or the microphone's) and waits until
// that capture has been delivered and everything captured so far has been encoded and sent. False when
// that did not happen within `limit` (real time).
inline bool captureNext(LiveSimpleSession& session, platform::ManualClock& clock,
                        std::chrono::steady_clock::duration limit) {
    const auto next = session.nextCaptureTime();
    if (next > clock.monotonic())
        clock.advance(next - clock.monotonic());
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!(session.nextCaptureTime() > next && session.isMediaRoadIdle())) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// Ends publishing, waits until the graph queue has released the output, and lets the session go.
inline void releaseSession(std::shared_ptr<LiveSimpleSession>& session) {
    if (!session)
        return;
    session->endRtmpSession();
    session->graphQueue()->sync([] {});
    session.reset();
}

inline int openDescriptorCount() {
    int count = 0;
    std::error_code error;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error))
        count++;
    return count;
}

} // namespace sdktest
