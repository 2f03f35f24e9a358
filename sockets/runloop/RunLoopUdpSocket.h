#pragma once
// RunLoopUdpSocket: an asynchronous UDP socket on the run loop of the thread that made it, over up to two
// datagram sockets (IPv4 and IPv6, sharing a port when bound to port 0). It binds, connects (fixing the
// peer and closing the other family's socket), joins a multicast group, enables broadcast, and serves a
// queue of datagrams to send and a queue of receive requests, one of each at a time, in order, each with
// an optional time-out; outcomes go to a delegate (RunLoopUdpSocketDelegate.h).
//
// Promises: every step and delegate call runs on the bound run loop in the socket's modes; a request
// that fails leaves the socket usable; a close drops outstanding requests without callbacks and tells
// onUdpSocketDidClose on a later pass, unless the socket is destroyed first. A connected socket passes on
// only its peer's datagrams. Sends never raise SIGPIPE. No locks: use it from the bound thread only.
// Misuse (bind, connect or join on a closed socket, twice, or in the wrong order) raises
// RunLoopUdpSocketException.

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/net/CFSocket.h"
#include "platform/runloop/RunLoop.h"
#include "sockets/runloop/DelegateCall.h"
#include "sockets/runloop/RunLoopBinding.h"
#include "sockets/runloop/RunLoopUdpPackets.h"
#include "sockets/runloop/RunLoopUdpSocketDelegate.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <vector>

inline constexpr const char* RunLoopUdpSocketErrorDomain = "RunLoopUdpSocketErrorDomain";
inline constexpr const char* RunLoopUdpSocketException = "RunLoopUdpSocketException";

enum RunLoopUdpSocketError : int64_t {
    RunLoopUdpSocketCFSocketError = -1,
    RunLoopUdpSocketNoError = 0,
    RunLoopUdpSocketBadParameter = 1,
    RunLoopUdpSocketIPv4Unavailable = 2,
    RunLoopUdpSocketIPv6Unavailable = 3,
    RunLoopUdpSocketSendTimeoutError = 4,
    RunLoopUdpSocketReceiveTimeoutError = 5,
};

class RunLoopUdpSocket final : public platform::Object {
    struct PrivateTag {};

public:
    using RunLoopPtr = std::shared_ptr<platform::RunLoop>;
    using Modes = std::vector<platform::RunLoopMode>;
    using Host = std::optional<std::string>;

    // Implemented in: RunLoopUdpSocket.cpp (creation, accessors, run loop, errors, queries),
    // +Addressing.cpp (bind, connect, multicast, broadcast), +Queues.cpp (what sends and receives share),
    // +Sending.cpp, +Receiving.cpp, +Closing.cpp.

    // ---- Creation (initWithDelegate:userData:enableIPv4:enableIPv6: and its shorter forms) ----
    static RunLoopUdpSocketPtr create(RunLoopUdpSocketDelegatePtr delegate = nullptr, int64_t userData = 0,
                                      bool enableIPv4 = true, bool enableIPv6 = true);
    static RunLoopUdpSocketPtr initIPv4();
    static RunLoopUdpSocketPtr initIPv6();
    RunLoopUdpSocket(PrivateTag, RunLoopUdpSocketDelegatePtr delegate, int64_t userData);
    ~RunLoopUdpSocket() override;

    RunLoopUdpSocketDelegatePtr delegate() const { return m_delegate; }
    void setDelegate(RunLoopUdpSocketDelegatePtr delegate) { m_delegate = std::move(delegate); }
    int64_t userData() const { return m_userData; }
    void setUserData(int64_t userData) { m_userData = userData; }
    uint32_t maxReceiveBufferSize() const { return m_maxReceiveBufferSize; }
    void setMaxReceiveBufferSize(uint32_t size) { m_maxReceiveBufferSize = size; }

    bool moveToRunLoop(const RunLoopPtr& runLoop);
    bool setRunLoopModes(const Modes& runLoopModes);
    Modes runLoopModes() const { return m_binding.modes(); }

    // ---- Addressing (false with an error; a null host means every interface) ----
    bool bindToPort(uint16_t port, platform::ErrorPtr* errPtr = nullptr);
    bool bindToAddress(const Host& localAddr, uint16_t port, platform::ErrorPtr* errPtr = nullptr);
    bool connectToHost(const Host& host, uint16_t port, platform::ErrorPtr* errPtr = nullptr);
    bool connectToAddress(const platform::Data& remoteAddr, platform::ErrorPtr* errPtr = nullptr);
    bool joinMulticastGroup(const Host& group, platform::ErrorPtr* errPtr = nullptr);
    bool joinMulticastGroup(const Host& group, const Host& address, platform::ErrorPtr* errPtr = nullptr);
    bool enableBroadcast(bool flag, platform::ErrorPtr* errPtr = nullptr);

