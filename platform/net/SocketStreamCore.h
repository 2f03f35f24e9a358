#pragma once
// The state both streams of a pair share: the descriptor (or the connection being made to a host),
// the TLS session, and for each side its status, client, run-loop scheduling and pending events.
// Internal to the stream pair (SocketStream.h states the promises).
//
// One mutex guards everything. Clients are called without it, and only from a perform queued on the
// side's run loop, so no call into the pair ever calls a client back. Blocking reads and writes let
// go of the mutex while they wait on the descriptor, in short slices, so a close from another thread
// is seen; a descriptor is closed only once no one waits on it.

#include "platform/net/Resolver.h"
#include "platform/net/SocketStream.h"
#include "platform/security/TlsContext.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace platform {
class RunLoopFdSource;
}

namespace platform::detail {

class SocketStreamCore : public std::enable_shared_from_this<SocketStreamCore> {
public:
    static constexpr int kRead = 0;
    static constexpr int kWrite = 1;
    using Client = std::function<void(StreamEventType)>;

    static std::shared_ptr<SocketStreamCore> createWithSocket(int fd);
    static std::shared_ptr<SocketStreamCore> createToHost(std::string host, uint16_t port);
    ~SocketStreamCore();

    bool open(int side);
    void close(int side);
    StreamStatus status(int side);
    StreamError error(int side) const;
    Value copyProperty(std::string_view key) const;
    bool setProperty(std::string_view key, const Value& value);
    bool schedule(int side, const std::shared_ptr<RunLoop>& runLoop, const RunLoopMode& mode);
    void unschedule(int side, const std::shared_ptr<RunLoop>& runLoop, const RunLoopMode& mode);
    bool setClient(int side, StreamEventType events, Client client);

    int64_t read(uint8_t* buffer, int64_t maxLength);
    bool hasBytesAvailable();
    int64_t write(const uint8_t* buffer, int64_t length);
    bool canAcceptBytes();

    struct PrivateTag {
        explicit PrivateTag() = default;
    };
    SocketStreamCore(PrivateTag, int fd, std::string host, uint16_t port);

private:
    enum class Connection { Idle, Resolving, Connecting, Connected, Failed };
    enum class Tls { Off, Handshaking, Secure, Failed };

    struct SideState {
        bool opened{false};
        bool closed{false};
        bool atEnd{false};
        bool failed{false};
        StreamError error;
        StreamEventType clientEvents{0};
        std::shared_ptr<Client> client;
        std::shared_ptr<RunLoop> loop;
        std::vector<RunLoopMode> modes;
        std::shared_ptr<RunLoopFdSource> source;
        uint32_t sourceInterest{0};
        StreamEventType pending{0};
        bool deliveryQueued{false};
        bool armed{true};       // a readiness event may be signalled; reads and writes re-arm it
        uint64_t generation{0}; // bumped whenever queued deliveries become stale
    };

    using Lock = std::unique_lock<std::mutex>;

    // Events (SocketStreamCore.cpp).
    const void* performTarget(int side) const { return &m_sides[side]; }
    void signalLocked(int side, StreamEventType events);
    void queueDeliveryLocked(int side);
    void requeueDeliveryLocked(int side);
    void deliver(int side, uint64_t generation);
    void sourceReady(int side, uint32_t ready);
    void ensureSourcesLocked();
    void dropSourcesLocked();
    void updateInterestLocked();
    bool readyForEventsLocked(int side) const;
    StreamStatus statusLocked(int side) const;
    void failSideLocked(int side, StreamError error);
    void failBothLocked(StreamError error);
    void endReadLocked();
    void finishIfClosedLocked();
    void closeDescriptorLocked(int fd);

    // I/O (SocketStream+IO.cpp).
    void advanceLocked(Lock& lock);
    bool waitForDescriptor(Lock& lock, short events);
    bool hasBytesLocked();
    bool canAcceptLocked();
    void examineReadableLocked();
    void reportTlsInputEndLocked();

    // Connecting to a host (SocketStream+Connect.cpp).
    void startResolvingLocked();
    void resolved(uint64_t attempt, int code, std::vector<ResolvedAddress> addresses);
    void tryNextAddressLocked();
    void finishConnectLocked();
    void connectedLocked();

    // TLS (SocketStream+TLS.cpp).
    bool setTlsSettingsLocked(const Value& settings);
    void startTlsLocked();
    void stepHandshakeLocked();
    void pullTlsLocked();
    bool flushTlsLocked();
    OSStatus tlsRead(void* data, size_t* length);
    OSStatus tlsWrite(const void* data, size_t* length);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    SideState m_sides[2];

    int m_fd{-1};
    const std::string m_host; // empty for a pair over a given socket
    const uint16_t m_port{0};
    bool m_closeNativeSocket{false};
    bool m_finished{false};       // both sides closed
    bool m_descriptorOpen{false}; // a given descriptor was found open when a side first opened
    std::string m_networkServiceType;
    int m_blocking{0}; // calls waiting on the descriptor
    std::vector<int> m_deferredCloses;

    Connection m_connection{Connection::Idle};
    StreamError m_connectionError;
    uint64_t m_connectAttempt{0};
    std::deque<ResolvedAddress> m_candidates;
    int m_lastConnectErrno{0};

    Tls m_tls{Tls::Off};
    Value m_tlsSettings;
    TlsContextPtr m_tlsContext;
    uint32_t m_tlsWants{0};         // the descriptor events the engine last waited for
    bool m_tlsOutputPending{false}; // encrypted bytes the engine could not write yet
    bool m_tlsInputEnded{false};    // the peer closed the session (or the connection)
    OSStatus m_tlsInputFailure{noErr};
    bool m_transportEnded{false};
    bool m_closeNotifySent{false};
    std::vector<uint8_t> m_plaintext; // decrypted ahead of the client's reads
    size_t m_plaintextOffset{0};
};

} // namespace platform::detail
