#pragma once
// QueueSocket: an asynchronous TCP socket (IPv4, IPv6 or a unix-domain path) whose whole state lives on
// one private serial dispatch queue, the socket queue. Callers queue connect, read, write, TLS and
// disconnect requests from any thread; the socket performs them on its queue and reports to a delegate
// by posting callbacks asynchronously onto the delegate queue the caller chose (serial or concurrent).
//
// Promises:
// - Reaching the socket queue: inline when the caller already runs on it (or on a queue marked with
//   markSocketQueueTargetQueue), otherwise synchronously for queries, connect, listen, disconnect,
//   performBlock and the synchronous setters, asynchronously for plain setters and queued requests.
//   Requests from one thread therefore take effect in the order made. A synchronous call never
//   deadlocks on the socket's own queue.
// - Every delegate callback is optional (QueueSocketDelegate::respondsTo decides), is sent only while a
//   delegate queue is set, and is posted asynchronously; the socket never waits for the delegate.
// - Every failure after a connect or listen has started ends in one close and at most one
//   socketDidDisconnect. A malformed read or write request is dropped without any report.
// - The delegate is held weakly; the delegate queue, the socket queue and the user data strongly.
//   Destroying the socket closes it first; the disconnect callback it causes carries a null socket.
// Not promised: an order between callbacks on a concurrent delegate queue.

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSource.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"
#include "platform/net/SocketStream.h"
#include "platform/security/SecurityStatus.h"
#include "platform/security/TlsContext.h"
#include "platform/security/TlsTrust.h"
#include "sockets/common/Packets.h"
#include "sockets/common/PreBuffer.h"
#include "sockets/common/SharedBytes.h"
#include "sockets/queue/QueueSocketDelegate.h"
#include "sockets/queue/QueueSocketSpares.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <vector>

using QueueReadPacket = sockets::ReadPacket;
using QueueWritePacket = sockets::WritePacket;
using QueueSpecialPacket = sockets::SpecialPacket;
using QueueSocketPreBuffer = sockets::PreBuffer;

inline constexpr const char* QueueSocketErrorDomain = "QueueSocketErrorDomain";

enum QueueSocketError : int64_t {
    QueueSocketNoError = 0,
    QueueSocketBadConfigError = 1,
    QueueSocketBadParamError = 2,
    QueueSocketConnectTimeoutError = 3,
    QueueSocketReadTimeoutError = 4,
    QueueSocketWriteTimeoutError = 5,
    QueueSocketReadMaxedOutError = 6,
    QueueSocketClosedError = 7,
    QueueSocketOtherError = 8,
};

// Keys of the settings dictionary of startTLS, besides the platform's kCFStreamSSL* keys.
inline constexpr const char* QueueSocketManuallyEvaluateTrust = "QueueSocketManuallyEvaluateTrust";
inline constexpr const char* QueueSocketUseCFStreamForTLS = "QueueSocketUseCFStreamForTLS";
inline constexpr const char* QueueSocketSSLPeerID = "QueueSocketSSLPeerID";
inline constexpr const char* QueueSocketSSLProtocolVersionMin = "QueueSocketSSLProtocolVersionMin";
inline constexpr const char* QueueSocketSSLProtocolVersionMax = "QueueSocketSSLProtocolVersionMax";
inline constexpr const char* QueueSocketSSLSessionOptionFalseStart = "QueueSocketSSLSessionOptionFalseStart";
inline constexpr const char* QueueSocketSSLSessionOptionSendOneByteRecord =
    "QueueSocketSSLSessionOptionSendOneByteRecord";
inline constexpr const char* QueueSocketSSLCipherSuites = "QueueSocketSSLCipherSuites";

class QueueSocket final : public platform::Object {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    using DispatchQueuePtr = std::shared_ptr<platform::DispatchQueue>;