    // ---- Sending and receiving (true when queued; a negative time-out means none) ----
    bool sendData(const platform::Data& data, double timeout, int64_t tag);
    bool sendData(const platform::Data& data, const Host& host, uint16_t port, double timeout, int64_t tag);
    bool sendData(const platform::Data& data, const platform::Data& remoteAddr, double timeout, int64_t tag);
    void receiveWithTimeout(double timeout, int64_t tag);

    // ---- Closing ----
    void close();
    void closeAfterSending();
    void closeAfterReceiving();
    void closeAfterSendingAndReceiving();

    // ---- Queries (of the IPv4 socket when there is one, else the IPv6 one; cached while bound or
    // connected) ----
    Host localHost();
    uint16_t localPort();
    Host connectedHost();
    uint16_t connectedPort();
    Host localHost(const platform::CFSocketPtr& socket);
    uint16_t localPort(const platform::CFSocketPtr& socket);
    Host connectedHost(const platform::CFSocketPtr& socket);
    uint16_t connectedPort(const platform::CFSocketPtr& socket);
    bool isConnected() const;
    bool isConnectedToHost(const std::string& host, uint16_t port);
    bool isClosed() const;
    bool isIPv4() const { return m_socket4 != nullptr; }
    bool isIPv6() const { return m_socket6 != nullptr; }
    // The path MTU of a connected socket; 0 when unconnected or unknown.
    uint32_t maximumTransmissionUnit() const;

    // Raise NSInternalInconsistencyException when the system cannot write the address as text.
    static std::string addressHost4(const sockaddr_in& address);
    static std::string addressHost6(const sockaddr_in6& address);
    // By the family field (AF_INET, else IPv6); nullopt for bytes shorter than their family's record.
    static Host addressHost(const platform::Data& address);

private:
    enum Flag : uint16_t {
        kBound = 0x0001,
        kConnected = 0x0002,
        kSocket4Writable = 0x0004,
        kSocket6Writable = 0x0008,
        kSocket4Readable = 0x0010,
        kSocket6Readable = 0x0020,
        kNoNewRequests = 0x0040,
        kCloseAfterSends = 0x0080,
        kCloseAfterReceives = 0x0100,
        kClosed = 0x0200,
        kSendDequeueScheduled = 0x0400,
        kReceiveDequeueScheduled = 0x0800,
        kReceiveIPv4First = 0x1000,
    };

    using Deferred = sockets::RunLoopBinding::Deferred;
    using Step = void (RunLoopUdpSocket::*)();
    using Failure = void (RunLoopUdpSocketDelegate::*)(const RunLoopUdpSocketPtr&, int64_t,
                                                       const platform::ErrorPtr&);
    using RequestQueue = sockets::RunLoopRequestQueue;

    // What differs between the send and the receive side of the shared steps.
    struct Direction {
        RequestQueue RunLoopUdpSocket::*queue;
        uint16_t dequeueScheduled;
        uint16_t closeAfter;
        Deferred deferred;
        Step dequeue;
        Step serve;
        void (RunLoopUdpSocket::*timedOut)(platform::Timer& timer);
        const char* failureSelector;
        Failure failure;
        platform::ErrorPtr (RunLoopUdpSocket::*timeoutError)() const;
    };
    static const Direction kSending;
    static const Direction kReceiving;

    struct Addresses {
        std::optional<platform::Data> address4;
        std::optional<platform::Data> address6;
    };

    // ---- Creation, delegate, errors (RunLoopUdpSocket.cpp) ----
    void createSocket(int family);
    static void cfSocketCallback(platform::CFSocket& socket, platform::CFSocketCallBackType type,
                                 const platform::Data* address, const void* data, void* info);
    void doCFSocketCallback(platform::CFSocketCallBackType type, platform::CFSocket& socket);
    RunLoopUdpSocketPtr self();
    template <typename Result, typename Call>
    Result askDelegate(const char* selector, Result fallback, Call call);
    void tellDelegate(const char* selector,
                      const std::function<void(RunLoopUdpSocketDelegate&, const RunLoopUdpSocketPtr&)>& call);
    static platform::ErrorPtr udpError(RunLoopUdpSocketError code, const char* description);
    platform::ErrorPtr getErrnoError() const;
    platform::ErrorPtr getSocketError() const;
    platform::ErrorPtr getIPv4UnavailableError() const;
    platform::ErrorPtr getIPv6UnavailableError() const;
    platform::ErrorPtr getSendTimeoutError() const;
    platform::ErrorPtr getReceiveTimeoutError() const;
    sockets::RunLoopBinding::Scheduled scheduled() const;
    bool rebind(const std::function<void()>& change);
    void runLoopAddSource(const std::shared_ptr<platform::RunLoopFdSource>& source);
    void runLoopRemoveSource(const std::shared_ptr<platform::RunLoopFdSource>& source);
    void runLoopAddTimer(const std::shared_ptr<platform::Timer>& timer);
    void runLoopRemoveTimer(const std::shared_ptr<platform::Timer>& timer);
    void defer(Deferred kind, Step step);
    std::shared_ptr<platform::Timer> startTimer(double seconds,
                                                void (RunLoopUdpSocket::*fired)(platform::Timer&));
    Host cachedHost(const platform::CFSocketPtr& socket, bool peer);
    uint16_t cachedPort(const platform::CFSocketPtr& socket, bool peer);

