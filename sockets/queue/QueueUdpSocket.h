#pragma once
// QueueUdpSocket: an asynchronous UDP socket over up to two datagram sockets (IPv4 and IPv6) whose whole
// state lives on one private serial dispatch queue, the socket queue. Callers bind, connect, join
// groups, queue datagrams and ask to receive from any thread; outcomes reach a delegate as callbacks
// posted asynchronously onto the delegate queue the caller chose.
//
// Promises:
// - Reaching the socket queue: inline when the caller already runs on it (or on a queue marked with
//   markSocketQueueTargetQueue); otherwise synchronously for queries and operations that answer a
//   result, asynchronously for setters, pauseReceiving and closeAfterSending. The send operations are
//   always asynchronous, even from the socket queue. A synchronous call never deadlocks on the socket's
//   own queue, and a synchronous filter whose queue is the socket queue runs inline.
// - Datagrams and connect requests leave one at a time in the order queued; each datagram ends with
//   exactly one udpSocketDidSendDataWithTag or udpSocketDidNotSendDataWithTag, unless the socket
//   closes first. A full send buffer is waited out (and retried) until the datagram's time-out.
// - Every delegate callback is optional (respondsTo decides), sent only while a delegate queue is set.
// - The delegate is held weakly; the queues and the user data strongly. Destroying the socket closes
//   it; the close callback it causes carries a null socket.
// Not promised: an order between callbacks on a concurrent delegate queue.

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSource.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"
#include "platform/net/SocketStream.h"
#include "sockets/queue/QueueUdpPackets.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <vector>

class QueueUdpSocket;
class QueueUdpSocketDelegate;
using QueueUdpSocketPtr = std::shared_ptr<QueueUdpSocket>;
using QueueUdpSocketDelegatePtr = std::shared_ptr<QueueUdpSocketDelegate>;

inline constexpr const char* QueueUdpSocketErrorDomain = "QueueUdpSocketErrorDomain";

enum QueueUdpSocketError : int64_t {
    QueueUdpSocketNoError = 0,
    QueueUdpSocketBadConfigError = 1,
    QueueUdpSocketBadParamError = 2,
    QueueUdpSocketSendTimeoutError = 3,
    QueueUdpSocketClosedError = 4,
    QueueUdpSocketOtherError = 5,
};

// Decides whether a received datagram reaches the delegate; whatever it stores in `context` travels
// with the datagram. Runs on the filter's queue.
using QueueUdpSocketReceiveFilterBlock =
    std::function<bool(const platform::Data& data, const platform::Data& address, platform::Value* context)>;
// Decides whether a datagram goes out (a refused one is reported as sent). Runs on the filter's queue.
using QueueUdpSocketSendFilterBlock =
    std::function<bool(const platform::Data& data, const platform::Data& address, int64_t tag)>;

// The delegate protocol: every method optional (respondsTo with the selector text decides); the bodies
// here do nothing. Calls arrive on the delegate queue.
class QueueUdpSocketDelegate : public platform::Object {
public:
    // udpSocket:didConnectToAddress:
    virtual void udpSocketDidConnectToAddress(const QueueUdpSocketPtr& sock, const platform::Data& address);
    // udpSocket:didNotConnect:
    virtual void udpSocketDidNotConnect(const QueueUdpSocketPtr& sock, const platform::ErrorPtr& error);
    // udpSocket:didSendDataWithTag:
    virtual void udpSocketDidSendDataWithTag(const QueueUdpSocketPtr& sock, int64_t tag);
    // udpSocket:didNotSendDataWithTag:dueToError:
    virtual void udpSocketDidNotSendDataWithTag(const QueueUdpSocketPtr& sock, int64_t tag,
                                                const platform::ErrorPtr& error);
    // udpSocket:didReceiveData:fromAddress:withFilterContext: — the context is nil without a filter.
    virtual void udpSocketDidReceiveData(const QueueUdpSocketPtr& sock, const platform::Data& data,
                                         const platform::Data& address, const platform::Value& filterContext);
    // udpSocketDidClose:withError: — sock is null while the socket is being destroyed; error is null
    // for a requested close.
    virtual void udpSocketDidClose(const QueueUdpSocketPtr& sock, const platform::ErrorPtr& error);
};