    // Implemented in: QueueSocket.cpp (creation, delegate, configuration, socket-queue access),
    // +Connecting.cpp (connecting, lookupHost), +Accepting.cpp, +Closing.cpp (disconnecting),
    // +Addresses.cpp (address helpers, backgrounding), +Reading.cpp, +Writing.cpp, +TLS.cpp,
    // +Sources.cpp (connection queries), +StreamThread.cpp.

    // ---- Creation (all end in the designated form; a null socket queue means a queue of its own,
    // labelled "QueueSocket"; a concurrent one given is put behind a serial queue of the socket's) ----
    static QueueSocketPtr create();                             // init
    static QueueSocketPtr create(DispatchQueuePtr socketQueue); // initWithSocketQueue:
    static QueueSocketPtr create(const QueueSocketDelegatePtr& delegate, DispatchQueuePtr delegateQueue);
    static QueueSocketPtr create(const QueueSocketDelegatePtr& delegate, DispatchQueuePtr delegateQueue,
                                 DispatchQueuePtr socketQueue);
    QueueSocket(PrivateTag, const QueueSocketDelegatePtr& delegate, DispatchQueuePtr delegateQueue,
                DispatchQueuePtr socketQueue);
    ~QueueSocket() override;

    // ---- Delegate, queues, user data ----
    QueueSocketDelegatePtr delegate() const;
    void setDelegate(const QueueSocketDelegatePtr& delegate);
    void synchronouslySetDelegate(const QueueSocketDelegatePtr& delegate);
    DispatchQueuePtr delegateQueue() const;
    void setDelegateQueue(DispatchQueuePtr delegateQueue);
    void synchronouslySetDelegateQueue(DispatchQueuePtr delegateQueue);
    void getDelegate(QueueSocketDelegatePtr* delegatePtr, DispatchQueuePtr* delegateQueuePtr) const;
    void setDelegate(const QueueSocketDelegatePtr& delegate, DispatchQueuePtr delegateQueue);
    void synchronouslySetDelegate(const QueueSocketDelegatePtr& delegate, DispatchQueuePtr delegateQueue);

    platform::Value userData() const;
    void setUserData(platform::Value userData);

    // ---- Configuration (kept across closes; takes effect at the next connect or listen) ----
    bool isIPv4Enabled() const;
    void setIPv4Enabled(bool flag);
    bool isIPv6Enabled() const;
    void setIPv6Enabled(bool flag);
    bool isIPv4PreferredOverIPv6() const;
    void setIPv4PreferredOverIPv6(bool flag);
    bool autoDisconnectOnClosedReadStream() const;
    void setAutoDisconnectOnClosedReadStream(bool flag);

    // ---- Socket-queue access ----
    // Code running on `queue` counts as on the socket queue (use for queues the socket queue targets).
    void markSocketQueueTargetQueue(const DispatchQueuePtr& socketQueuesPreConfiguredTargetQueue);
    void unmarkSocketQueueTargetQueue(const DispatchQueuePtr& socketQueuesPreviouslyConfiguredTargetQueue);
    // Runs `block` on the socket queue and returns when it has run.
    void performBlock(const std::function<void()>& block);

    // Only from the socket queue (inside performBlock); elsewhere -1, null or false.
    int socketFD() const;
    int socket4FD() const;
    int socket6FD() const;
    std::shared_ptr<platform::ReadStream> readStream();
    std::shared_ptr<platform::WriteStream> writeStream();
    platform::TlsContextPtr sslContext() const;
    // Only from the socket queue (elsewhere false, nothing changed), on a connected socket: marks both
    // streams of the pair (made if need be) for the voice service; the first form also opens them.
    bool enableBackgroundingOnSocket();
    bool enableBackgroundingOnSocketWithCaveat();

