#pragma once
// A socket wrapped for the run loop (the platform's CFSocket): a descriptor it made or was handed, and
// callouts when the descriptor is ready for the kinds of callback asked for: read (1), accept (2: the
// socket accepts the connection and hands over the new descriptor, which the callout then owns), connect
// (4: once, when an asynchronous connect ends) and write (8).
//
// Promises: callouts run only from the socket's run-loop source, on the loop and in the modes it is added
// to, never from inside a call on the socket. After a read, accept or write callout that kind stays on
// only when its automatic re-enable flag is set (all three are by default); enableCallBacks turns it on
// again. invalidate() ends the callouts (none that has not begun follows), unregisters the source and
// closes the descriptor when kCFSocketCloseOnInvalidate is set (the default); destroying a socket
// invalidates it. The info pointer is not retained: its owner invalidates the socket before it goes.
// Calls are thread-safe; callouts are made with no lock held.

#include "platform/foundation/Data.h"
#include "platform/runloop/RunLoopFdSource.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace platform {

using CFSocketNativeHandle = int;

using CFSocketCallBackType = uint32_t;
inline constexpr CFSocketCallBackType kCFSocketNoCallBack = 0;
inline constexpr CFSocketCallBackType kCFSocketReadCallBack = 1;
inline constexpr CFSocketCallBackType kCFSocketAcceptCallBack = 2;
inline constexpr CFSocketCallBackType kCFSocketConnectCallBack = 4;
inline constexpr CFSocketCallBackType kCFSocketWriteCallBack = 8;

using CFSocketFlags = uint32_t;
inline constexpr CFSocketFlags kCFSocketAutomaticallyReenableReadCallBack = 1;
inline constexpr CFSocketFlags kCFSocketAutomaticallyReenableAcceptCallBack = 2;
inline constexpr CFSocketFlags kCFSocketAutomaticallyReenableWriteCallBack = 8;
inline constexpr CFSocketFlags kCFSocketCloseOnInvalidate = 128;

enum CFSocketError : int64_t {
    kCFSocketSuccess = 0,
    kCFSocketError = -1,
    kCFSocketTimeout = -2,
};

class CFSocket;
using CFSocketPtr = std::shared_ptr<CFSocket>;

// `address`: the peer of an accepted connection, null otherwise. `data`: for accept a
// const CFSocketNativeHandle*, for connect null on success or a const int* holding the errno, else null.
using CFSocketCallBack = void (*)(CFSocket& socket, CFSocketCallBackType type, const Data* address,
                                  const void* data, void* info);

class CFSocket : public std::enable_shared_from_this<CFSocket> {
    struct PrivateTag {};

public:
    // A new non-blocking, close-on-exec socket; null when the system refuses it.
    static CFSocketPtr create(int family, int type, int protocol, CFSocketCallBackType callBackTypes,
                              CFSocketCallBack callout, void* info);
    // Over a descriptor (0 included); null for a negative one.
    static CFSocketPtr createWithNative(CFSocketNativeHandle fd, CFSocketCallBackType callBackTypes,
                                        CFSocketCallBack callout, void* info);
    CFSocket(PrivateTag, CFSocketNativeHandle fd, CFSocketCallBackType callBackTypes,
             CFSocketCallBack callout, void* info);
    ~CFSocket();
    CFSocket(const CFSocket&) = delete;
    CFSocket& operator=(const CFSocket&) = delete;

    // Binds to the address; a socket with accept callbacks then listens.
    CFSocketError setAddress(const Data& address);
    // A negative time-out starts the connect and answers at once; its end comes as the connect callout.
    // Otherwise waits up to `timeout` seconds (kCFSocketTimeout when it passes) and sends no callout.
    CFSocketError connectToAddress(const Data& address, double timeout);

    CFSocketNativeHandle nativeHandle() const; // -1 once invalid
    std::optional<Data> copyAddress() const;
    std::optional<Data> copyPeerAddress() const;

    CFSocketFlags socketFlags() const;
    void setSocketFlags(CFSocketFlags flags);
    void enableCallBacks(CFSocketCallBackType types);
    void disableCallBacks(CFSocketCallBackType types);

    void invalidate();
    bool isValid() const;

    // The socket's one run-loop source (the same object at every call), to add to a loop per mode;
    // null once invalid.
    std::shared_ptr<RunLoopFdSource> createRunLoopSource();

private:
    void ready(uint32_t events);
    void finishConnect();
    void acceptOne();
    // Calls out for `type` when it is still on, switching it off first unless it re-enables itself.
    // False when no callout was made.
    bool callOut(CFSocketCallBackType type, const Data* address, const void* data);
    void updateInterestLocked();

    const CFSocketCallBackType m_callBackTypes;
    const CFSocketCallBack m_callout;
    void* const m_info;
    mutable std::mutex m_mutex;
    CFSocketNativeHandle m_fd{-1};
    bool m_valid{true};
    CFSocketFlags m_flags{kCFSocketAutomaticallyReenableReadCallBack |
                          kCFSocketAutomaticallyReenableAcceptCallBack |
                          kCFSocketAutomaticallyReenableWriteCallBack | kCFSocketCloseOnInvalidate};
    CFSocketCallBackType m_enabled{kCFSocketNoCallBack};
    bool m_connecting{false};
    std::shared_ptr<RunLoopFdSource> m_source;
};

} // namespace platform