class QueueUdpSocket final : public platform::Object {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    using DispatchQueuePtr = std::shared_ptr<platform::DispatchQueue>;

    // Implemented in: QueueUdpSocket.cpp (creation, delegate, configuration, queue access, errors,
    // address helpers), +Sockets.cpp (sockets, sources, binding, connecting, multicast, options,
    // queries), +Sending.cpp, +Receiving.cpp, +Closing.cpp (closing, streams, foreground).

    // ---- Creation (a null socket queue means a serial queue of its own, labelled "QueueUdpSocket") ----
    static QueueUdpSocketPtr create();
    static QueueUdpSocketPtr create(DispatchQueuePtr socketQueue);
    static QueueUdpSocketPtr create(const QueueUdpSocketDelegatePtr& delegate,
                                    DispatchQueuePtr delegateQueue);
    static QueueUdpSocketPtr create(const QueueUdpSocketDelegatePtr& delegate, DispatchQueuePtr delegateQueue,
                                    DispatchQueuePtr socketQueue);
    QueueUdpSocket(PrivateTag, const QueueUdpSocketDelegatePtr& delegate, DispatchQueuePtr delegateQueue,
                   DispatchQueuePtr socketQueue);
    ~QueueUdpSocket() override;

    // ---- Delegate, queues, user data ----
    QueueUdpSocketDelegatePtr delegate() const;
    void setDelegate(const QueueUdpSocketDelegatePtr& delegate);
    void synchronouslySetDelegate(const QueueUdpSocketDelegatePtr& delegate);
    DispatchQueuePtr delegateQueue() const;
    void setDelegateQueue(DispatchQueuePtr delegateQueue);
    void synchronouslySetDelegateQueue(DispatchQueuePtr delegateQueue);
    void getDelegate(QueueUdpSocketDelegatePtr* delegatePtr, DispatchQueuePtr* delegateQueuePtr) const;
    void setDelegate(const QueueUdpSocketDelegatePtr& delegate, DispatchQueuePtr delegateQueue);
    void synchronouslySetDelegate(const QueueUdpSocketDelegatePtr& delegate, DispatchQueuePtr delegateQueue);
    platform::Value userData() const;
    void setUserData(platform::Value userData);

    // ---- Configuration (kept across closes; sockets already made keep their family) ----
    bool isIPv4Enabled() const;
    void setIPv4Enabled(bool flag);
    bool isIPv6Enabled() const;
    void setIPv6Enabled(bool flag);
    bool isIPv4Preferred() const;
    bool isIPv6Preferred() const;
    bool isIPVersionNeutral() const;
    void setPreferIPv4();
    void setPreferIPv6();
    void setIPVersionNeutral();
    uint16_t maxReceiveIPv4BufferSize() const;
    void setMaxReceiveIPv4BufferSize(uint16_t max);
    uint32_t maxReceiveIPv6BufferSize() const;
    void setMaxReceiveIPv6BufferSize(uint32_t max);

    // ---- Socket-queue access ----
    void performBlock(const std::function<void()>& block);
    // Only from the socket queue (inside performBlock); elsewhere -1 or null.
    int socketFD() const;
    int socket4FD() const;
    int socket6FD() const;
    std::shared_ptr<platform::ReadStream> readStream();
    std::shared_ptr<platform::WriteStream> writeStream();
    void markSocketQueueTargetQueue(const DispatchQueuePtr& socketNewTargetQueue);
    void unmarkSocketQueueTargetQueue(const DispatchQueuePtr& socketOldTargetQueue);
    // Background service has no counterpart on this platform: always false.
    bool enableBackgroundingOnSockets();

    // ---- Binding and connecting (synchronous; false with an error when refused) ----
    // A null interface binds the wildcard addresses; otherwise "localhost"/"loopback", a name or an address.
    bool bindToPort(uint16_t port, platform::ErrorPtr* errPtr = nullptr);
    bool bindToPort(uint16_t port, const std::optional<std::string>& interface,
                    platform::ErrorPtr* errPtr = nullptr);
    bool bindToAddress(const platform::Data& localAddr, platform::ErrorPtr* errPtr = nullptr);
    // True once the request is queued; the outcome arrives as udpSocketDidConnectToAddress or
    // udpSocketDidNotConnect.
    bool connectToHost(const std::optional<std::string>& host, uint16_t port,
                       platform::ErrorPtr* errPtr = nullptr);
    bool connectToAddress(const std::optional<platform::Data>& remoteAddr,
                          platform::ErrorPtr* errPtr = nullptr);