    // ---- Connecting (true once the attempt has started; the outcome arrives as socketDidConnectToHost /
    // socketDidConnectToUrl or socketDidDisconnect). A negative timeout means none. ----
    bool connectToHost(const std::string& host, uint16_t port, platform::ErrorPtr* errPtr = nullptr);
    bool connectToHost(const std::string& host, uint16_t port, double timeout,
                       platform::ErrorPtr* errPtr = nullptr);
    bool connectToHost(const std::string& host, uint16_t port, const std::optional<std::string>& interface,
                       double timeout, platform::ErrorPtr* errPtr = nullptr);
    bool connectToAddress(const platform::Data& remoteAddr, platform::ErrorPtr* errPtr = nullptr);
    bool connectToAddress(const platform::Data& remoteAddr, double timeout,
                          platform::ErrorPtr* errPtr = nullptr);
    bool connectToAddress(const platform::Data& remoteAddr, const std::optional<std::string>& interface,
                          double timeout, platform::ErrorPtr* errPtr = nullptr);
    bool connectToUrl(const platform::URLPtr& url, double timeout, platform::ErrorPtr* errPtr = nullptr);

    // ---- Accepting ----
    bool acceptOnPort(uint16_t port, platform::ErrorPtr* errPtr = nullptr);
    // A null interface listens on every address; "localhost"/"loopback", an interface name or an IP
    // address (IPv6 literals included), optionally followed by ":port" for the IPv4 forms and names.
    bool acceptOnInterface(const std::optional<std::string>& interface, uint16_t port,
                           platform::ErrorPtr* errPtr = nullptr);
    bool acceptOnUrl(const platform::URLPtr& url, platform::ErrorPtr* errPtr = nullptr);

    // ---- Disconnecting ----
    // Closes now (synchronously); the delegate read after the close hears socketDidDisconnect with a
    // null error if the socket had started. Nothing happens on a socket that never started.
    void disconnect();
    // Always asynchronous: refuse new requests, close once the named side(s) have drained.
    void disconnectAfterReading();
    void disconnectAfterWriting();
    void disconnectAfterReadingAndWriting();

    // ---- Reading (a negative timeout means none; a caller's buffer receives the bytes from `offset` and
    // is shared by the data delivered; bad arguments drop the request without a report) ----
    void readDataWithTimeout(double timeout, int64_t tag);
    void readDataWithTimeout(double timeout, std::shared_ptr<platform::MutableData> buffer, uint64_t offset,
                             int64_t tag);
    void readDataWithTimeout(double timeout, std::shared_ptr<platform::MutableData> buffer, uint64_t offset,
                             uint64_t length, int64_t tag);
    void readDataToLength(uint64_t length, double timeout, int64_t tag);
    void readDataToLength(uint64_t length, double timeout, std::shared_ptr<platform::MutableData> buffer,
                          uint64_t offset, int64_t tag);
    void readDataToData(const platform::Data& data, double timeout, int64_t tag);
    void readDataToData(const platform::Data& data, double timeout,
                        std::shared_ptr<platform::MutableData> buffer, uint64_t offset, int64_t tag);
    void readDataToData(const platform::Data& data, double timeout, uint64_t length, int64_t tag);
    void readDataToData(const platform::Data& data, double timeout,
                        std::shared_ptr<platform::MutableData> buffer, uint64_t offset, uint64_t length,
                        int64_t tag);
    // Fraction done of the current read (NaN with zeros when none); out-pointers may be null.
    float progressOfReadReturningTag(int64_t* tagPtr, uint64_t* donePtr, uint64_t* totalPtr) const;

    // ---- Writing (empty data is dropped; the data is retained, not copied) ----
    void writeData(const platform::Data& data, double timeout, int64_t tag);
    float progressOfWriteReturningTag(int64_t* tagPtr, uint64_t* donePtr, uint64_t* totalPtr) const;

    // ---- TLS: queued behind every read and write queued before it. `tlsSettings` is a dictionary
    // (nil: no settings) of kCFStreamSSL* and QueueSocket* keys. ----
    void startTLS(platform::Value tlsSettings);

    // ---- Connection queries (any thread) ----
    bool isDisconnected() const;
    bool isConnected() const;
    std::optional<std::string> connectedHost() const;
    uint16_t connectedPort() const;
    platform::URLPtr connectedUrl() const;
    std::optional<std::string> localHost() const;
    uint16_t localPort() const;
    std::optional<platform::Data> connectedAddress() const;
    std::optional<platform::Data> localAddress() const;
    bool isIPv4() const;
    bool isIPv6() const;
    bool isSecure() const;

