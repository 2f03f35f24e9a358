#include "platform/net/CFSocket.h"

#include "platform/runloop/RunLoop.h"
#include "tests/platform/net/SocketStreamTestSupport.h"
#include "tests/support/LoopbackPeer.h"
#include "tests/support/MainLoop.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace platform;
using liveapp::test::loopbackAddress;
using liveapp::test::pumpMainLoopOnce;
using liveapp::test::pumpMainLoopUntil;
using liveapp::test::RawPeer;

namespace {

struct Callouts {
    std::vector<CFSocketCallBackType> types;
    std::vector<int> accepted;      // descriptors handed over, closed by the test
    std::vector<int> connectErrors; // 0 for success
    std::vector<uint16_t> peerPorts;

    ~Callouts() {
        for (int fd : accepted)
            ::close(fd);
    }
    size_t count(CFSocketCallBackType type) const {
        return size_t(std::count(types.begin(), types.end(), type));
    }
};

void record(CFSocket&, CFSocketCallBackType type, const Data* address, const void* data, void* info) {
    auto& callouts = *static_cast<Callouts*>(info);
    callouts.types.push_back(type);
    if (type == kCFSocketAcceptCallBack) {
        callouts.accepted.push_back(*static_cast<const int*>(data));
        callouts.peerPorts.push_back(ntohs(reinterpret_cast<const sockaddr_in*>(address->bytes())->sin_port));
    }
    if (type == kCFSocketConnectCallBack)
        callouts.connectErrors.push_back(data ? *static_cast<const int*>(data) : 0);
}

// On the main loop in the default mode; invalidated (and so off the loop) when the test ends.
CFSocketPtr schedule(CFSocketPtr socket) {
    RunLoop::main()->addSource(socket->createRunLoopSource(), RunLoop::defaultMode);
    return socket;
}

bool isOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

} // namespace

TEST(CFSocketTest, AcceptHandsOverEachConnectionWhileTheCallBackReenablesItself) {
    for (bool reenables : {true, false}) {
        Callouts callouts;
        auto listening =
            schedule(CFSocket::create(AF_INET, SOCK_STREAM, 0, kCFSocketAcceptCallBack, record, &callouts));
        if (!reenables)
            listening->setSocketFlags(kCFSocketCloseOnInvalidate);
        ASSERT_EQ(listening->setAddress(loopbackAddress(AF_INET, 0)), kCFSocketSuccess);
        uint16_t port =
            ntohs(reinterpret_cast<const sockaddr_in*>(listening->copyAddress()->bytes())->sin_port);
        auto first = RawPeer::connectTo(AF_INET, port);
        auto second = RawPeer::connectTo(AF_INET, port);
        ASSERT_TRUE(first && second);
        ASSERT_TRUE(pumpMainLoopUntil([&] { return !callouts.accepted.empty(); }));
        pumpMainLoopOnce();
        EXPECT_EQ(callouts.accepted.size(), reenables ? 2u : 1u);
        listening->enableCallBacks(kCFSocketAcceptCallBack);
        ASSERT_TRUE(pumpMainLoopUntil([&] { return callouts.accepted.size() == 2; }));
        EXPECT_EQ(callouts.peerPorts, (std::vector<uint16_t>{first->localPort(), second->localPort()}));
        listening->invalidate();
    }
}

TEST(CFSocketTest, AnAsynchronousConnectEndsInOneConnectCallOut) {
    streamtest::Listener listener;
    struct Case {
        uint16_t port;
        int error;
    };
    for (auto [port, error] : {Case{listener.port, 0}, Case{streamtest::refusedPort(), ECONNREFUSED}}) {
        Callouts callouts;
        auto socket =
            schedule(CFSocket::create(AF_INET, SOCK_STREAM, 0, kCFSocketConnectCallBack, record, &callouts));
        ASSERT_EQ(socket->connectToAddress(loopbackAddress(AF_INET, port), -1), kCFSocketSuccess);
        EXPECT_TRUE(callouts.types.empty()); // never from inside the call
        ASSERT_TRUE(pumpMainLoopUntil([&] { return !callouts.types.empty(); }));
        pumpMainLoopOnce();
        EXPECT_EQ(callouts.connectErrors, std::vector<int>{error}) << port;
        socket->invalidate();
    }
}

TEST(CFSocketTest, ReadAndWriteCallBacksWithoutReenableComeOnceUntilEnabledAgain) {
    streamtest::SocketPair pair;
    Callouts callouts;
    auto socket = schedule(CFSocket::createWithNative(
        pair.fds[0], kCFSocketReadCallBack | kCFSocketWriteCallBack, record, &callouts));
    socket->setSocketFlags(0); // the pair closes its own ends
    ASSERT_TRUE(pumpMainLoopUntil([&] { return callouts.count(kCFSocketWriteCallBack) == 1; }));
    ASSERT_EQ(::write(pair.fds[1], "x", 1), 1);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return callouts.count(kCFSocketReadCallBack) == 1; }));
    pumpMainLoopOnce(); // still readable and writable, but both kinds are off
    EXPECT_EQ(callouts.types.size(), 2u);
    socket->enableCallBacks(kCFSocketReadCallBack);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return callouts.count(kCFSocketReadCallBack) == 2; }));
    EXPECT_EQ(callouts.count(kCFSocketWriteCallBack), 1u);
    socket->invalidate();
}

TEST(CFSocketTest, InvalidateEndsTheCallOutsAndClosesTheDescriptorOnlyWhenAsked) {
    for (CFSocketFlags flags : {kCFSocketCloseOnInvalidate, CFSocketFlags(0)}) {
        streamtest::SocketPair pair;
        Callouts callouts;
        int fd = ::dup(pair.fds[0]);
        auto socket = schedule(CFSocket::createWithNative(fd, kCFSocketReadCallBack, record, &callouts));
        socket->setSocketFlags(flags);
        auto source = socket->createRunLoopSource();
        EXPECT_EQ(socket->createRunLoopSource(), source);
        ASSERT_EQ(::write(pair.fds[1], "x", 1), 1);
        socket->invalidate();
        pumpMainLoopOnce();
        EXPECT_TRUE(callouts.types.empty());
        EXPECT_EQ(socket->nativeHandle(), -1);
        EXPECT_EQ(socket->createRunLoopSource(), nullptr);
        EXPECT_EQ(isOpen(fd), flags == 0);
        if (flags == 0)
            ::close(fd);
    }
}

TEST(CFSocketTest, BadArgumentsAreRefusedWithoutCrashing) {
    EXPECT_EQ(CFSocket::createWithNative(-1, kCFSocketReadCallBack, record, nullptr), nullptr);
    auto zero = CFSocket::createWithNative(0, kCFSocketNoCallBack, nullptr, nullptr); // 0 is a descriptor
    ASSERT_TRUE(zero);
    zero->setSocketFlags(0);
    EXPECT_EQ(zero->nativeHandle(), 0);
    auto socket = CFSocket::create(AF_INET, SOCK_STREAM, 0, kCFSocketConnectCallBack, nullptr, nullptr);
    EXPECT_EQ(socket->setAddress(Data("x", 1)), kCFSocketError);
    EXPECT_EQ(socket->connectToAddress(Data(), -1), kCFSocketError);
}