    // ---- Multicast and options ----
    bool joinMulticastGroup(const std::string& group, platform::ErrorPtr* errPtr = nullptr);
    bool joinMulticastGroup(const std::string& group, const std::optional<std::string>& interface,
                            platform::ErrorPtr* errPtr = nullptr);
    bool leaveMulticastGroup(const std::string& group, platform::ErrorPtr* errPtr = nullptr);
    bool leaveMulticastGroup(const std::string& group, const std::optional<std::string>& interface,
                             platform::ErrorPtr* errPtr = nullptr);
    bool enableReusePort(bool flag, platform::ErrorPtr* errPtr = nullptr);
    bool enableBroadcast(bool flag, platform::ErrorPtr* errPtr = nullptr);

    // ---- Sending (always asynchronous; empty data is ignored; a negative time-out means none) ----
    void sendData(const platform::Data& data, int64_t tag);
    void sendData(const platform::Data& data, double timeout, int64_t tag);
    void sendData(const platform::Data& data, const std::optional<std::string>& host, uint16_t port,
                  double timeout, int64_t tag);
    void sendData(const platform::Data& data, const platform::Data& remoteAddr, double timeout, int64_t tag);
    // An empty filter or a null queue removes the filter. The two-argument form is asynchronous.
    void setSendFilter(QueueUdpSocketSendFilterBlock filterBlock, DispatchQueuePtr filterQueue);
    void setSendFilter(QueueUdpSocketSendFilterBlock filterBlock, DispatchQueuePtr filterQueue,
                       bool isAsynchronous);

    // ---- Receiving ----
    bool receiveOnce(platform::ErrorPtr* errPtr = nullptr);
    bool beginReceiving(platform::ErrorPtr* errPtr = nullptr);
    void pauseReceiving();
    void setReceiveFilter(QueueUdpSocketReceiveFilterBlock filterBlock, DispatchQueuePtr filterQueue);
    void setReceiveFilter(QueueUdpSocketReceiveFilterBlock filterBlock, DispatchQueuePtr filterQueue,
                          bool isAsynchronous);

    // ---- Closing (a socket closed can be bound, connected or used again) ----
    void close();
    void closeAfterSending();
    // Resumes suspended read sources; the socket registers for the foreground notification itself.
    void applicationWillEnterForeground(const platform::Notification& notification);

    // ---- Queries (synchronous) ----
    std::optional<platform::Data> localAddress() const;
    std::optional<std::string> localHost() const;
    uint16_t localPort() const;
    std::optional<platform::Data> localAddress_IPv4() const;
    std::optional<std::string> localHost_IPv4() const;
    uint16_t localPort_IPv4() const;
    std::optional<platform::Data> localAddress_IPv6() const;
    std::optional<std::string> localHost_IPv6() const;
    uint16_t localPort_IPv6() const;
    std::optional<platform::Data> connectedAddress() const;
    std::optional<std::string> connectedHost() const;
    uint16_t connectedPort() const;
    bool isConnected() const;
    bool isClosed() const;
    bool isIPv4() const;
    bool isIPv6() const;