    // ---- Address helpers (any thread). Addresses are socket-address records: 16 bytes for IPv4,
    // 28 for IPv6, the sockaddr_un size for a unix-domain path. ----
    static std::string hostFromSockaddr4(const sockaddr_in& sockaddr4);
    static std::string hostFromSockaddr6(const sockaddr_in6& sockaddr6);
    static uint16_t portFromSockaddr4(const sockaddr_in& sockaddr4);
    static uint16_t portFromSockaddr6(const sockaddr_in6& sockaddr6);
    static platform::URLPtr urlFromSockaddrUN(const sockaddr_un& sockaddrUN);
    static bool isIPv4Address(const platform::Data& address);
    static bool isIPv6Address(const platform::Data& address);
    static bool getHost(std::string* hostPtr, uint16_t* portPtr, sa_family_t* afPtr,
                        const platform::Data& address);
    static bool getHost(std::string* hostPtr, uint16_t* portPtr, const platform::Data& address);
    static std::optional<std::string> hostFromAddress(const platform::Data& address);
    static uint16_t portFromAddress(const platform::Data& address);
    static platform::Data CRLFData();
    static platform::Data CRData();
    static platform::Data LFData();
    static platform::Data ZeroData();
    // Resolves a host to its addresses ("localhost" and "loopback" without asking the resolver); empty
    // with an error in the resolver's domain when it fails. Blocks; any thread but a socket queue.
    static std::vector<platform::Data> lookupHost(const std::string& host, uint16_t port,
                                                  platform::ErrorPtr* errPtr = nullptr);

private:
    using PacketPtr = std::shared_ptr<sockets::Packet>;
    using SourcePtr = std::shared_ptr<platform::DispatchSource>;

    // Bits of the state word and of the configuration word.
    enum Flag : uint32_t {
        FlagStarted = 1u << 0,
        FlagConnected = 1u << 1,
        FlagForbidRequests = 1u << 2,
        FlagReadsPaused = 1u << 3,
        FlagWritesPaused = 1u << 4,
        FlagCloseAfterReads = 1u << 5,
        FlagCloseAfterWrites = 1u << 6,
        FlagCanAcceptBytes = 1u << 7,
        FlagReadSourceSuspended = 1u << 8,
        FlagWriteSourceSuspended = 1u << 9,
        FlagTLSQueued = 1u << 10,
        FlagStartingReadTLS = 1u << 11,
        FlagStartingWriteTLS = 1u << 12,
        FlagSecure = 1u << 13,
        FlagReadEOF = 1u << 14,
        FlagReadStreamClosed = 1u << 15,
        FlagDeallocating = 1u << 16,
        FlagStreamsScheduled = 1u << 17,
        FlagTLSByCFStream = 1u << 18,
        FlagSecureBytesAvailable = 1u << 19,
    };
    enum Config : uint16_t {
        ConfigIPv4Disabled = 1u << 0,
        ConfigIPv6Disabled = 1u << 1,
        ConfigPreferIPv6 = 1u << 2,
        ConfigAllowHalfDuplex = 1u << 3,
    };

