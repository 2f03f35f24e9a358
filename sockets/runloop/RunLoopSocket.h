#pragma once
// RunLoopSocket: an asynchronous TCP socket driven by one thread's run loop. It listens (IPv4 and IPv6 on
// one port), connects by host name or by socket address, keeps queues of tagged reads and writes with
// time-outs the delegate may extend, starts TLS in order with them, and tells a delegate
// (RunLoopSocketDelegate.h) every event.
//
// Promises: platform events, timers and deferred calls run on the bound run loop in the socket's modes,
// and so do the delegate calls; work asked for inside a callback is deferred, never re-entered. A
// started socket (listening or connecting) ends in exactly one onSocketDidDisconnect; a close with an
// error first tells onSocket:willDisconnectWithError: with the interrupted read's bytes recoverable
// through unreadData(). Bad requests are dropped silently. The socket holds its delegate strongly;
// releasing the socket, even inside a callback, closes it. Each descriptor has one owner that closes it.
// Not promised: any use from a thread other than the bound run loop's (checkForThreadSafety tells).
// Misuse (connect or listen without a delegate, or while not disconnected) raises RunLoopSocketException.

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"
#include "platform/net/CFSocket.h"
#include "platform/net/SocketStream.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"
#include "sockets/runloop/DelegateCall.h"
#include "sockets/runloop/RunLoopBinding.h"
#include "sockets/runloop/RunLoopPackets.h"
#include "sockets/runloop/RunLoopSocketDelegate.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <vector>

inline constexpr const char* RunLoopSocketErrorDomain = "RunLoopSocketErrorDomain";
inline constexpr const char* RunLoopSocketException = "RunLoopSocketException";

enum RunLoopSocketError : int64_t {
    RunLoopSocketCFSocketError = -1,
    RunLoopSocketNoError = 0,
    RunLoopSocketCanceledError = 1,
    RunLoopSocketConnectTimeoutError = 2,
    RunLoopSocketReadMaxedOutError = 3,
    RunLoopSocketReadTimeoutError = 4,
    RunLoopSocketWriteTimeoutError = 5,
};

class RunLoopSocket final : public platform::Object {
    struct PrivateTag {};

public:
    using RunLoopPtr = std::shared_ptr<platform::RunLoop>;
    using Modes = std::vector<platform::RunLoopMode>;
    using BufferPtr = std::shared_ptr<platform::MutableData>;

    // Implemented in: RunLoopSocket.cpp (creation, accessors, delegate, errors), +RunLoop.cpp,
    // +Closing.cpp, +Callbacks.cpp (platform events), +Accepting.cpp, +Connecting.cpp, +Queues.cpp (what
    // reads and writes share), +Reading.cpp, +Writing.cpp (writes and TLS), +Addresses.cpp.

    // ---- Creation (init, initWithDelegate:, initWithDelegate:userData:) ----
    static RunLoopSocketPtr create(RunLoopSocketDelegatePtr delegate = nullptr, int64_t userData = 0);
    RunLoopSocket(PrivateTag, RunLoopSocketDelegatePtr delegate, int64_t userData);
    ~RunLoopSocket() override;

    RunLoopSocketDelegatePtr delegate() const { return m_delegate; }
    void setDelegate(RunLoopSocketDelegatePtr delegate) { m_delegate = std::move(delegate); }
    int64_t userData() const { return m_userData; }
    void setUserData(int64_t userData) { m_userData = userData; }
    bool canSafelySetDelegate() const;

    platform::CFSocketPtr getCFSocket() const { return m_socket4 ? m_socket4 : m_socket6; }
    std::shared_ptr<platform::ReadStream> getCFReadStream() const { return m_readStream; }
    std::shared_ptr<platform::WriteStream> getCFWriteStream() const { return m_writeStream; }

    // Raises RunLoopSocketException when a run loop is bound that is not the calling thread's.
    void checkForThreadSafety() const;
    void enablePreBuffering();
    bool isDisconnected() const;
    bool isConnected() const;