    // ---- Address helpers (any thread); records are sockaddr_in (16 bytes) or sockaddr_in6 (28) ----
    static std::string hostFromSockaddr4(const sockaddr_in& pSockaddr4);
    static std::string hostFromSockaddr6(const sockaddr_in6& pSockaddr6);
    static uint16_t portFromSockaddr4(const sockaddr_in& pSockaddr4);
    static uint16_t portFromSockaddr6(const sockaddr_in6& pSockaddr6);
    static std::optional<std::string> hostFromAddress(const platform::Data& address);
    static uint16_t portFromAddress(const platform::Data& address);
    static int familyFromAddress(const platform::Data& address);
    static bool isIPv4Address(const platform::Data& address);
    static bool isIPv6Address(const platform::Data& address);
    // False with nil, 0 and 0 for a record that is not a complete IPv4 or IPv6 one.
    static bool getHost(std::optional<std::string>* hostPtr, uint16_t* portPtr, int* afPtr,
                        const platform::Data& address);
    static bool getHost(std::optional<std::string>* hostPtr, uint16_t* portPtr,
                        const platform::Data& address);

private:
    enum Flag : uint32_t {
        UdpFlagSocketsOpen = 1u << 0,
        UdpFlagBound = 1u << 1,
        UdpFlagConnectPending = 1u << 2,
        UdpFlagConnected = 1u << 3,
        UdpFlagReceivingOne = 1u << 4,
        UdpFlagReceivingAll = 1u << 5,
        UdpFlagIPv4Deactivated = 1u << 6,
        UdpFlagIPv6Deactivated = 1u << 7,
        UdpFlagSend4Suspended = 1u << 8,
        UdpFlagSend6Suspended = 1u << 9,
        UdpFlagReceive4Suspended = 1u << 10,
        UdpFlagReceive6Suspended = 1u << 11,
        UdpFlagSocket4Writable = 1u << 12,
        UdpFlagSocket6Writable = 1u << 13,
        UdpFlagCloseWhenSent = 1u << 15,
        UdpFlagReadSocket4Next = 1u << 16,
        UdpFlagStreamsScheduled = 1u << 17,
        UdpFlagDeallocating = 1u << 18,
    };
    enum Config : uint16_t {
        UdpConfigIPv4Disabled = 1u << 0,
        UdpConfigIPv6Disabled = 1u << 1,
        UdpConfigPreferIPv4 = 1u << 2,
        UdpConfigPreferIPv6 = 1u << 3,
    };

    using SourcePtr = std::shared_ptr<platform::DispatchSource>;
    using PacketPtr = std::shared_ptr<sockets::Packet>;
    using Addresses = std::vector<platform::Data>;

    // ---- Queue plumbing, delegate and errors (QueueUdpSocket.cpp) ----
    QueueUdpSocketPtr self();
    bool isOnSocketQueue() const;
    void runOnSocketQueue(const std::function<void()>& block) const;
    // Inline on the socket queue, otherwise posted to it with a strong reference.
    void runOnSocketQueueAsync(std::function<void(QueueUdpSocket&)> block);
    // Whether a synchronous hop onto `queue` would wait on the queue we are running on.
    bool isSocketQueueOrMarked(const DispatchQueuePtr& queue) const;
    void notifyDelegate(
        const char* selector,
        std::function<void(const QueueUdpSocketDelegatePtr& delegate, const QueueUdpSocketPtr& sock)> call);
    struct DelegateCalls;
    static void runDelegateCalls(const std::shared_ptr<DelegateCalls>& calls);
    // While held (on the socket queue, through a batch of sends) calls gather without starting a pass;
    // releasing starts the one pass they need.
    void holdDelegateCalls();
    void releaseDelegateCalls();
    static void startOwedPass(const std::shared_ptr<DelegateCalls>& calls);
    void notifyDidConnectToAddress(const platform::Data& anAddress);
    void notifyDidNotConnect(const platform::ErrorPtr& error);
    void notifyDidSendDataWithTag(int64_t tag);
    // Reports packets[from, from + count) sent, in order.
    void notifyDidSendRun(const std::vector<std::shared_ptr<QueueUdpSendPacket>>& packets, size_t from,
                          size_t count);
    void notifyDidNotSendDataWithTag(int64_t tag, const platform::ErrorPtr& error);
    void notifyDidReceiveData(const platform::Data& data, const platform::Data& address,
                              const platform::Value& context);
    void notifyDidCloseWithError(const platform::ErrorPtr& error);
    bool preOp(platform::ErrorPtr* errPtr) const;
    static platform::ErrorPtr badConfigError(const std::string& errMsg);
    static platform::ErrorPtr badParamError(const std::string& errMsg);
    static platform::ErrorPtr gaiError(int gai_error);
    // errno must still hold the failing call's value.
    static platform::ErrorPtr errnoErrorWithReason(const std::string& reason);
    static platform::ErrorPtr errnoError();
    static platform::ErrorPtr sendTimeoutError();
    static platform::ErrorPtr socketClosedError();
    static platform::ErrorPtr otherError(const std::string& errMsg);