    // ---- Queue plumbing (QueueSocket.cpp) ----
    QueueSocketPtr self();
    std::weak_ptr<QueueSocket> weakSelf();
    bool isOnSocketQueue() const;
    // Runs `block` on the socket queue: inline when already there, else synchronously.
    void runOnSocketQueue(const std::function<void()>& block) const;
    // Posts `call` to the delegate queue when one is set and the delegate responds to `selector`; the
    // delegate is captured strongly now. The call travels in the block itself, so a report costs one
    // allocation, made here and freed on the delegate's side. lastStep: the caller does nothing long
    // after it (DispatchQueue::asyncLast).
    template <class Call> void notifyDelegate(const char* selector, Call call, bool lastStep = false) const {
        auto delegate = m_delegate.lock();
        if (!m_delegateQueue || !delegate || !delegate->respondsTo(selector))
            return;
        auto report = [delegate = std::move(delegate),
                       call = std::optional<Call>(std::move(call))]() mutable {
            (*call)(delegate);
            // Released while still on the queue: a delegate (or socket) whose last reference goes
            // here may call back into the socket from its destructor.
            call.reset();
            delegate.reset();
        };
        if (lastStep)
            m_delegateQueue->asyncLast(std::move(report));
        else
            m_delegateQueue->async(std::move(report));
    }

    // ---- Connecting (QueueSocket+Connecting.cpp) ----
    bool preConnectWithInterface(const std::optional<std::string>& interface, platform::ErrorPtr* errPtr);
    bool preConnectWithUrl(const platform::URLPtr& url, platform::ErrorPtr* errPtr);
    // What every connect and accept checks first (`verb` names which in the text); null when fine.
    platform::ErrorPtr startError(const char* verb, bool needsAFamily) const;
    // Whether an interface's addresses fit the enabled families; null when they do.
    platform::ErrorPtr interfaceError(const std::optional<platform::Data>& interface4,
                                      const std::optional<platform::Data>& interface6) const;
    void lookupDidSucceed(int aStateIndex, std::optional<platform::Data> address4,
                          std::optional<platform::Data> address6);
    void lookupDidFail(int aStateIndex, const platform::ErrorPtr& error);
    bool connectWithAddress4(const std::optional<platform::Data>& address4,
                             const std::optional<platform::Data>& address6, platform::ErrorPtr* errPtr);
    bool connectWithAddressUN(const platform::Data& address, platform::ErrorPtr* errPtr);
    // The non-blocking connect of a fresh descriptor: completes now, or arms the connect source.
    bool startConnect(int socketFD, const platform::Data& address);
    void connectSourceFired(int aStateIndex);
    void endConnectSource();
    void didConnect(int aStateIndex);
    void didNotConnect(int aStateIndex, const platform::ErrorPtr& error);
    void startConnectTimeout(double timeout);
    void endConnectTimeout();
    void doConnectTimeout();
    void streamSetupPartOne();
    void streamSetupPartTwo(int aStateIndex);

    // ---- Closing and errors (QueueSocket+Closing.cpp) ----
    // Also runs from the destructor (FlagDeallocating set): nothing it calls may use self() then.
    void closeWithError(const platform::ErrorPtr& error);
    void disconnectAfter(uint32_t closeAfter);
    // Whether a close after reading or writing was asked for and every half it names has drained.
    bool drainedForClose() const;
    void endRequests();
    void closeStreams();
    void closeTLS();
    // Closes the descriptors, or cancels their sources, whose cancel handlers close them.
    void releaseDescriptors();
    void cancelSources();
    // Closes `fd` and sets it to -1; false when it was -1 already.
    static bool closeDescriptor(int& fd);
    static platform::ErrorPtr badConfigError(const std::string& errMsg);
    static platform::ErrorPtr badParamError(const std::string& errMsg);
    static platform::ErrorPtr gaiError(int gai_error);
    // errno must still hold the failing call's value: call right after it, on the same thread.
    static platform::ErrorPtr errnoErrorWithReason(const std::string& reason);
    static platform::ErrorPtr errnoError();
    static platform::ErrorPtr sslError(platform::OSStatus ssl_error);
    static platform::ErrorPtr connectTimeoutError();
    static platform::ErrorPtr readMaxedOutError();
    static platform::ErrorPtr readTimeoutError();
    static platform::ErrorPtr writeTimeoutError();
    static platform::ErrorPtr connectionClosedError();
    static platform::ErrorPtr otherError(const std::string& errMsg);