    // ---- Run loop (false for a null loop, an empty list, a null mode or the last mode) ----
    Modes runLoopModes() const { return m_binding.modes(); }
    bool moveToRunLoop(const RunLoopPtr& runLoop);
    bool setRunLoopModes(const Modes& runLoopModes);
    bool addRunLoopMode(const std::optional<platform::RunLoopMode>& runLoopMode);
    bool removeRunLoopMode(const std::optional<platform::RunLoopMode>& runLoopMode);

    // ---- Listening and connecting (a negative time-out means none) ----
    bool acceptOnPort(uint16_t port, platform::ErrorPtr* errPtr = nullptr);
    // No interface (or "") listens on every address; "localhost" or "loopback" on 127.0.0.1 and ::1;
    // anything else is resolved.
    bool acceptOnInterface(const std::optional<std::string>& interface, uint16_t port,
                           platform::ErrorPtr* errPtr = nullptr);
    bool connectToHost(const std::string& hostname, uint16_t port, platform::ErrorPtr* errPtr = nullptr);
    bool connectToHost(const std::string& hostname, uint16_t port, double timeout,
                       platform::ErrorPtr* errPtr = nullptr);
    bool connectToAddress(const platform::Data& remoteAddr, platform::ErrorPtr* errPtr = nullptr);
    bool connectToAddress(const platform::Data& remoteAddr, double timeout,
                          platform::ErrorPtr* errPtr = nullptr);
    // connectToAddress:viaInterfaceAddress:withTimeout:error:
    bool connectToAddress(const platform::Data& remoteAddr,
                          const std::optional<platform::Data>& interfaceAddr, double timeout,
                          platform::ErrorPtr* errPtr = nullptr);

    // ---- Closing ----
    void disconnect();
    void disconnectAfterReading();
    void disconnectAfterWriting();
    void disconnectAfterReadingAndWriting();
    // The interrupted read's bytes, the read-ahead bytes and what the stream still holds; only inside
    // onSocket:willDisconnectWithError:, nullopt elsewhere.
    std::optional<platform::Data> unreadData();

    // ---- Reading (a caller's buffer receives the bytes from `offset`; a refused request is dropped) ----
    void readDataWithTimeout(double timeout, int64_t tag);
    void readDataWithTimeout(double timeout, BufferPtr buffer, uint64_t offset, int64_t tag);
    void readDataWithTimeout(double timeout, BufferPtr buffer, uint64_t offset, uint64_t length, int64_t tag);
    void readDataToLength(uint64_t length, double timeout, int64_t tag);
    void readDataToLength(uint64_t length, double timeout, BufferPtr buffer, uint64_t offset, int64_t tag);
    void readDataToData(const std::optional<platform::Data>& data, double timeout, int64_t tag);
    void readDataToData(const std::optional<platform::Data>& data, double timeout, BufferPtr buffer,
                        uint64_t offset, int64_t tag);
    void readDataToData(const std::optional<platform::Data>& data, double timeout, uint64_t length,
                        int64_t tag);
    void readDataToData(const std::optional<platform::Data>& data, double timeout, BufferPtr buffer,
                        uint64_t offset, uint64_t length, int64_t tag);
    // Fraction done of the current read (1.0 without a length); NaN and zeros when none. Outs may be null.
    float progressOfReadReturningTag(int64_t* tag, uint64_t* done, uint64_t* total) const;

    // ---- Writing and TLS ----
    void writeData(const std::optional<platform::Data>& data, double timeout, int64_t tag);
    float progressOfWriteReturningTag(int64_t* tag, uint64_t* done, uint64_t* total) const;
    // Queued behind every read and write before it; nil settings mean an empty dictionary.
    void startTLS(const platform::Value& tlsSettings);

    static platform::Data CRLFData();
    static platform::Data CRData();
    static platform::Data LFData();
    static platform::Data ZeroData();