    // ---- Sockets, binding, connecting (QueueUdpSocket+Sockets.cpp) ----
    bool createSocket4(bool useIPv4, bool useIPv6, platform::ErrorPtr* errPtr);
    bool createSockets(platform::ErrorPtr* errPtr);
    void setupSendAndReceiveSources(bool ipv4);
    void suspendSendSource(bool ipv4);
    void resumeSendSource(bool ipv4);
    void suspendReceiveSource(bool ipv4);
    void resumeReceiveSource(bool ipv4);
    void closeSocket(bool ipv4);
    void closeSockets();
    void asyncResolveHost(const std::optional<std::string>& host, uint16_t port,
                          std::function<void(QueueUdpSocket&, Addresses, platform::ErrorPtr)> completion);
    int getAddress(std::optional<platform::Data>* addressPtr, platform::ErrorPtr* errorPtr,
                   const Addresses& addresses) const;
    static void convertNumericHost(const std::string& numericHost, uint16_t port,
                                   std::optional<platform::Data>* addr4Ptr,
                                   std::optional<platform::Data>* addr6Ptr);
    bool isConnectedToAddress4(const platform::Data& someAddr4) const;
    bool isConnectedToAddress6(const platform::Data& someAddr6) const;
    static unsigned indexOfInterfaceAddr6(const platform::Data& interfaceAddr6);
    bool preBind(platform::ErrorPtr* errPtr) const;
    bool preConnect(platform::ErrorPtr* errPtr) const;
    bool preJoin(platform::ErrorPtr* errPtr) const;
    void maybeConnect();
    bool connectWithAddress(const platform::Data& address, bool ipv4, platform::ErrorPtr* errPtr);
    bool performMulticastRequest(bool join, const std::string& group,
                                 const std::optional<std::string>& interface, platform::ErrorPtr* errPtr);
    // An address with its host and port, as the queries answer them.
    struct AddressInfo {
        std::optional<platform::Data> address;
        std::optional<std::string> host;
        uint16_t port{0};
        static AddressInfo of(const platform::Data& address);
    };
    void maybeUpdateCachedLocalAddressInfo(bool ipv4) const;
    void maybeUpdateCachedConnectedAddressInfo() const;
    // The local address of one family (nullopt: of the open socket, IPv4 first), or the peer's.
    AddressInfo localInfo(std::optional<bool> ipv4) const;
    AddressInfo connectedInfo() const;

    // ---- Sending (QueueUdpSocket+Sending.cpp) ----
    void enqueueSend(std::shared_ptr<QueueUdpSendPacket> packet);
    // Datagrams from callers reach the socket queue in batches: the first one of a batch posts the
    // block that takes the whole batch, later ones join it while it waits. An operation a caller posts
    // after some datagrams seals their batch, so what comes later joins a batch of its own, after it.
    struct SendBatch;
    void postSend(std::shared_ptr<QueueUdpSendPacket> packet);
    void sealSendBatch();
    void takeSendBatch(const std::shared_ptr<SendBatch>& batch);
    static constexpr size_t kSendRun = 64; // datagrams given to one system call at most
    size_t sendRunAtOnce(const std::vector<std::shared_ptr<QueueUdpSendPacket>>& packets, size_t from);
    // Re-entered from a send that completes at once, it only asks the outer call to go round again, so
    // a long queue is drained by a loop instead of a recursion.
    void maybeDequeueSend();
    void dequeueSendOnce();
    void doPreSend();
    // Fills in where the current datagram goes; the error that fails it, or null.
    platform::ErrorPtr chooseDestination(QueueUdpSendPacket& packet);
    bool filterSend(const QueueUdpSendPacket& packet);
    void filterSendAsynchronously(const std::shared_ptr<QueueUdpSendPacket>& packet);
    // Sends the current datagram the filter let through, or reports a dropped one as sent.
    void finishFilteredSend(bool allowed);
    void failCurrentSend(const platform::ErrorPtr& error);
    void doSend();
    void setupSendTimerWithTimeout(double timeout);
    void doSendTimeout();
    void endCurrentSend();
    std::shared_ptr<QueueUdpSendPacket> currentSendPacket() const;