    // ---- Accepting (QueueSocket+Accepting.cpp) ----
    bool listenOnInterfaces(const std::optional<platform::Data>& interface4,
                            const std::optional<platform::Data>& interface6, platform::ErrorPtr* errPtr);
    int createListeningSocket(int domain, const platform::Data& interfaceAddr, platform::ErrorPtr* errPtr);
    SourcePtr makeAcceptSource(int listeningFD);
    bool doAccept(int parentSocketFD);

    // ---- Address parsing (QueueSocket+Addresses.cpp) ----
    void getInterfaceAddress4(std::optional<platform::Data>* interfaceAddr4Ptr,
                              std::optional<platform::Data>* interfaceAddr6Ptr,
                              const std::string& interfaceDescription, uint16_t port) const;
    std::optional<platform::Data> getInterfaceAddressFromUrl(const platform::URLPtr& url) const;

    // ---- What the read and write halves share (QueueSocket+Requests.cpp) ----
    // One half's members, flags and steps; kReadHalf and kWriteHalf are the two.
    struct Half;
    static const Half kReadHalf;
    static const Half kWriteHalf;
    static const Half& otherHalf(const Half& half);
    // Write requests wait in the write half's intake, posted from any thread without a lock. The socket
    // queue keeps the intake (its posters then wake nobody) while a write is under way or the connection
    // is still to come: what ends either dequeues again and takes them. Otherwise the poster that finds
    // the intake idle wakes the socket queue to take it. Read requests are posted as blocks, as before:
    // through an intake they made a transfer slower (measured), the socket queue then going idle between
    // reads and the next bytes reaching it through the descriptor watch's thread.
    void enqueue(const Half& half, PacketPtr packet);
    // Moves what was posted to the half into its queue, in posting order; dropped unless the socket
    // takes requests. Blocks that act on the queues in request order take the intakes first.
    void takeRequests(const Half& half);
    // Runs `block` on the socket queue at its place among the requests made before and after it
    // (posted to the intakes or not), for blocks that change which requests the socket takes or queue
    // one of their own.
    void runInRequestOrder(std::function<void(QueueSocket&)> block);
    // After a take outside maybeDequeue: gives the intake back unless the half keeps it.
    void settleRequests(const Half& half);
    // Gives the half's intake back; false when something was posted since the last take.
    bool giveBackIntake(const Half& half);
    // Empties both intakes and gives them back (closing).
    void dropRequests();
    // Starts the next request of the half; true when there was none and no close was asked for.
    bool maybeDequeue(const Half& half);
    float progressOf(const Half& half, int64_t* tagPtr, uint64_t* donePtr, uint64_t* totalPtr) const;
    // Turns the half's source off when it is ready: level-triggered, it would fire again at once.
    void quietSource(const Half& half);
    // The half has reached the TLS marker: nothing moves until the other half has too.
    void holdForTLS(const Half& half);
    void endCurrent(const Half& half);
    void setupTimerWithTimeout(const Half& half, double timeout);
    void doTimeout(const Half& half);
    void doTimeoutWithExtension(const Half& half, double timeoutExtension);
    bool hasBytesToRead() const { return m_socketFDBytesAvailable > 0; }
    bool hasRoomToWrite() const { return (m_flags & FlagCanAcceptBytes) != 0; }

    // ---- Reading (QueueSocket+Reading.cpp) ----
    struct ReadStep;
    struct ReadArrival;
    void maybeDequeueRead();
    // A spare buffer for a read made without the caller's (null with one).
    std::shared_ptr<platform::MutableData>
    readBufferFor(const std::shared_ptr<platform::MutableData>& callerBuffer);
    void flushSSLBuffers();
    uint64_t sslBytesPending() const;
    void doReadData();
    bool estimateReadableBytes(uint64_t* estimate);
    void readFromPreBuffer(ReadStep& step);
    void readFromTransport(ReadStep& step, uint64_t estimate);
    ReadArrival readFromStreamPair(ReadStep& step);
    ReadArrival readThroughTLS(ReadStep& step, uint64_t estimate);
    ReadArrival readFromSocket(ReadStep& step, uint64_t estimate);
    uint64_t readAheadRoom(const sockets::Packet& current) const;
    uint8_t* readTarget(ReadStep& step, uint64_t length, bool intoPreBuffer);
    void acceptBytesRead(ReadStep& step, const ReadArrival& arrival);
    void acceptTermBytes(ReadStep& step, const ReadArrival& arrival);
    void copyFromPreBuffer(ReadStep& step, uint64_t length);
    void finishReadStep(ReadStep& step);
    void doReadEOF();
    void completeCurrentRead();