    // ---- Addresses (ports in host order; nullopt or 0 when unknown) ----
    std::optional<std::string> connectedHost() const;
    uint16_t connectedPort() const;
    std::optional<std::string> localHost() const;
    uint16_t localPort() const;
    std::optional<std::string> connectedHost4() const;
    std::optional<std::string> connectedHost6() const;
    uint16_t connectedPort4() const;
    uint16_t connectedPort6() const;
    std::optional<std::string> localHost4() const;
    std::optional<std::string> localHost6() const;
    uint16_t localPort4() const;
    uint16_t localPort6() const;
    std::optional<platform::Data> connectedAddress() const;
    std::optional<platform::Data> localAddress() const;
    bool isIPv4() const;
    bool isIPv6() const;
    std::string description() const override;

    // Raise NSInternalInconsistencyException when the system cannot write the address as text.
    static std::string hostFromAddress4(const sockaddr_in& address);
    static std::string hostFromAddress6(const sockaddr_in6& address);
    static uint16_t portFromAddress4(const sockaddr_in& address);
    static uint16_t portFromAddress6(const sockaddr_in6& address);

private:
    // The state word; close keeps kPreBuffering and clears the rest.
    enum Flag : uint16_t {
        kPreBuffering = 0x0001,
        kStarted = 0x0002,
        kReadStreamOpened = 0x0004,
        kWriteStreamOpened = 0x0008,
        kReadSideAtTls = 0x0010,
        kWriteSideAtTls = 0x0020,
        kNoNewRequests = 0x0040,
        kDisconnectAfterReads = 0x0080,
        kDisconnectAfterWrites = 0x0100,
        kClosingWithError = 0x0200,
        kReadDequeueScheduled = 0x0400,
        kWriteDequeueScheduled = 0x0800,
        kStreamCanAccept = 0x1000,
        kStreamHasBytes = 0x2000,
    };
    static constexpr uint16_t kDequeuesScheduled = kReadDequeueScheduled | kWriteDequeueScheduled;

    using TimerPtr = std::shared_ptr<platform::Timer>;
    using Deferred = sockets::RunLoopBinding::Deferred;
    using Step = void (RunLoopSocket::*)();
    using TimeoutQuestion = double (RunLoopSocketDelegate::*)(const RunLoopSocketPtr&, int64_t, double,
                                                              uint64_t);

    using RequestQueue = sockets::RunLoopRequestQueue; // the current one may be the TLS marker
    // What differs between the read and the write side of the shared steps.
    struct Direction {
        RequestQueue RunLoopSocket::*queue;
        platform::SocketStream* (*stream)(const RunLoopSocket& socket);
        uint16_t dequeueScheduled;
        uint16_t atTls;
        uint16_t disconnectAfter;
        uint16_t streamOpened;
        uint16_t streamReady; // the readiness event came and has not been used yet
        Deferred deferred;
        Step dequeue;
        Step serve;
        void (RunLoopSocket::*timedOut)(platform::Timer& timer);
        const char* streamName;
        const char* timeoutSelector;
        TimeoutQuestion timeoutQuestion;
        RunLoopSocketError timeoutCode;
        uint64_t (*total)(const sockets::RunLoopRequest& request);
    };
    static const Direction kReading;
    static const Direction kWriting;

    enum class Peer { Local, Remote };
    enum class PassKind { NonTerm, FromPreBuffer, ReadAhead, Plain };
    struct ReadOutcome {
        uint64_t total{0};
        bool done{false};
        bool streamError{false};
        bool maxedOut{false};
    };

