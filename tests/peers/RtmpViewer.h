#pragma once
// A live viewer for tests: plays one stream from an RTMP server on loopback with the RTMP client
// library's play mode, as a player would, and notes when each audio and video message arrived and the
// media time it carries. From those it tells how far behind live the viewer is.
//
// Promises: the constructor returns once the server has accepted the play request, or throws
// std::runtime_error; the messages are then read on the viewer's own thread until the connection ends
// or the viewer is destroyed. The readers are safe from any thread. The destructor shuts the connection
// down and joins the thread. Not promised: any message sent before the play request was accepted.
//
//     RtmpViewer viewer(nginx.url("/live/42"));
//     ... publish, throttle ...
//     auto lags = lagsBehindLive(viewer.arrivals());

#include "platform/foundation/FileDescriptor.h"
#include "tests/peers/FlvReader.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace liveapp::test {

class RtmpViewer {
public:
    struct Arrival {
        std::chrono::steady_clock::time_point at;
        uint32_t timestamp{0}; // the message's media time, ms
        FlvTagType type{FlvTagType::Audio};
    };

    // `url` as "rtmp://127.0.0.1:PORT/live/NAME"; played as a live stream.
    explicit RtmpViewer(const std::string& url);
    ~RtmpViewer();
    RtmpViewer(const RtmpViewer&) = delete;
    RtmpViewer& operator=(const RtmpViewer&) = delete;

    // The audio and video messages so far, in the order they arrived.
    std::vector<Arrival> arrivals() const;
    size_t arrivalCount() const;
    // The server ended the stream or the connection failed.
    bool ended() const { return m_ended.load(); }

private:
    // The library's connection lives on the viewer's thread alone; `playing` hears whether playing
    // started (an empty reason) or why not.
    void run(const std::string& url, std::promise<std::string> playing);
    void take(const char* bytes, size_t size);

    std::string m_pending; // the viewer's thread's bytes of an unfinished tag
    bool m_sawHeader{false};

    mutable std::mutex m_mutex;
    platform::FileDescriptor m_shutdownHandle; // a second one of the library's socket; guarded by m_mutex
    std::vector<Arrival> m_arrivals;           // guarded by m_mutex
    std::atomic<bool> m_ended{false};
    std::thread m_thread; // last: it uses everything above
};

// How far behind live each arrival came: its arrival time less its media time, less the smallest such
// difference of them all, so the offset between the two clocks cancels out. Milliseconds, in order.
std::vector<int64_t> lagsBehindLive(const std::vector<RtmpViewer::Arrival>& arrivals);

} // namespace liveapp::test