    // ---- Writing (QueueSocket+Writing.cpp) ----
    struct WriteStep;
    void maybeDequeueWrite();
    void doWriteData();
    WriteStep writeToStreamPair(const sockets::WritePacket& packet);
    WriteStep writeThroughTLS(const sockets::WritePacket& packet);
    bool confirmCachedTLSWrite(WriteStep& step, const sockets::WritePacket& packet);
    WriteStep writeToSocket(const sockets::WritePacket& packet);
    void finishWriteStep(sockets::WritePacket& packet, const WriteStep& step);
    void completeCurrentWrite();
    void completeSentAhead(uint64_t bytes);
    void notifyDidWrite(int64_t tag, std::optional<uint64_t> partLength = std::nullopt);

    // ---- Sources and queries (QueueSocket+Sources.cpp) ----
    void setupReadAndWriteSourcesForNewlyConnectedSocket(int socketFD);
    void suspendReadSource();
    void resumeReadSource();
    void suspendWriteSource();
    void resumeWriteSource();
    bool usingCFStreamForTLS() const;
    bool usingSecureTransportForTLS() const;
    // The connected descriptor, whichever family it is; -1 when none.
    int activeSocketFD() const;
    std::optional<std::string> connectedHost4() const;
    std::optional<std::string> connectedHost6() const;
    uint16_t connectedPort4() const;
    uint16_t connectedPort6() const;
    // Both from one look at the peer's address (no host, port 0 without an IP connection).
    std::pair<std::optional<std::string>, uint16_t> connectedHostAndPort() const;
    std::optional<std::string> localHost4() const;
    std::optional<std::string> localHost6() const;
    uint16_t localPort4() const;
    uint16_t localPort6() const;
    std::optional<std::string> connectedHostFromSocket4(int socketFD) const;
    std::optional<std::string> connectedHostFromSocket6(int socketFD) const;
    uint16_t connectedPortFromSocket4(int socketFD) const;
    uint16_t connectedPortFromSocket6(int socketFD) const;
    platform::URLPtr connectedUrlFromSocketUN(int socketFD) const;
    std::optional<std::string> localHostFromSocket4(int socketFD) const;
    std::optional<std::string> localHostFromSocket6(int socketFD) const;
    uint16_t localPortFromSocket4(int socketFD) const;
    uint16_t localPortFromSocket6(int socketFD) const;

    // ---- TLS (QueueSocket+TLS.cpp) ----
    void maybeStartTLS();
    void ssl_startTLS();
    void ssl_continueSSLHandshake();
    // Both halves have passed the TLS marker: report and go on with the queued requests.
    void didSecure();
    void ssl_shouldTrustPeer(bool shouldTrust, int aStateIndex);
    platform::OSStatus sslReadWithBuffer(void* buffer, size_t* bufferLength);
    platform::OSStatus sslWriteWithBuffer(const void* buffer, size_t* bufferLength);
    void cf_startTLS();
    void cf_finishSSLHandshake();
    void cf_abortSSLHandshake(const platform::ErrorPtr& error);

