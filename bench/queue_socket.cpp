// The queue-based TCP socket over loopback.
// "Transfer": one QueueSocket pair moves 1 GiB in 64 KiB writes and 64 KiB reads to length (a few
// requests in flight each way), beside the same transfer done by a plain single-threaded epoll loop
// with non-blocking send and recv: the ratio of the two is what the queues, the dispatch sources and
// the callbacks cost per byte.
// The peers: the plain epoll loop (one thread), and asio with a thread per end; and the same system
// calls as the queue socket's with nothing around them, two threads that never sleep.
// "TransferAfterCycles" is the same transfer after 10,000 connect cycles in the process: what closing
// sockets leave behind must not slow the ones that stay.
// "ConnectDisconnect": connect to a QueueSocket listener, wait for the connect callback, disconnect
// (the listener's side reads until the client's end and lets itself go); and the same with a TLS
// handshake (the client judges trust itself and accepts) before the disconnect. The peers: a plain
// blocking loop (connect and close, a thread accepting and reading to the end), and asio with one
// thread connecting and one accepting.
#include "bench/SwitchCounter.h"
#include "platform/security/TlsCertificate.h"
#include "platform/security/TlsSettingsKeys.h"
#include "sockets/queue/QueueSocket.h"
#include "tests/peers/LoopbackPeer.h"

#include <arpa/inet.h>
#include <asio.hpp>
#include <benchmark/benchmark.h>
#include <cerrno>
#include <condition_variable>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>
#include <set>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint64_t kChunk = 64 * 1024;
constexpr uint64_t kTotal = uint64_t(1) << 30;
constexpr uint64_t kChunks = kTotal / kChunk;
constexpr int kWritesInFlight = 8;
constexpr int kReadsInFlight = 2;

// Every callback the benchmarks use, each answered only when set (set them before any socket exists).
class BenchDelegate : public QueueSocketDelegate {
public:
    std::function<void(const QueueSocketPtr&)> onAccept;
    std::function<void(const QueueSocketPtr&)> onConnect;
    std::function<void(const QueueSocketPtr&, uint64_t length)> onRead;
    std::function<void(const QueueSocketPtr&)> onWrite;
    std::function<void(const QueueSocketPtr&)> onSecure;
    std::function<void(const QueueSocketPtr&)> onDisconnect;
    bool trustsPeer{false};

    bool respondsTo(std::string_view selector) const override {
        if (selector == "socket:didAcceptNewSocket:")
            return bool(onAccept);
        if (selector == "socket:didConnectToHost:port:")
            return bool(onConnect);
        if (selector == "socket:didReadData:withTag:")
            return bool(onRead);
        if (selector == "socket:didWriteDataWithTag:")
            return bool(onWrite);
        if (selector == "socketDidSecure:")
            return bool(onSecure);
        if (selector == "socketDidDisconnect:withError:")
            return bool(onDisconnect);
        if (selector == "socket:didReceiveTrust:completionHandler:")
            return trustsPeer;
        return false;
    }
    void socketDidAcceptNewSocket(const QueueSocketPtr&, const QueueSocketPtr& newSocket) override {
        onAccept(newSocket);
    }
    void socketDidConnectToHost(const QueueSocketPtr& sock, const std::string&, uint16_t) override {
        onConnect(sock);
    }
    void socketDidReadData(const QueueSocketPtr& sock, const sockets::SharedBytes& data, int64_t) override {
        onRead(sock, data.length());
    }
    void socketDidWriteDataWithTag(const QueueSocketPtr& sock, int64_t) override { onWrite(sock); }
    void socketDidSecure(const QueueSocketPtr& sock) override { onSecure(sock); }
    void socketDidDisconnect(const QueueSocketPtr& sock, const platform::ErrorPtr&) override {
        onDisconnect(sock);
    }
    void socketDidReceiveTrust(const QueueSocketPtr&, const platform::TlsTrustPtr&,
                               std::function<void(bool)> completionHandler) override {
        completionHandler(true);
    }
};

// A one-shot signal between a delegate queue and the benchmark thread.
class Latch {
public:
    void open() {
        {
            std::lock_guard lock(m_mutex);
            m_open = true;
        }
        // After the lock is let go, so the woken waiter does not go back to sleep on it.
        m_changed.notify_one();
    }
    void wait() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_open; });
        m_open = false;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open{false};
};

