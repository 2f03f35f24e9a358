// The queue-based TCP socket over loopback.
// "Transfer": one QueueSocket pair moves 1 GiB in 64 KiB writes and 64 KiB reads to length (a few
// requests in flight each way), beside the same transfer done by a plain single-threaded epoll loop
// with non-blocking send and recv: the ratio of the two is what the queues, the dispatch sources and
// the callbacks cost per byte.
// "Cycle": connect to a QueueSocket listener, wait for the connect callback, disconnect; and the same
// with a TLS handshake (the client judges trust itself and accepts) before the disconnect.
#include "platform/security/TlsCertificate.h"
#include "platform/security/TlsSettingsKeys.h"
#include "sockets/queue/QueueSocket.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>
#include <set>
#include <sys/epoll.h>
#include <sys/socket.h>
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
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
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

// MARK: - Transfer

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

void BM_QueueSocketTransfer(benchmark::State& state) {
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
BENCHMARK(BM_QueueSocketTransfer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The same bytes through one thread, one epoll set and two non-blocking descriptors.
void BM_PlainEpollTransfer(benchmark::State& state) {
    int listenFD = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(listenFD, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listenFD, 1) != 0 ||
        ::getsockname(listenFD, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        state.SkipWithError("cannot listen");
        return;
    }
    int sender = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(sender, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        state.SkipWithError("cannot connect");
        return;
    }
    int receiver = ::accept(listenFD, nullptr, nullptr);
    ::close(listenFD);
    ::fcntl(sender, F_SETFL, ::fcntl(sender, F_GETFL) | O_NONBLOCK);
    ::fcntl(receiver, F_SETFL, ::fcntl(receiver, F_GETFL) | O_NONBLOCK);

    int epollFD = ::epoll_create1(0);
    epoll_event senderEvent{EPOLLOUT, {.fd = sender}};
    epoll_event receiverEvent{EPOLLIN, {.fd = receiver}};
    ::epoll_ctl(epollFD, EPOLL_CTL_ADD, sender, &senderEvent);
    ::epoll_ctl(epollFD, EPOLL_CTL_ADD, receiver, &receiverEvent);
    std::vector<uint8_t> outgoing(kChunk, 0x5a);
    std::vector<uint8_t> incoming(kChunk);

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

// MARK: - Connection cycles

struct CycleState {
    AcceptedSockets accepted;
    Latch ready;
};

void connectCycles(benchmark::State& state, bool withTls) {
    auto shared = std::make_shared<CycleState>();
    const platform::Value serverSettings = platform::Value::dictionary({
        {platform::kCFStreamSSLIsServer, true},
        {platform::kCFStreamSSLCertificates, platform::Value::array({platform::Value(benchIdentity())})},
    });
    const platform::Value clientSettings = platform::Value::dictionary({
        {QueueSocketManuallyEvaluateTrust, true},
        {platform::kCFStreamSSLPeerName, "localhost"},
    });

    auto serverDelegate = std::make_shared<BenchDelegate>();
    serverDelegate->onAccept = [shared, withTls, serverSettings](const QueueSocketPtr& socket) {
        shared->accepted.add(socket);
        if (withTls)
            socket->startTLS(serverSettings);
        // A pending read hears the client leave, and the socket then lets itself go.
        socket->readDataWithTimeout(-1, 0);
    };
    serverDelegate->onRead = [](const QueueSocketPtr&, uint64_t) {};
    serverDelegate->onDisconnect = [shared](const QueueSocketPtr& socket) {
        if (socket)
            shared->accepted.remove(socket);
    };
    auto clientDelegate = std::make_shared<BenchDelegate>();
    clientDelegate->trustsPeer = true;
    clientDelegate->onConnect = [shared, withTls, clientSettings](const QueueSocketPtr& socket) {
        if (withTls)
            socket->startTLS(clientSettings);
        else
            shared->ready.open();
    };
    clientDelegate->onSecure = [shared](const QueueSocketPtr&) { shared->ready.open(); };

    auto listener = QueueSocket::create(serverDelegate, platform::DispatchQueue::create("bench.server"));
    if (!listener->acceptOnInterface(std::string("127.0.0.1"), 0)) {
        state.SkipWithError("cannot listen");
        return;
    }
    uint16_t port = listener->localPort();
    auto client = QueueSocket::create(clientDelegate, platform::DispatchQueue::create("bench.client"));

    for (auto _ : state) {
        if (!client->connectToHost("127.0.0.1", port)) {
            state.SkipWithError("cannot connect");
            break;
        }
        shared->ready.wait();
        client->disconnect();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    listener->disconnect();
    shared->accepted.clear();
}

void BM_QueueSocketConnectDisconnect(benchmark::State& state) {
    connectCycles(state, false);
}
BENCHMARK(BM_QueueSocketConnectDisconnect)->UseRealTime()->MinTime(2.0);

void BM_QueueSocketConnectTlsHandshakeDisconnect(benchmark::State& state) {
    connectCycles(state, true);
}
BENCHMARK(BM_QueueSocketConnectTlsHandshakeDisconnect)->UseRealTime()->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