    // ---- Delegate and errors (RunLoopSocket.cpp) ----
    RunLoopSocketPtr self();
    void tellDelegate(const char* selector,
                      const std::function<void(RunLoopSocketDelegate&, const RunLoopSocketPtr&)>& call);
    template <typename Result, typename Call>
    Result askDelegate(const char* selector, Result fallback, Call call);
    static platform::ErrorPtr socketError(RunLoopSocketError code);
    platform::ErrorPtr getErrnoError() const;
    platform::ErrorPtr getSocketError() const;
    platform::ErrorPtr getStreamError() const;
    platform::ErrorPtr getAbortError() const;
    platform::ErrorPtr getConnectTimeoutError() const;
    platform::ErrorPtr getReadMaxedOutError() const;
    platform::ErrorPtr getReadTimeoutError() const;
    platform::ErrorPtr getWriteTimeoutError() const;
    static platform::ErrorPtr errorFromCFStreamError(const platform::StreamError& error);

    // ---- Binding (RunLoopSocket+RunLoop.cpp) ----
    sockets::RunLoopBinding::Scheduled scheduled() const;
    void runLoopAddSource(const std::shared_ptr<platform::RunLoopFdSource>& source);
    void runLoopRemoveSource(const std::shared_ptr<platform::RunLoopFdSource>& source);
    void runLoopAddTimer(const TimerPtr& timer);
    void runLoopRemoveTimer(const TimerPtr& timer);
    void runLoopAddSource(const std::shared_ptr<platform::RunLoopFdSource>& source,
                          const platform::RunLoopMode& mode);
    void runLoopRemoveSource(const std::shared_ptr<platform::RunLoopFdSource>& source,
                             const platform::RunLoopMode& mode);
    void runLoopAddTimer(const TimerPtr& timer, const platform::RunLoopMode& mode);
    void runLoopRemoveTimer(const TimerPtr& timer, const platform::RunLoopMode& mode);
    void runLoopUnscheduleReadStream();
    void runLoopUnscheduleWriteStream();
    // Both streams on or off the bound loop in every mode; false when one cannot be scheduled.
    bool scheduleStreams();
    void unscheduleStreams();
    void unscheduleStream(platform::SocketStream& stream);
    bool bothStreams() const { return m_readStream && m_writeStream; }
    // Takes everything off the loop, applies `change` (another loop or other modes), puts it all back
    // and queues the dequeues and the disconnect check afresh.
    bool rebind(const std::function<void()>& change);
    void cancelDeferred();
    void defer(Deferred kind, Step step);
    TimerPtr startTimer(double seconds, void (RunLoopSocket::*fired)(platform::Timer&));
    static void endTimer(TimerPtr& timer);

    // ---- Closing (RunLoopSocket+Closing.cpp) ----
    void maybeScheduleDisconnect();
    bool wantsDisconnectNow() const;
    void closeWithError(const platform::ErrorPtr& err);
    void close();
    void emptyQueues();
    void recoverUnreadData();
    void closeStreams();
    void closeSockets();

    // ---- Platform events (RunLoopSocket+Callbacks.cpp) ----
    static void cfSocketCallback(platform::CFSocket& socket, platform::CFSocketCallBackType type,
                                 const platform::Data* address, const void* data, void* info);
    void doCFSocketCallback(platform::CFSocketCallBackType type, platform::CFSocket& socket,
                            const void* data);
    void doCFReadStreamCallback(platform::StreamEventType type, platform::ReadStream& stream);
    void doCFWriteStreamCallback(platform::StreamEventType type, platform::WriteStream& stream);
    void doStreamEvent(const Direction& direction, platform::StreamEventType type,
                       const platform::SocketStream& stream);

    // ---- Listening (RunLoopSocket+Accepting.cpp) ----
    struct ListenAddresses {
        std::optional<platform::Data> address4;
        std::optional<platform::Data> address6;
    };
    void checkCanStart(const char* action) const;
    bool listenAddresses(const std::optional<std::string>& interface, uint16_t port,
                         ListenAddresses* addresses, platform::ErrorPtr* errPtr);
    bool createAcceptSockets(ListenAddresses& addresses, platform::ErrorPtr* errPtr);
    bool bindAcceptSockets(ListenAddresses& addresses);
    platform::CFSocketPtr newAcceptSocketForAddress(const platform::Data& addr, platform::ErrorPtr* errPtr);
    bool attachSocketsToRunLoop(const RunLoopPtr& runLoop, platform::ErrorPtr* errPtr);
    void doAcceptFromSocket(platform::CFSocket& parentSocket, platform::CFSocketNativeHandle newNativeSocket);
    bool startAcceptedSocket(const RunLoopPtr& runLoop);