// Keeps accepted sockets alive until their peer has gone (the listener's delegate must hold them).
class AcceptedSockets {
public:
    void add(const QueueSocketPtr& socket) {
        std::lock_guard lock(m_mutex);
        m_sockets.insert(socket);
    }
    void remove(const QueueSocketPtr& socket) {
        std::lock_guard lock(m_mutex);
        m_sockets.erase(socket);
    }
    void clear() {
        std::set<QueueSocketPtr> sockets;
        {
            std::lock_guard lock(m_mutex);
            sockets.swap(m_sockets);
        }
        for (const auto& socket : sockets)
            socket->disconnect();
    }

private:
    std::mutex m_mutex;
    std::set<QueueSocketPtr> m_sockets;
};

// A self-signed identity for "localhost", made once.
platform::TlsIdentityPtr benchIdentity() {
    static const platform::TlsIdentityPtr identity = [] {
        EVP_PKEY* key = EVP_EC_gen("P-256");
        X509* certificate = X509_new();
        X509_set_version(certificate, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
        X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
        X509_gmtime_adj(X509_getm_notAfter(certificate), 86400);
        X509_set_pubkey(certificate, key);
        X509_NAME_add_entry_by_txt(X509_get_subject_name(certificate), "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
        X509_set_issuer_name(certificate, X509_get_subject_name(certificate));
        X509_sign(certificate, key, EVP_sha256());
        auto made =
            platform::TlsIdentity::createWithKey(platform::TlsCertificate::createWithX509(certificate), key);
        X509_free(certificate);
        EVP_PKEY_free(key);
        return made;
    }();
    return identity;
}

// ---- Transfer ----
// What the delegates of one transfer share; held by every callback, so a late one finds it alive.
struct TransferState {
    AcceptedSockets accepted;
    Latch serverReady;
    Latch clientConnected;
    Latch transferred;
    std::mutex mutex;
    QueueSocketPtr server;
    uint64_t received{0};
    uint64_t readsQueued{0};
    uint64_t writesQueued{0};
    bool lost{false};
    const platform::Data chunk{std::vector<uint8_t>(kChunk, 0x5a)};
};

void transfer(benchmark::State& state) {
    auto shared = std::make_shared<TransferState>();
    auto serverDelegate = std::make_shared<BenchDelegate>();
    serverDelegate->onAccept = [shared](const QueueSocketPtr& socket) {
        shared->accepted.add(socket);
        {
            std::lock_guard lock(shared->mutex);
            shared->server = socket;
        }
        shared->serverReady.open();
    };
    serverDelegate->onRead = [shared](const QueueSocketPtr& socket, uint64_t length) {
        bool done = false;
        {
            std::lock_guard lock(shared->mutex);
            shared->received += length;
            if (shared->readsQueued < kChunks) {
                ++shared->readsQueued;
                socket->readDataToLength(kChunk, -1, 0);
            }
            done = shared->received == kTotal;
        }
        if (done)
            shared->transferred.open();
    };
    serverDelegate->onDisconnect = [shared](const QueueSocketPtr& socket) {
        if (socket)
            shared->accepted.remove(socket);
        {
            std::lock_guard lock(shared->mutex);
            shared->lost = true;
        }
        shared->transferred.open(); // a round cut short ends with an error instead of waiting for ever
    };
    auto clientDelegate = std::make_shared<BenchDelegate>();
    clientDelegate->onConnect = [shared](const QueueSocketPtr&) { shared->clientConnected.open(); };
    clientDelegate->onWrite = [shared](const QueueSocketPtr& socket) {
        std::lock_guard lock(shared->mutex);
        if (shared->writesQueued < kChunks) {
            ++shared->writesQueued;
            socket->writeData(shared->chunk, -1, 0);
        }
    };

    auto listener = QueueSocket::create(serverDelegate, platform::DispatchQueue::create("bench.server"));
    if (!listener->acceptOnInterface(std::string("127.0.0.1"), 0)) {
        state.SkipWithError("cannot listen");
        return;
    }
    auto client = QueueSocket::create(clientDelegate, platform::DispatchQueue::create("bench.client"));
    client->connectToHost("127.0.0.1", listener->localPort());
    shared->clientConnected.wait();
    shared->serverReady.wait();

    SwitchCounter switches(state, "switches_per_chunk", double(kChunks));
    for (auto _ : state) {
        {
            std::lock_guard lock(shared->mutex);
            shared->received = 0;
            shared->readsQueued = kReadsInFlight;
            shared->writesQueued = kWritesInFlight;
            for (int i = 0; i < kReadsInFlight; ++i)
                shared->server->readDataToLength(kChunk, -1, 0);
            for (int i = 0; i < kWritesInFlight; ++i)
                client->writeData(shared->chunk, -1, 0);
        }
        shared->transferred.wait();
        std::lock_guard lock(shared->mutex);
        if (shared->lost) {
            state.SkipWithError(
                ("connection lost after " + std::to_string(shared->received >> 20) + " MiB").c_str());
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));

    client->disconnect();
    listener->disconnect();
    shared->accepted.clear();
}

void BM_QueueSocketTransfer(benchmark::State& state) {
    transfer(state);
}
BENCHMARK(BM_QueueSocketTransfer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// A plain listening descriptor on an ephemeral loopback port, with its address; -1 when it fails.
int listenOnLoopback(int backlog, sockaddr_in& address) {
    int listenFD = ::socket(AF_INET, SOCK_STREAM, 0);
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (listenFD < 0 || ::bind(listenFD, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listenFD, backlog) != 0 ||
        ::getsockname(listenFD, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (listenFD >= 0)
            ::close(listenFD);
        return -1;
    }
    return listenFD;
}

// The two ends of one loopback connection, both non-blocking; false (the benchmark told why) when
// they cannot be made.
bool connectNonBlockingPair(benchmark::State& state, int& sender, int& receiver) {
    sockaddr_in address{};
    int listenFD = listenOnLoopback(1, address);
    if (listenFD < 0) {
        state.SkipWithError("cannot listen");
        return false;
    }
    sender = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(sender, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        state.SkipWithError("cannot connect");
        ::close(sender);
        ::close(listenFD);
        return false;
    }
    receiver = ::accept(listenFD, nullptr, nullptr);
    ::close(listenFD);
    ::fcntl(sender, F_SETFL, ::fcntl(sender, F_GETFL) | O_NONBLOCK);
    ::fcntl(receiver, F_SETFL, ::fcntl(receiver, F_GETFL) | O_NONBLOCK);
    return true;
}

// The same bytes through one thread, one epoll set and two non-blocking descriptors.
void BM_PlainEpollTransfer(benchmark::State& state) {
    int sender = -1;
    int receiver = -1;
    if (!connectNonBlockingPair(state, sender, receiver))
        return;

    int epollFD = ::epoll_create1(0);
    epoll_event senderEvent{EPOLLOUT, {.fd = sender}};
    epoll_event receiverEvent{EPOLLIN, {.fd = receiver}};
    ::epoll_ctl(epollFD, EPOLL_CTL_ADD, sender, &senderEvent);
    ::epoll_ctl(epollFD, EPOLL_CTL_ADD, receiver, &receiverEvent);
    std::vector<uint8_t> outgoing(kChunk, 0x5a);
    std::vector<uint8_t> incoming(kChunk);

    SwitchCounter switches(state, "switches_per_chunk", double(kChunks));
    for (auto _ : state) {
        uint64_t sent = 0;
        uint64_t received = 0;
        while (received < kTotal) {
            epoll_event events[2];
            int count = ::epoll_wait(epollFD, events, 2, -1);
            for (int i = 0; i < count; ++i) {
                if (events[i].data.fd == sender && sent < kTotal) {
                    uint64_t offset = sent % kChunk; // a short send finishes its chunk first
                    ssize_t n = ::send(sender, outgoing.data() + offset, kChunk - offset, MSG_NOSIGNAL);
                    if (n > 0)
                        sent += static_cast<uint64_t>(n);
                } else if (events[i].data.fd == receiver) {
                    ssize_t n = ::recv(receiver, incoming.data(), kChunk, 0);
                    if (n > 0)
                        received += static_cast<uint64_t>(n);
                }
            }
            if (sent == kTotal) {
                senderEvent.events = 0;
                ::epoll_ctl(epollFD, EPOLL_CTL_MOD, sender, &senderEvent);
            }
        }
        senderEvent.events = EPOLLOUT;
        ::epoll_ctl(epollFD, EPOLL_CTL_MOD, sender, &senderEvent);
        benchmark::DoNotOptimize(incoming.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
    ::close(epollFD);
    ::close(sender);
    ::close(receiver);
}
BENCHMARK(BM_PlainEpollTransfer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// False, with the benchmark told, when the receiving end stopped before the whole transfer came.
bool receivedWhole(benchmark::State& state, uint64_t received) {
    if (received == kTotal)
        return true;
    state.SkipWithError("connection lost");
    return false;
}

// The same bytes with asio: one thread and context per end, 64 KiB writes and 64 KiB reads to length.
void BM_AsioTransfer(benchmark::State& state) {
    asio::io_context senderContext;
    asio::io_context receiverContext;
    asio::ip::tcp::acceptor acceptor(receiverContext,
                                     asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    asio::ip::tcp::socket sender(senderContext);
    asio::ip::tcp::socket receiver(receiverContext);
    sender.connect(acceptor.local_endpoint());
    acceptor.accept(receiver);
    std::vector<uint8_t> outgoing(kChunk, 0x5a);
    std::vector<uint8_t> incoming(kChunk);

    SwitchCounter switches(state, "switches_per_chunk", double(kChunks));
    for (auto _ : state) {
        uint64_t sent = 0;
        uint64_t received = 0;
        std::function<void()> sendNext = [&] {
            asio::async_write(sender, asio::buffer(outgoing), [&](asio::error_code error, size_t n) {
                sent += n;
                if (!error && sent < kTotal)
                    sendNext();
            });
        };
        std::function<void()> receiveNext = [&] {
            asio::async_read(receiver, asio::buffer(incoming), [&](asio::error_code error, size_t n) {
                received += n;
                if (!error && received < kTotal)
                    receiveNext();
            });
        };
        sendNext();
        receiveNext();
        senderContext.restart();
        receiverContext.restart();
        std::thread senderThread([&] { senderContext.run(); });
        receiverContext.run();
        senderThread.join();
        if (!receivedWhole(state, received))
            break;
        benchmark::DoNotOptimize(incoming.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}
BENCHMARK(BM_AsioTransfer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Each end on a core of its own, making the calls the queue socket makes and nothing else: two threads
// that never sleep (non-blocking calls retried at once: no readiness wait, no hand-off, no callback),
// the sender sending up to four chunks a call as the queue socket gathers the writes queued behind
// the current one, the receiver taking 64 KiB a call. The queue socket's rate against it is what the
// queues, sources and callbacks cost; its own against the plain loop is what running the two ends
// apart costs: the sender runs ahead, the kernel's buffers fill to megabytes, and each byte is read
// back long after and on another core, where the plain loop reads each chunk back as soon as it sent
// it.
void BM_TwoSpinningThreadsTransfer(benchmark::State& state) {
    int sender = -1;
    int receiver = -1;
    if (!connectNonBlockingPair(state, sender, receiver))
        return;
    constexpr uint64_t kGathered = 4 * kChunk;
    std::vector<uint8_t> outgoing(kGathered, 0x5a);
    std::vector<uint8_t> incoming(kChunk);

    SwitchCounter switches(state, "switches_per_chunk", double(kChunks));
    for (auto _ : state) {
        std::thread senderThread([&] {
            for (uint64_t sent = 0; sent < kTotal;) {
                uint64_t offset = sent % kGathered;
                ssize_t n = ::send(sender, outgoing.data() + offset, kGathered - offset, MSG_NOSIGNAL);
                if (n > 0)
                    sent += static_cast<uint64_t>(n);
                else if (n < 0 && errno != EAGAIN)
                    return;
            }
        });
        uint64_t received = 0;
        while (received < kTotal) {
            ssize_t n = ::recv(receiver, incoming.data(), kChunk, 0);
            if (n > 0)
                received += static_cast<uint64_t>(n);
            else if (n == 0 || errno != EAGAIN)
                break;
        }
        if (received != kTotal)
            ::shutdown(receiver, SHUT_RDWR); // the sender's next send fails instead of waiting for room
        senderThread.join();
        if (!receivedWhole(state, received))
            break;
        benchmark::DoNotOptimize(incoming.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
    ::close(sender);
    ::close(receiver);
}
BENCHMARK(BM_TwoSpinningThreadsTransfer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// ---- Connection cycles ----
// A listener and a client that connects (with a TLS handshake, if asked) and disconnects, once per
// cycle().
class CycleRig {
public:
    // byAddress: each cycle connects to the listener's address record, so no lookup hop comes first.
    explicit CycleRig(bool withTls, bool byAddress = false)
        : m_byAddress(byAddress) {
        auto shared = m_shared;
        const platform::Value serverSettings = platform::Value::dictionary({
            {platform::kCFStreamSSLIsServer, true},
            {platform::kCFStreamSSLCertificates, platform::Value::array({platform::Value(benchIdentity())})},
        });
        const platform::Value clientSettings = platform::Value::dictionary({
            {QueueSocketManuallyEvaluateTrust, true},
            {platform::kCFStreamSSLPeerName, "localhost"},
        });
        m_serverDelegate->onAccept = [shared, withTls, serverSettings](const QueueSocketPtr& socket) {
            shared->accepted.add(socket);
            if (withTls)
                socket->startTLS(serverSettings);
            // A pending read hears the client leave, and the socket then lets itself go.
            socket->readDataWithTimeout(-1, 0);
        };
        m_serverDelegate->onRead = [](const QueueSocketPtr&, uint64_t) {};
        m_serverDelegate->onDisconnect = [shared](const QueueSocketPtr& socket) {
            if (socket)
                shared->accepted.remove(socket);
        };
        m_clientDelegate->trustsPeer = true;
        m_clientDelegate->onConnect = [shared, withTls, clientSettings](const QueueSocketPtr& socket) {
            if (withTls)
                socket->startTLS(clientSettings);
            else
                shared->ready.open();
        };
        m_clientDelegate->onSecure = [shared](const QueueSocketPtr&) { shared->ready.open(); };
        m_listener = QueueSocket::create(m_serverDelegate, platform::DispatchQueue::create("bench.server"));
        m_listening = m_listener->acceptOnInterface(std::string("127.0.0.1"), 0);
        m_port = m_listener->localPort();
        m_client = QueueSocket::create(m_clientDelegate, platform::DispatchQueue::create("bench.client"));
    }
    ~CycleRig() {
        m_listener->disconnect();
        m_shared->accepted.clear();
    }

    bool isListening() const { return m_listening; }
    bool cycle() {
        if (!(m_byAddress ? m_client->connectToAddress(liveapp::test::loopbackAddress(AF_INET, m_port))
                          : m_client->connectToHost("127.0.0.1", m_port)))
            return false;
        m_shared->ready.wait();
        m_client->disconnect();
        return true;
    }

private:
    struct Shared {
        AcceptedSockets accepted;
        Latch ready;
    };
    std::shared_ptr<Shared> m_shared{std::make_shared<Shared>()};
    std::shared_ptr<BenchDelegate> m_serverDelegate{std::make_shared<BenchDelegate>()};
    std::shared_ptr<BenchDelegate> m_clientDelegate{std::make_shared<BenchDelegate>()};
    QueueSocketPtr m_listener;
    QueueSocketPtr m_client;
    bool m_listening{false};
    uint16_t m_port{0};
    bool m_byAddress{false};
};

void connectCycles(benchmark::State& state, bool withTls, bool byAddress = false) {
    CycleRig rig(withTls, byAddress);
    if (!rig.isListening()) {
        state.SkipWithError("cannot listen");
        return;
    }
    SwitchCounter switches(state, "switches_per_cycle", 1);
    for (auto _ : state) {
        if (!rig.cycle()) {
            state.SkipWithError("cannot connect");
            break;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_QueueSocketConnectDisconnect(benchmark::State& state) {
    connectCycles(state, false);
}
BENCHMARK(BM_QueueSocketConnectDisconnect)->UseRealTime()->MinTime(2.0);

// The same cycle without the lookup hop a host name takes: what that hop costs.
void BM_QueueSocketConnectToAddressDisconnect(benchmark::State& state) {
    connectCycles(state, false, true);
}
BENCHMARK(BM_QueueSocketConnectToAddressDisconnect)->UseRealTime()->MinTime(2.0);

void BM_QueueSocketConnectTlsHandshakeDisconnect(benchmark::State& state) {
    connectCycles(state, true);
}
BENCHMARK(BM_QueueSocketConnectTlsHandshakeDisconnect)->UseRealTime()->MinTime(2.0);

void BM_QueueSocketTransferAfterCycles(benchmark::State& state) {
    {
        CycleRig rig(false);
        for (int i = 0; i < 10000 && rig.isListening(); ++i) {
            if (!rig.cycle())
                break;
        }
    }
    transfer(state);
}
BENCHMARK(BM_QueueSocketTransferAfterCycles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Connect and close in a blocking loop, with a thread that accepts each connection, reads to its end
// and closes it.
void BM_PlainConnectDisconnect(benchmark::State& state) {
    sockaddr_in address{};
    int listenFD = listenOnLoopback(SOMAXCONN, address);
    if (listenFD < 0) {
        state.SkipWithError("cannot listen");
        return;
    }
    std::thread server([listenFD] {
        for (;;) {
            int fd = ::accept(listenFD, nullptr, nullptr);
            if (fd < 0)
                return; // the listener was shut down
            char byte;
            while (::read(fd, &byte, 1) > 0) {
            }
            ::close(fd);
        }
    });
    SwitchCounter switches(state, "switches_per_cycle", 1);
    for (auto _ : state) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            state.SkipWithError("cannot connect");
            ::close(fd);
            break;
        }
        ::close(fd);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    ::shutdown(listenFD, SHUT_RDWR);
    server.join();
    ::close(listenFD);
}
BENCHMARK(BM_PlainConnectDisconnect)->UseRealTime()->MinTime(2.0);

// Asio: the benchmark thread connects and closes through its own context; a second thread's context
// accepts, reads each connection to its end and closes it.
class AsioAcceptor {
public:
    AsioAcceptor()
        : m_acceptor(m_context, asio::ip::tcp::endpoint(asio::ip::address_v4::loopback(), 0)) {
        acceptNext();
        m_thread = std::thread([this] { m_context.run(); });
    }
    ~AsioAcceptor() {
        asio::post(m_context, [this] { m_acceptor.close(); });
        m_context.stop();
        m_thread.join();
    }
    asio::ip::tcp::endpoint endpoint() const { return m_acceptor.local_endpoint(); }

private:
    struct Connection : std::enable_shared_from_this<Connection> {
        explicit Connection(asio::ip::tcp::socket socket)
            : socket(std::move(socket)) {}
        void readToEnd() {
            socket.async_read_some(asio::buffer(buffer),
                                   [self = shared_from_this()](asio::error_code error, size_t) {
                                       if (!error)
                                           self->readToEnd();
                                   });
        }
        asio::ip::tcp::socket socket;
        char buffer[256];
    };
    void acceptNext() {
        m_acceptor.async_accept([this](asio::error_code error, asio::ip::tcp::socket socket) {
            if (error)
                return;
            std::make_shared<Connection>(std::move(socket))->readToEnd();
            acceptNext();
        });
    }

    asio::io_context m_context;
    asio::ip::tcp::acceptor m_acceptor;
    std::thread m_thread;
};

void BM_AsioConnectDisconnect(benchmark::State& state) {
    AsioAcceptor server;
    asio::io_context context;
    auto endpoint = server.endpoint();
    SwitchCounter switches(state, "switches_per_cycle", 1);
    for (auto _ : state) {
        asio::ip::tcp::socket socket(context);
        asio::error_code result;
        socket.async_connect(endpoint, [&result](asio::error_code error) { result = error; });
        context.restart();
        context.run();
        if (result) {
            state.SkipWithError("cannot connect");
            break;
        }
        socket.close();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_AsioConnectDisconnect)->UseRealTime()->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
