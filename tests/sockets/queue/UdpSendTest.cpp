// Sending: destinations, the queue order shared with connects, filters, a full send buffer, time-outs and
// bursts that leave together, datagrams of any size sent from slices of a shared buffer.
#include "platform/foundation/Clock.h"
#include "tests/sockets/queue/UdpTestSupport.h"
#include "tests/support/FakeResolver.h"

#include <algorithm>
#include <cstring>
#include <future>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/udp.h>
#include <sys/socket.h>

using namespace udptest;
using queuesockettest::describe;

namespace {

// The socket connected to a fresh peer; the delegate saw the connect.
struct ConnectedUdp {
    UdpFixture f;
    std::unique_ptr<RawUdpPeer> peer = RawUdpPeer::create(AF_INET);

    bool connect() {
        return peer && f.socket->connectToAddress(peer->address()) &&
               f.delegate->waitFor(UdpEventKind::Connect);
    }
};

// A socket on a queue of the test's own, beside a fresh peer.
struct OwnQueueUdp {
    std::unique_ptr<RawUdpPeer> peer = RawUdpPeer::create(AF_INET);
    std::shared_ptr<platform::DispatchQueue> socketQueue = platform::DispatchQueue::create("test.udp.socket");
    std::shared_ptr<UdpRecordingDelegate> delegate = UdpRecordingDelegate::create();
    std::shared_ptr<platform::DispatchQueue> delegateQueue =
        platform::DispatchQueue::create("test.udp.delegate");
    QueueUdpSocketPtr socket = QueueUdpSocket::create(delegate, delegateQueue, socketQueue);
};

} // namespace

TEST(QueueUdpSocketSend, UnconnectedSocketNeedsADestination) {
    UdpFixture f;
    f.socket->sendData(bytes("x"), 11);
    auto failed = f.delegate->await(UdpEventKind::NotSend);
    EXPECT_EQ(failed.tag, 11);
    EXPECT_EQ(
        describe(failed.error),
        "QueueUdpSocketErrorDomain 1: You must specify destination of packet for a non-connected socket");
}

TEST(QueueUdpSocketSend, ConnectedSocketSendsOnlyToItsPeer) {
    ConnectedUdp c;
    ASSERT_TRUE(c.connect());
    auto stranger = RawUdpPeer::create(AF_INET);
    ASSERT_TRUE(stranger);
    c.f.socket->sendData(bytes("named"), std::string("127.0.0.1"), stranger->port(), -1, 1);
    c.f.socket->sendData(bytes("explicit"), stranger->address(), -1, 2);
    auto failed = c.f.delegate->await(UdpEventKind::NotSend);
    EXPECT_EQ(failed.tag, 1);
    EXPECT_EQ(failed.error->localizedDescription(),
              "Cannot specify destination of packet for connected socket");
    auto sent = c.f.delegate->waitFor(UdpEventKind::Send);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->tag, 2);
    EXPECT_EQ(c.peer->receive(), "explicit");
    // Loopback datagrams land in the receive buffer at the send: none there means none was sent.
    EXPECT_FALSE(stranger->receive(std::chrono::milliseconds(0)));
}

TEST(QueueUdpSocketSend, FirstSendOpensAndBindsTheSocket) {
    UdpFixture f;
    platform::ErrorPtr error;
    EXPECT_FALSE(f.socket->receiveOnce(&error));
    auto peer = RawUdpPeer::create(AF_INET);
    ASSERT_TRUE(peer);
    f.socket->sendData(bytes("hello"), peer->address(), -1, 1);
    ASSERT_TRUE(f.delegate->waitFor(UdpEventKind::Send));
    EXPECT_FALSE(f.socket->isClosed());
    EXPECT_TRUE(f.socket->receiveOnce(&error));
    platform::Data from;
    EXPECT_EQ(peer->receive(queuesockettest::kWait, &from), "hello");
    ASSERT_TRUE(peer->sendTo(from, "reply"));
    auto received = f.delegate->await(UdpEventKind::Receive);
    EXPECT_EQ(received.data.toString(), "reply");
}