    // ---- Connecting and opening (RunLoopSocket+Connecting.cpp) ----
    bool failStart(platform::ErrorPtr* errPtr, platform::ErrorPtr err);
    bool createStreamsToHost(const std::string& hostname, uint16_t port, platform::ErrorPtr* errPtr);
    bool createStreamsFromNative(platform::CFSocketNativeHandle native, platform::ErrorPtr* errPtr);
    bool adoptStreams(platform::SocketStreamPair pair, platform::ErrorPtr* errPtr);
    bool attachStreamsToRunLoop(const RunLoopPtr& runLoop, platform::ErrorPtr* errPtr);
    bool configureStreamsAndReturnError(platform::ErrorPtr* errPtr);
    bool configureSocketAndReturnError(platform::ErrorPtr* errPtr);
    bool openStreamsAndReturnError(platform::ErrorPtr* errPtr);
    bool createSocketForAddress(const platform::Data& remoteAddr, platform::ErrorPtr* errPtr);
    bool bindSocketToAddress(const std::optional<platform::Data>& interfaceAddr, platform::ErrorPtr* errPtr);
    bool connectSocketToAddress(const platform::Data& remoteAddr, platform::ErrorPtr* errPtr);
    void startConnectTimeout(double timeout);
    void endConnectTimeout();
    void doConnectTimeout(platform::Timer& timer);
    void doSocketOpen(platform::CFSocket& socket, platform::CFSocketError socketError);
    void doStreamOpen();
    bool setSocketFromStreamsAndReturnError(platform::ErrorPtr* errPtr);

    // ---- Shared steps of both directions (RunLoopSocket+Queues.cpp) ----
    void scheduleDequeue(const Direction& direction);
    void maybeDequeue(const Direction& direction);
    void doTimeout(const Direction& direction, platform::Timer& timer);
    void endCurrent(const Direction& direction);
    float progressOf(const Direction& direction, int64_t* tag, uint64_t* done, uint64_t* total) const;
    std::shared_ptr<sockets::RunLoopRequest> currentRequest(const Direction& direction) const;

    // ---- Reading (RunLoopSocket+Reading.cpp) ----
    void queueRead(BufferPtr buffer, uint64_t offset, uint64_t maxLength, double timeout, uint64_t readLength,
                   const std::optional<platform::Data>& term, int64_t tag);
    void queueTermRead(const std::optional<platform::Data>& term, double timeout, BufferPtr buffer,
                       uint64_t offset, uint64_t maxLength, int64_t tag);
    std::shared_ptr<RunLoopReadPacket> currentReadPacket() const;
    void scheduleDequeueRead();
    void maybeDequeueRead();
    bool hasBytesAvailable();
    int64_t readIntoBuffer(uint8_t* buffer, uint64_t maxLength);
    void doBytesAvailable();
    ReadOutcome readPasses(RunLoopReadPacket& packet);
    uint64_t chooseChunk(const RunLoopReadPacket& packet, PassKind* kind, bool* found) const;
    bool isReadDone(RunLoopReadPacket& packet, uint64_t count, PassKind kind, bool found);
    void keepOverflow(RunLoopReadPacket& packet, uint64_t overflow);
    void finishReadStep(const std::shared_ptr<RunLoopReadPacket>& packet, const ReadOutcome& outcome);
    void completeCurrentRead();
    void endCurrentRead();
    void doReadTimeout(platform::Timer& timer);