    // ---- Addressing (RunLoopUdpSocket+Addressing.cpp) ----
    int convertHost(const Host& host, uint16_t port, bool passive, Addresses* addresses) const;
    int convertForBindHost(const Host& host, uint16_t port, Addresses* addresses) const;
    int convertForSendHost(const Host& host, uint16_t port, Addresses* addresses) const;
    void checkUsable(const char* closedReason) const;
    bool bindFamilies(Addresses& addresses, platform::ErrorPtr* errPtr);
    bool connectFamily(int family, const platform::Data& address, platform::ErrorPtr* errPtr);
    bool joinFamily(int family, const Addresses& group, const Addresses& interface,
                    platform::ErrorPtr* errPtr);

    // ---- Shared steps (RunLoopUdpSocket+Queues.cpp) ----
    bool canQueue(const platform::Data& data) const;
    void enqueue(const Direction& direction, std::shared_ptr<sockets::RunLoopRequest> request);
    void scheduleDequeue(const Direction& direction);
    void maybeDequeue(const Direction& direction);
    void doTimeout(const Direction& direction, platform::Timer& timer);
    void failCurrent(const Direction& direction, const platform::ErrorPtr& error);
    void endCurrent(const Direction& direction);
    bool wantsCloseNow() const;
    bool isReady(const platform::CFSocket& socket, uint16_t flag4, uint16_t flag6, short pollEvent) const;
    void clearReady(const platform::CFSocket& socket, uint16_t flag4, uint16_t flag6);

    // ---- Sending (RunLoopUdpSocket+Sending.cpp) ----
    std::shared_ptr<RunLoopSendPacket> currentSend() const;
    platform::CFSocketPtr socketForPacket(const RunLoopSendPacket& packet) const;
    bool canAcceptBytes(const platform::CFSocket& socket) const;
    void scheduleDequeueSend();
    void maybeDequeueSend();
    void serveSend();
    void doSend(platform::CFSocket& socket);
    void completeCurrentSend();
    void failCurrentSend(const platform::ErrorPtr& error);
    void endCurrentSend();
    void doSendTimeout(platform::Timer& timer);

    // ---- Receiving (RunLoopUdpSocket+Receiving.cpp) ----
    std::shared_ptr<RunLoopReceivePacket> currentReceive() const;
    bool hasBytesAvailable(const platform::CFSocket& socket) const;
    void scheduleDequeueReceive();
    void maybeDequeueReceive();
    void serveReceive();
    void doReceive4();
    void doReceive6();
    void doReceive(platform::CFSocket& socket);
    // One datagram for the current request: false when there is none to take now.
    bool receiveOne(platform::CFSocket& socket, const std::shared_ptr<RunLoopReceivePacket>& packet);
    bool isFromConnectedPeer(const Host& host, uint16_t port);
    bool maybeCompleteCurrentReceive();
    void failCurrentReceive(const platform::ErrorPtr& error);
    void endCurrentReceive();
    void doReceiveTimeout(platform::Timer& timer);

    // ---- Closing (RunLoopUdpSocket+Closing.cpp) ----
    void closeAfter(uint16_t sides);
    void maybeScheduleClose();
    void emptyQueues();
    void closeSocket4();
    void closeSocket6();
    void closeSocket(platform::CFSocketPtr& socket, std::shared_ptr<platform::RunLoopFdSource>& source);

    // ---- State ----
    platform::CFSocketPtr m_socket4;
    platform::CFSocketPtr m_socket6;
    std::shared_ptr<platform::RunLoopFdSource> m_source4;
    std::shared_ptr<platform::RunLoopFdSource> m_source6;
    sockets::RunLoopBinding m_binding; // the run loop, the modes and the deferred calls
    RequestQueue m_sends;
    RequestQueue m_receives;
    RunLoopUdpSocketDelegatePtr m_delegate;
    uint16_t m_flags{0};
    int64_t m_userData{0};
    Host m_cachedLocalHost;
    uint16_t m_cachedLocalPort{0};
    Host m_cachedConnectedHost;
    uint16_t m_cachedConnectedPort{0};
    uint32_t m_maxReceiveBufferSize{9216};
};

template <typename Result, typename Call>
Result RunLoopUdpSocket::askDelegate(const char* selector, Result fallback, Call call) {
    return sockets::askDelegate(m_delegate, selector, fallback,
                                [&](RunLoopUdpSocketDelegate& delegate) { return call(delegate, self()); });
}