    // ---- Receiving (QueueUdpSocket+Receiving.cpp) ----
    // Tests count the read sources' wake-ups through this.
    friend struct QueueUdpSocketProbe;
    void readSourceFired(bool ipv4, uint64_t bytesAvailable);
    bool startReceiving(uint32_t mode, platform::ErrorPtr* errPtr);
    void suspendReceiveSourcesWithData();
    void doReceive();
    // Which socket to take the next datagram from, taking turns while both have one.
    bool nextReceiveIsIPv4();
    // One datagram and its sender; nullopt when there was none (the sources wait) or the socket closed.
    std::optional<std::pair<platform::Data, platform::Data>> receiveDatagram(bool ipv4);
    // What became of a datagram: handed to the delegate, dropped, or with an asynchronous filter.
    enum class Verdict { Delivered, Ignored, Pending };
    Verdict judgeDatagram(const platform::Data& data, const platform::Data& address, bool ipv4);
    void filterAsynchronously(const platform::Data& data, const platform::Data& address);

    // ---- Closing and streams (QueueUdpSocket+Closing.cpp) ----
    void closeWithError(const platform::ErrorPtr& error);
    bool createReadAndWriteStreams(platform::ErrorPtr* errPtr);
    bool registerForStreamCallbacks(platform::ErrorPtr* errPtr);
    bool addStreamsToRunLoop(platform::ErrorPtr* errPtr);
    bool openStreams(platform::ErrorPtr* errPtr);
    void removeStreamsFromRunLoop();
    void closeReadAndWriteStreams();
    void streamEnded(const std::weak_ptr<platform::Object>& stream, const platform::ErrorPtr& error);

    // ---- State: every field belongs to the socket queue ----
    std::weak_ptr<QueueUdpSocketDelegate> m_delegate;
    DispatchQueuePtr m_delegateQueue;
    std::shared_ptr<DelegateCalls> m_delegateCalls; // the calls waiting for their pass on m_delegateQueue
    bool m_delegateCallsHeld{false};
    std::mutex m_sendIntakeMutex;
    std::shared_ptr<SendBatch> m_openSendBatch; // its block queued and not yet run; guarded by the mutex
    QueueUdpSocketReceiveFilterBlock m_receiveFilterBlock;
    DispatchQueuePtr m_receiveFilterQueue;
    bool m_receiveFilterAsync{false};
    QueueUdpSocketSendFilterBlock m_sendFilterBlock;
    DispatchQueuePtr m_sendFilterQueue;
    bool m_sendFilterAsync{false};
    uint32_t m_flags{0};
    uint16_t m_config{0};
    uint16_t m_max4ReceiveSize{9216};
    uint32_t m_max6ReceiveSize{9216};
    int m_socket4FD{-1};
    int m_socket6FD{-1};
    DispatchQueuePtr m_socketQueue;
    SourcePtr m_send4Source;
    SourcePtr m_send6Source;
    SourcePtr m_receive4Source;
    SourcePtr m_receive6Source;
    SourcePtr m_sendTimer;
    PacketPtr m_currentSend;
    std::deque<PacketPtr> m_sendQueue;
    bool m_dequeuingSend{false};
    bool m_dequeueSendAgain{false};
    // Datagrams of this length or longer are not sent as segments of one message (sendRunAtOnce).
    size_t m_segmentLimit{SIZE_MAX};
    uint64_t m_socket4FDBytesAvailable{0};
    uint64_t m_socket6FDBytesAvailable{0};
    uint32_t m_pendingFilterOperations{0};
    uint64_t m_receiveWakeups{0};
    std::vector<uint8_t> m_receiveScratch;
    // Filled on first demand by the queries (hence mutable).
    mutable AddressInfo m_cachedLocal4;
    mutable AddressInfo m_cachedLocal6;
    mutable AddressInfo m_cachedConnected;
    mutable int m_cachedConnectedFamily{0};
    // Its address is the queue-specific key that tells code it runs on the socket queue.
    const void* m_isOnSocketQueueOrTargetQueueKey{&m_isOnSocketQueueOrTargetQueueKey};
    std::shared_ptr<platform::ReadStream> m_readStream4;
    std::shared_ptr<platform::ReadStream> m_readStream6;
    std::shared_ptr<platform::WriteStream> m_writeStream4;
    std::shared_ptr<platform::WriteStream> m_writeStream6;
    platform::Value m_userData;
};