    // ---- Writing and TLS (RunLoopSocket+Writing.cpp) ----
    std::shared_ptr<RunLoopWritePacket> currentWritePacket() const;
    void scheduleDequeueWrite();
    void maybeDequeueWrite();
    bool canAcceptBytes();
    void doSendBytes();
    void completeCurrentWrite();
    void endCurrentWrite();
    void doWriteTimeout(platform::Timer& timer);
    void maybeStartTLS();
    void onTLSHandshakeSuccessful();

    // ---- Addresses (RunLoopSocket+Addresses.cpp) ----
    static std::optional<platform::Data> addressOf(platform::CFSocketNativeHandle native, int family,
                                                   Peer peer);
    static std::optional<platform::Data> addressOf(const platform::CFSocketPtr& socket, Peer peer);
    static std::optional<std::string> hostOf(const std::optional<platform::Data>& address);
    static uint16_t portOf(const std::optional<platform::Data>& address);
    // The address of one family's end: the CFSocket's, else the native handle's.
    std::optional<platform::Data> addressOfFamily(int family, Peer peer) const;
    // Of either family, IPv4 first.
    std::optional<platform::Data> addressOfEither(Peer peer) const;
    std::optional<std::string> connectedHostFromNativeSocket4(platform::CFSocketNativeHandle native) const;
    std::optional<std::string> connectedHostFromNativeSocket6(platform::CFSocketNativeHandle native) const;
    uint16_t connectedPortFromNativeSocket4(platform::CFSocketNativeHandle native) const;
    uint16_t connectedPortFromNativeSocket6(platform::CFSocketNativeHandle native) const;
    std::optional<std::string> localHostFromNativeSocket4(platform::CFSocketNativeHandle native) const;
    std::optional<std::string> localHostFromNativeSocket6(platform::CFSocketNativeHandle native) const;
    uint16_t localPortFromNativeSocket4(platform::CFSocketNativeHandle native) const;
    uint16_t localPortFromNativeSocket6(platform::CFSocketNativeHandle native) const;
    std::optional<std::string> connectedHostFromCFSocket4(const platform::CFSocketPtr& socket) const;
    std::optional<std::string> connectedHostFromCFSocket6(const platform::CFSocketPtr& socket) const;
    uint16_t connectedPortFromCFSocket4(const platform::CFSocketPtr& socket) const;
    uint16_t connectedPortFromCFSocket6(const platform::CFSocketPtr& socket) const;
    std::optional<std::string> localHostFromCFSocket4(const platform::CFSocketPtr& socket) const;
    std::optional<std::string> localHostFromCFSocket6(const platform::CFSocketPtr& socket) const;
    uint16_t localPortFromCFSocket4(const platform::CFSocketPtr& socket) const;
    uint16_t localPortFromCFSocket6(const platform::CFSocketPtr& socket) const;
    std::string endText(Peer peer) const;

    // ---- State ----
    platform::CFSocketNativeHandle m_nativeSocket4{-1};
    platform::CFSocketNativeHandle m_nativeSocket6{-1};
    platform::CFSocketPtr m_socket4;
    platform::CFSocketPtr m_socket6;
    std::shared_ptr<platform::ReadStream> m_readStream;
    std::shared_ptr<platform::WriteStream> m_writeStream;
    std::shared_ptr<platform::RunLoopFdSource> m_source4;
    std::shared_ptr<platform::RunLoopFdSource> m_source6;
    sockets::RunLoopBinding m_binding; // the run loop, the modes and the deferred calls
    TimerPtr m_connectTimer;
    RequestQueue m_reads;
    platform::MutableData m_partialReadBuffer;
    RequestQueue m_writes;
    RunLoopSocketDelegatePtr m_delegate;
    uint16_t m_flags{kPreBuffering};
    int64_t m_userData{0};
    uint64_t m_closes{0}; // tells a step whether a delegate call closed the socket under it
};

template <typename Result, typename Call>
Result RunLoopSocket::askDelegate(const char* selector, Result fallback, Call call) {
    return sockets::askDelegate(m_delegate, selector, fallback,
                                [&](RunLoopSocketDelegate& delegate) { return call(delegate, self()); });
}