    // ---- Stream pair and stream thread (QueueSocket+StreamThread.cpp) ----
    bool createReadAndWriteStream();
    bool registerForStreamCallbacksIncludingReadWrite(bool includeReadWrite);
    // Moves a stream event of one half to the socket queue, for streamEvent.
    std::function<void(std::weak_ptr<platform::Object>, platform::StreamEventType, platform::ErrorPtr)>
    streamEventForwarder(const Half& half);
    void streamEvent(const Half& half, platform::StreamEventType type, const platform::ErrorPtr& error);
    bool readStreamHasBytes();
    bool writeStreamHasRoom();
    // With `opened`, the pair is also opened on the stream thread in the same visit (an open from
    // elsewhere wakes that thread once per stream) and `*opened` tells whether both opened.
    bool addStreamsToRunLoop(bool* opened = nullptr);
    static void wakeStreamThreadAhead();
    void removeStreamsFromRunLoop();
    bool openStreams();
    bool enableBackgroundingOnSocketWithCaveat(bool caveat);

    // ---- State: every field belongs to the socket queue ----
    uint32_t m_flags{0};
    uint16_t m_config{0};
    std::weak_ptr<QueueSocketDelegate> m_delegate;
    DispatchQueuePtr m_delegateQueue;
    int m_socket4FD{-1};
    int m_socket6FD{-1};
    int m_socketUN{-1};
    platform::URLPtr m_socketUrl;
    int m_stateIndex{0};
    std::optional<platform::Data> m_connectInterface4;
    std::optional<platform::Data> m_connectInterface6;
    std::optional<platform::Data> m_connectInterfaceUN;
    DispatchQueuePtr m_socketQueue;
    SourcePtr m_accept4Source;
    SourcePtr m_accept6Source;
    SourcePtr m_acceptUNSource;
    SourcePtr m_connectTimer;
    // Watches a non-blocking connect under way; it never closes the descriptor.
    SourcePtr m_connectSource;
    SourcePtr m_readSource;
    SourcePtr m_writeSource;
    SourcePtr m_readTimer;
    SourcePtr m_writeTimer;
    // Request records come from spares the socket keeps. Declared before the read buffers, which take
    // their bookkeeping from it.
    const std::shared_ptr<sockets::RecordRecycler> m_records{std::make_shared<sockets::RecordRecycler>()};
    // Buffers of reads made without one, given back once whoever holds their bytes lets go.
    struct ReadBuffers;
    static std::shared_ptr<ReadBuffers> makeReadBuffers(std::shared_ptr<sockets::RecordRecycler> records);
    std::shared_ptr<ReadBuffers> m_readBuffers{makeReadBuffers(m_records)};
    template <class... Arguments>
    std::shared_ptr<sockets::ReadPacket> makeReadPacket(Arguments&&... arguments);
    std::deque<PacketPtr> m_readQueue;
    std::deque<PacketPtr> m_writeQueue;
    platform::detail::DrainIntake<PacketPtr> m_writeIntake;
    // Blocks of runInRequestOrder posted and not yet run: while there are any, requests are posted as
    // blocks too.
    std::atomic<int> m_orderedBlocks{0};
    PacketPtr m_currentRead;
    PacketPtr m_currentWrite;
    uint64_t m_socketFDBytesAvailable{0};
    std::unique_ptr<QueueSocketPreBuffer> m_preBuffer;
    std::shared_ptr<platform::ReadStream> m_readStream;
    std::shared_ptr<platform::WriteStream> m_writeStream;
    platform::TlsContextPtr m_sslContext;
    std::unique_ptr<QueueSocketPreBuffer> m_sslPreBuffer;
    uint64_t m_sslWriteCachedLength{0};
    platform::OSStatus m_sslErrCode{0};
    platform::OSStatus m_lastSSLHandshakeError{0};
    // Its address is the queue-specific key that tells code it runs on the socket queue.
    const void* m_isOnSocketQueueOrTargetQueueKey{&m_isOnSocketQueueOrTargetQueueKey};
    platform::Value m_userData;

    // Reading, writing, sources, TLS and streams
    // Whether a stream event's stream is still one of this socket's pair.
    bool isCurrentStream(const std::weak_ptr<platform::Object>& stream) const;
    // A stream reported an error or its end (on the socket queue).
    void streamDidFail(const platform::ErrorPtr& streamError, bool endOfStream);
};