TEST(QueueUdpSocketSend, DatagramsBehindAConnectWaitForItsOutcome) {
    auto peer = RawUdpPeer::create(AF_INET);
    ASSERT_TRUE(peer);
    UdpFixture f;
    ASSERT_TRUE(f.socket->connectToHost("localhost", peer->port()));
    for (int64_t tag = 1; tag <= 3; ++tag)
        f.socket->sendData(bytes("d" + std::to_string(tag)), tag);
    ASSERT_TRUE(f.delegate->waitFor(UdpEventKind::Send, 3));
    auto events = f.delegate->events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].kind, UdpEventKind::Connect);
    for (int64_t tag = 1; tag <= 3; ++tag) {
        EXPECT_EQ(events[static_cast<size_t>(tag)].tag, tag);
        EXPECT_EQ(peer->receive(), "d" + std::to_string(tag));
    }
}

TEST(QueueUdpSocketSend, UnresolvableHostFailsWithTheResolversError) {
    auto resolver = std::make_shared<liveapp::test::FakeResolver>();
    liveapp::test::ScopedResolver installed(resolver);
    UdpFixture f;
    f.socket->sendData(bytes("x"), std::string("nowhere.example.test"), 9, -1, 4);
    f.socket->sendData(bytes("y"), std::nullopt, 9, -1, 5);
    auto failed = f.delegate->await(UdpEventKind::NotSend);
    EXPECT_EQ(failed.tag, 4);
    EXPECT_EQ(describe(failed.error),
              "kCFStreamErrorDomainNetDB " + std::to_string(EAI_NONAME) + ": " + gai_strerror(EAI_NONAME));
    failed = f.delegate->await(UdpEventKind::NotSend, 2);
    EXPECT_EQ(failed.error->code(), QueueUdpSocketBadParamError);
}

TEST(QueueUdpSocketSend, RefusedDatagramIsReportedAsSentAndNeverLeavesAndEmptyDataIsDropped) {
    ConnectedUdp c;
    ASSERT_TRUE(c.connect());
    c.f.socket->setSendFilter(
        [](const platform::Data& data, const platform::Data&, int64_t) { return data.toString() != "drop"; },
        platform::DispatchQueue::create("test.filter"));
    c.f.socket->sendData(platform::Data(), 0); // empty: no callback at all
    c.f.socket->sendData(bytes("drop"), 1);
    c.f.socket->sendData(bytes("keep"), 2);
    ASSERT_TRUE(c.f.delegate->waitFor(UdpEventKind::Send, 2));
    c.f.drain();
    EXPECT_EQ(c.f.delegate->events().size(), 3u); // the connect and the two sends
    EXPECT_EQ(c.f.delegate->eventsOf(UdpEventKind::Send)[0].tag, 1);
    EXPECT_EQ(c.peer->receive(), "keep");
}

TEST(QueueUdpSocketSend, SynchronousFilterOnTheSocketQueueRunsInline) {
    OwnQueueUdp u;
    ASSERT_TRUE(u.peer);
    auto& [peer, socketQueue, delegate, delegateQueue, socket] = u;
    std::atomic<int> calls{0};
    socket->setSendFilter(
        [&](const platform::Data&, const platform::Data&, int64_t) {
            ++calls;
            return true;
        },
        socketQueue, false);
    socket->sendData(bytes("inline"), peer->address(), -1, 1);
    ASSERT_TRUE(delegate->waitFor(UdpEventKind::Send));
    EXPECT_EQ(peer->receive(), "inline");
    EXPECT_EQ(calls.load(), 1);
    socket->close();
}

TEST(QueueUdpSocketSend, FullSendBufferIsRetriedOnceWritable) {
    ConnectedUdp c;
    ASSERT_TRUE(c.connect());
    FullPair pair;
    pair.substituteFor(c.f.socket);
    c.f.socket->sendData(bytes("late"), 5); // no time-out
    c.f.socket->sendData(bytes("later"), 6);
    c.f.drain();
    EXPECT_EQ(c.f.delegate->count(UdpEventKind::Send), 0u);
    // The socket may send while the filling is read: what it sends is collected from both drains.
    auto received = pair.drainReceiver();
    auto sent = c.f.delegate->await(UdpEventKind::Send, 2);
    EXPECT_EQ(sent.tag, 6);
    EXPECT_EQ(c.f.delegate->count(UdpEventKind::NotSend), 0u);
    auto rest = pair.drainReceiver();
    received.insert(received.end(), rest.begin(), rest.end());
    EXPECT_EQ(received, (std::vector<std::string>{"late", "later"}));
}

