#pragma once
// Helpers for the stream pair tests: connected socket pairs and loopback listeners, a recorder of
// client events that also checks where each event came from, and a TLS identity made at test time.

#include "platform/net/SocketStream.h"
#include "platform/security/TlsCertificate.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace streamtest {

// Both ends non-blocking; closes what is still open.
struct SocketPair {
    int fds[2]{-1, -1};
    SocketPair();
    ~SocketPair();
    void closeEnd(int end);
    std::string drain(int end); // what the end can read now
};

// A TCP listener on 127.0.0.1 and an ephemeral port.
struct Listener {
    int fd{-1};
    uint16_t port{0};
    Listener();
    ~Listener();
    int acceptOne(); // non-blocking; -1 when nobody waits
};

// A port on 127.0.0.1 that nobody listens on (bound and released).
uint16_t refusedPort();

// Calls into the streams made through `during` count as "inside"; a client event that arrives then,
// or off the main thread when `mainThreadOnly`, is a fault the recorder counts.
class EventLog {
public:
    struct Entry {
        char side; // 'r' or 'w'
        platform::StreamEventType event;
    };

    platform::ReadStream::ClientCallback
    readClient(std::function<void(platform::ReadStream&, platform::StreamEventType)> also = {});
    platform::WriteStream::ClientCallback
    writeClient(std::function<void(platform::WriteStream&, platform::StreamEventType)> also = {});

    template <class Call> auto during(Call&& call) {
        m_inside = true;
        struct Reset {
            std::atomic<bool>& flag;
            ~Reset() { flag = false; }
        } reset{m_inside};
        return call();
    }

    int count(char side, platform::StreamEventType event) const;
    std::vector<Entry> entries() const;
    int misplaced() const { return m_misplaced; }
    bool mainThreadOnly{true};

private:
    void record(char side, platform::StreamEventType event);

    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
    std::atomic<bool> m_inside{false};
    std::atomic<int> m_misplaced{0};
};

constexpr platform::StreamEventType kAllRead =
    platform::kCFStreamEventOpenCompleted | platform::kCFStreamEventHasBytesAvailable |
    platform::kCFStreamEventErrorOccurred | platform::kCFStreamEventEndEncountered;
constexpr platform::StreamEventType kAllWrite =
    platform::kCFStreamEventOpenCompleted | platform::kCFStreamEventCanAcceptBytes |
    platform::kCFStreamEventErrorOccurred | platform::kCFStreamEventEndEncountered;

// A pair with clients for every event (each also calling `also*` when given), scheduled on the main
// loop in the default mode; closed when it goes.
struct Attached {
    platform::SocketStreamPair pair;
    EventLog log;

    explicit Attached(platform::SocketStreamPair made,
                      std::function<void(platform::ReadStream&, platform::StreamEventType)> alsoRead = {},
                      std::function<void(platform::WriteStream&, platform::StreamEventType)> alsoWrite = {});
    ~Attached();
    bool open();
    bool waitFor(char side, platform::StreamEventType event, int count = 1);
    std::string readAll();
    int64_t write(std::string_view text);
};

// A self-signed identity for "localhost" and 127.0.0.1, made once per process.
platform::TlsIdentityPtr localhostIdentity();

// Server and client SSL settings for the identity above.
platform::Value serverSettings();
platform::Value clientSettings(bool allowsAnyRoot = true);

} // namespace streamtest