TEST(QueueUdpSocketSend, FullSendBufferTimesOutByTheClock) {
    queuesockettest::ClockInstalled installed;
    auto& clock = installed.clock;
    ConnectedUdp c;
    ASSERT_TRUE(c.connect());
    FullPair pair;
    pair.substituteFor(c.f.socket);
    c.f.socket->sendData(bytes("stuck"), 2.0, 8);
    c.f.drain();
    clock->advance(std::chrono::seconds(1));
    c.f.drain();
    EXPECT_EQ(c.f.delegate->count(UdpEventKind::NotSend), 0u);
    clock->advance(std::chrono::seconds(2));
    auto failed = c.f.delegate->await(UdpEventKind::NotSend);
    EXPECT_EQ(failed.tag, 8);
    EXPECT_EQ(describe(failed.error), "QueueUdpSocketErrorDomain 3: Send operation timed out");
    EXPECT_EQ(c.f.delegate->count(UdpEventKind::Send), 0u);
}

// Reports of a burst reach the delegate in sending order, refusals among them, and the close comes last,
// however the reports are grouped on their way to the delegate queue.
TEST(QueueUdpSocketSend, ABurstIsReportedInSendingOrderWithTheCloseLast) {
    UdpFixture f;
    auto peer = RawUdpPeer::create(AF_INET);
    ASSERT_TRUE(peer);
    constexpr int kBurst = 300;
    for (int tag = 0; tag < kBurst; ++tag) {
        if (tag % 7 == 3)
            f.socket->sendData(bytes("nowhere"), tag); // no destination: refused
        else
            f.socket->sendData(bytes("x"), peer->address(), -1, tag);
    }
    f.socket->closeAfterSending();
    ASSERT_TRUE(f.delegate->waitFor(UdpEventKind::Close));
    f.drain();
    auto events = f.delegate->events();
    ASSERT_EQ(events.size(), size_t(kBurst + 1));
    for (int tag = 0; tag < kBurst; ++tag) {
        EXPECT_EQ(events[tag].tag, tag);
        EXPECT_EQ(events[tag].kind, tag % 7 == 3 ? UdpEventKind::NotSend : UdpEventKind::Send) << tag;
    }
    EXPECT_EQ(events.back().kind, UdpEventKind::Close);
}

// A caller's operations keep their place among its datagrams, however the datagrams are gathered on their
// way to the socket queue: here all of them wait behind a held socket queue, and only the one sent while
// a filter was set meets it. The burst around it is reported in order.
TEST(QueueUdpSocketSend, AnOperationBetweenDatagramsTakesEffectBetweenThem) {
    OwnQueueUdp u;
    ASSERT_TRUE(u.peer);
    auto& [peer, socketQueue, delegate, delegateQueue, socket] = u;
    std::promise<void> release;
    socketQueue->async([held = release.get_future().share()] { held.wait(); });

    constexpr int kBurst = 100;
    for (int tag = 0; tag < kBurst; ++tag)
        socket->sendData(bytes("before"), peer->address(), -1, tag);
    socket->setSendFilter([](const platform::Data&, const platform::Data&, int64_t) { return false; },
                          platform::DispatchQueue::create("test.filter"));
    socket->sendData(bytes("filtered"), peer->address(), -1, kBurst);
    socket->setSendFilter(nullptr, nullptr);
    socket->sendData(bytes("after"), peer->address(), -1, kBurst + 1);
    release.set_value();

    for (int i = 0; i < kBurst; ++i)
        ASSERT_EQ(peer->receive(), "before") << i;
    EXPECT_EQ(peer->receive(), "after");
    ASSERT_TRUE(delegate->waitFor(UdpEventKind::Send, kBurst + 2));
    auto sent = delegate->eventsOf(UdpEventKind::Send);
    for (int tag = 0; tag < kBurst + 2; ++tag)
        EXPECT_EQ(sent[tag].tag, tag);
    socket->close();
    socketQueue->sync([] {});
    delegateQueue->sync([] {});
}

// A datagram the system refuses in the middle of a burst ends the socket with the system's error, after the
// ones ahead of it have left and been reported, whether they left together or one by one.
TEST(QueueUdpSocketSend, ADatagramTheSystemRefusesMidBurstClosesAfterThoseAhead) {
    OwnQueueUdp u;
    ASSERT_TRUE(u.peer);
    std::promise<void> release;
    u.socketQueue->async([held = release.get_future().share()] { held.wait(); });
    constexpr int kAhead = 10;
    for (int tag = 0; tag < kAhead; ++tag)
        u.socket->sendData(bytes("ahead"), u.peer->address(), -1, tag);
    u.socket->sendData(platform::Data(std::vector<uint8_t>(70000, 0)), u.peer->address(), -1, kAhead);
    release.set_value();

    auto closed = u.delegate->await(UdpEventKind::Close);
    ASSERT_TRUE(closed.error);
    EXPECT_EQ(closed.error->code(), EMSGSIZE);
    u.socketQueue->sync([] {});
    u.delegateQueue->sync([] {});
    auto events = u.delegate->events();
    ASSERT_EQ(events.size(), size_t(kAhead + 1));
    for (int tag = 0; tag < kAhead; ++tag) {
        EXPECT_EQ(events[tag].kind, UdpEventKind::Send);
        EXPECT_EQ(events[tag].tag, tag);
        EXPECT_EQ(u.peer->receive(), "ahead");
    }
    EXPECT_EQ(events.back().kind, UdpEventKind::Close);
}

// Reports gathered while a burst is sent still reach the delegate when its queue is replaced in the middle
// of the burst (here by a filter running on the socket queue): those before on the old queue, the rest on
// the new one.
TEST(QueueUdpSocketSend, ReportsHeldThroughABurstSurviveAChangeOfDelegateQueue) {
    OwnQueueUdp u;
    ASSERT_TRUE(u.peer);
    auto replacement = platform::DispatchQueue::create("test.udp.delegate2");
    std::weak_ptr<QueueUdpSocket> weak = u.socket;
    u.socket->setSendFilter(
        [weak, replacement](const platform::Data&, const platform::Data&, int64_t tag) {
            if (auto socket = weak.lock(); socket && tag == 2)
                socket->setDelegateQueue(replacement);
            return true;
        },
        u.socketQueue, false);
    std::promise<void> release;
    u.socketQueue->async([held = release.get_future().share()] { held.wait(); });
    for (int tag = 0; tag < 5; ++tag)
        u.socket->sendData(bytes("x"), u.peer->address(), -1, tag);
    release.set_value();

    ASSERT_TRUE(u.delegate->waitFor(UdpEventKind::Send, 5));
    std::vector<int64_t> tags;
    for (const auto& event : u.delegate->eventsOf(UdpEventKind::Send))
        tags.push_back(event.tag);
    std::sort(tags.begin(), tags.end()); // two queues: no order between them
    EXPECT_EQ(tags, (std::vector<int64_t>{0, 1, 2, 3, 4}));
    u.socket->close();
    u.socketQueue->sync([] {});
    u.delegateQueue->sync([] {});
    replacement->sync([] {});
}

namespace {

// A loopback peer that takes the datagrams of one segmented message in one read, as the system offers on
// request, so a test can tell how a burst went down the stack. Null when the system cannot.
std::unique_ptr<RawUdpPeer> coalescingPeer() {
    auto peer = RawUdpPeer::create(AF_INET);
    int on = 1;
    return peer && ::setsockopt(peer->fd(), SOL_UDP, UDP_GRO, &on, sizeof on) == 0 ? std::move(peer)
                                                                                   : nullptr;
}

using Reads = std::vector<std::vector<std::string>>;

// The datagrams waiting at a coalescing peer, grouped by the read that took them.
Reads takeReads(const RawUdpPeer& peer) {
    Reads reads;
    std::string buffer(70000, '\0');
    iovec part{buffer.data(), buffer.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    for (ssize_t got;
         (header.msg_controllen = sizeof control, got = ::recvmsg(peer.fd(), &header, MSG_DONTWAIT)) >= 0;) {
        int segment = static_cast<int>(got); // one datagram unless the system says otherwise
        for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c))
            if (c->cmsg_level == SOL_UDP && c->cmsg_type == UDP_GRO)
                std::memcpy(&segment, CMSG_DATA(c), sizeof segment);
        auto& read = reads.emplace_back();
        for (ssize_t at = 0; at < got; at += segment)
            read.push_back(buffer.substr(size_t(at), size_t(std::min<ssize_t>(segment, got - at))));
    }
    return reads;
}

struct BurstCase {
    const char* name;
    std::vector<std::pair<int, std::string>> burst; // the peer (0 or 1) and the datagram
    Reads reads[2];                                 // what each peer takes, read by read
};

} // namespace

// Datagrams of a burst leave whole and in order, each reported sent once in order. Neighbours of one
// length to one address travel together (the last of them may be shorter), up to 64 at a time; another
// address or a longer datagram starts afresh, and where the system refuses segments each leaves alone.
TEST(QueueUdpSocketSend, ABurstLeavesAsItsDatagramsTravellingTogetherWhereLengthAndAddressAgree) {
    using Burst = std::vector<std::pair<int, std::string>>;
    const std::vector<BurstCase> cases = {
        {"one length to one address", Burst(5, {0, "same"}), {{Reads::value_type(5, "same")}, {}}},
        {"a shorter one ends the run",
         {{0, "long"}, {0, "long"}, {0, "sh"}, {0, "long"}},
         {{{"long", "long", "sh"}, {"long"}}, {}}},
        {"a longer one starts a run",
         {{0, "ab"}, {0, "cd"}, {0, "efgh"}, {0, "ijkl"}},
         {{{"ab", "cd"}, {"efgh", "ijkl"}}, {}}},
        {"another address between them",
         {{0, "a1"}, {0, "a2"}, {1, "b1"}, {1, "b2"}, {0, "a3"}},
         {{{"a1", "a2"}, {"a3"}}, {{"b1", "b2"}}}},
        {"more than a message holds",
         Burst(70, {0, "x"}),
         {{Reads::value_type(64, "x"), Reads::value_type(6, "x")}, {}}},
        // Last: without checksums the system sends datagrams one by one, never as segments.
        {"segments refused", Burst(3, {0, "same"}), {{{"same"}, {"same"}, {"same"}}, {}}},
    };
    std::unique_ptr<RawUdpPeer> peers[2] = {coalescingPeer(), coalescingPeer()};
    if (!peers[0] || !peers[1])
        GTEST_SKIP() << "the system does not hand over segmented datagrams whole";
    OwnQueueUdp u;
    ASSERT_TRUE(u.socket->bindToPort(0, std::string("127.0.0.1")));
    int64_t tag = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::promise<void> release;
        u.socketQueue->async([&, held = release.get_future().share()] {
            held.wait();
            int on = std::string_view(c.name) == "segments refused";
            ASSERT_EQ(::setsockopt(u.socket->socket4FD(), SOL_SOCKET, SO_NO_CHECK, &on, sizeof on), 0);
        });
        const int64_t first = tag;
        for (const auto& [peer, datagram] : c.burst)
            u.socket->sendData(bytes(datagram), peers[peer]->address(), -1, tag++);
        release.set_value();

        ASSERT_TRUE(u.delegate->waitFor(UdpEventKind::Send, size_t(tag)));
        u.socketQueue->sync([] {});
        u.delegateQueue->sync([] {});
        auto events = u.delegate->events();
        ASSERT_EQ(events.size(), size_t(tag)); // no failure, no close
        for (int64_t i = first; i < tag; ++i)
            EXPECT_EQ(events[size_t(i)].tag, i);
        // Loopback datagrams are in the receive buffer once their send returned.
        EXPECT_EQ(takeReads(*peers[0]), c.reads[0]);
        EXPECT_EQ(takeReads(*peers[1]), c.reads[1]);
    }
    u.socket->close();
    u.socketQueue->sync([] {});
    u.delegateQueue->sync([] {});
}

// Small datagrams are copied for the send and large ones are not: slices of one buffer (which share it,
// starting inside it) on both sides of that limit, to an address and to a host name, arrive byte for
// byte, each whole and in order, and the caller's buffer may go as soon as the call returns.
TEST(QueueUdpSocketSend, SlicesOfOneBufferArriveWholeWhateverTheirSize) {
    auto peer = RawUdpPeer::create(AF_INET);
    ASSERT_TRUE(peer);
    UdpFixture f;
    const size_t sizes[] = {1, 2047, 2048, 2049, 9000};
    std::string expected[2 * std::size(sizes)];
    int64_t tag = 0;
    for (bool byName : {false, true}) {
        for (size_t size : sizes) {
            std::string text(size + 3, '\0');
            for (size_t i = 0; i < text.size(); ++i)
                text[i] = char('a' + (i * 7 + size + byName) % 26);
            expected[tag] = text.substr(3, size);
            platform::Data slice = bytes(text).subdata(3, size);
            if (byName)
                f.socket->sendData(slice, std::string("127.0.0.1"), peer->port(), -1, tag);
            else
                f.socket->sendData(slice, peer->address(), -1, tag);
            ++tag;
        }
    }
    ASSERT_TRUE(f.delegate->waitFor(UdpEventKind::Send, size_t(tag)));
    for (const auto& datagram : expected) {
        auto received = peer->receive();
        ASSERT_TRUE(received);
        EXPECT_EQ(received->size(), datagram.size());
        EXPECT_TRUE(*received == datagram) << "a datagram of " << datagram.size() << " bytes came changed";
    }
}
