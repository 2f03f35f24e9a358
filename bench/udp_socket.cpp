// The queue-based UDP socket over loopback, beside plain POSIX loops.
// "Receive": a sender sends 32-byte datagrams in bursts the receive buffer holds (so none is lost for
// want of room) and waits for each burst to be counted; a QueueUdpSocket that receives continuously
// counts them in its delegate, a plain thread in a blocking recv loop counts them for the peer.
// "Send": 8 sockets each send 100,000 small datagrams (from a thread each) to a socket that never
// reads; a QueueUdpSocket's are done when the delegate has heard every one sent, the peer's are 8
// threads calling sendto.
#include "bench/SwitchCounter.h"
#include "sockets/queue/QueueUdpSocket.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kDatagram = 32;
constexpr int kBurst = 128;
constexpr int kDatagramsPerRound = 20000;
constexpr int kSenders = 8;
constexpr int kSentPerSender = 100000;

// Counts arrivals; the benchmark thread waits for a total, at most a second (a lost datagram must not
// hang the run: the wait gives up and the loss is reported).
class Counter {
public:
    void add(uint64_t n = 1) {
        std::lock_guard lock(m_mutex);
        m_count += n;
        if (m_count >= m_awaited)
            m_changed.notify_all();
    }
    bool waitFor(uint64_t total) {
        std::unique_lock lock(m_mutex);
        m_awaited = total;
        bool reached = m_changed.wait_for(lock, std::chrono::seconds(1), [&] { return m_count >= total; });
        if (!reached)
            m_count = total; // resynchronise and go on
        return reached;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    uint64_t m_count{0};
    uint64_t m_awaited{0};
};

class CountingDelegate : public QueueUdpSocketDelegate {
public:
    Counter received;
    Counter sent;

    bool respondsTo(std::string_view selector) const override {
        return selector == "udpSocket:didReceiveData:fromAddress:withFilterContext:" ||
               selector == "udpSocket:didSendDataWithTag:";
    }
    void udpSocketDidReceiveData(const QueueUdpSocketPtr&, const platform::Data&, const platform::Data&,
                                 const platform::Value&) override {
        received.add();
    }
    void udpSocketDidSendDataWithTag(const QueueUdpSocketPtr&, int64_t) override { sent.add(); }
};

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// A plain datagram socket bound to a free loopback port; its port through `port`.
int boundSocket(uint16_t* port) {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof(address);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

// Sends the rounds' datagrams to `port` in bursts, waiting for each to be counted.
void sendBursts(benchmark::State& state, uint16_t port, Counter& counter) {
    int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = loopback(port);
    ::connect(sender, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    char datagram[kDatagram] = {};
    uint64_t total = 0;
    int64_t lost = 0;
    for (auto _ : state) {
        for (int sent = 0; sent < kDatagramsPerRound; sent += kBurst) {
            for (int i = 0; i < kBurst; ++i)
                ::send(sender, datagram, sizeof(datagram), 0);
            total += kBurst;
            lost += counter.waitFor(total) ? 0 : 1;
        }
    }
    state.SetItemsProcessed(state.iterations() * kDatagramsPerRound);
    state.counters["bursts_lost"] = double(lost);
    ::close(sender);
}

void BM_QueueUdpReceive(benchmark::State& state) {
    auto delegate = std::make_shared<CountingDelegate>();
    auto socket = QueueUdpSocket::create();
    socket->setDelegate(delegate, platform::DispatchQueue::create("bench.udp.delegate"));
    if (!socket->bindToPort(0, std::string("127.0.0.1")) || !socket->beginReceiving()) {
        state.SkipWithError("cannot receive");
        return;
    }
    sendBursts(state, socket->localPort(), delegate->received);
    socket->close();
}
BENCHMARK(BM_QueueUdpReceive)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_PlainUdpReceive(benchmark::State& state) {
    uint16_t port = 0;
    int receiver = boundSocket(&port);
    if (receiver < 0) {
        state.SkipWithError("cannot bind");
        return;
    }
    Counter counter;
    std::thread reader([receiver, &counter] {
        char buffer[65536];
        while (::recv(receiver, buffer, sizeof(buffer), 0) > 0) // 0 once shut down
            counter.add();
    });
    sendBursts(state, port, counter);
    ::shutdown(receiver, SHUT_RDWR);
    reader.join();
    ::close(receiver);
}
BENCHMARK(BM_PlainUdpReceive)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Runs `send(index)` on kSenders threads at once and waits for them.
template <typename Send> void onSenderThreads(Send send) {
    std::vector<std::thread> threads;
    for (int i = 0; i < kSenders; ++i)
        threads.emplace_back([&send, i] { send(i); });
    for (auto& thread : threads)
        thread.join();
}

void BM_QueueUdpSend(benchmark::State& state) {
    uint16_t port = 0;
    int sink = boundSocket(&port);
    sockaddr_in to = loopback(port);
    const platform::Data address(&to, sizeof(to));
    const platform::Data datagram(std::vector<uint8_t>(kDatagram, 0x5a));
    std::vector<std::shared_ptr<CountingDelegate>> delegates;
    std::vector<QueueUdpSocketPtr> sockets;
    for (int i = 0; i < kSenders; ++i) {
        delegates.push_back(std::make_shared<CountingDelegate>());
        sockets.push_back(QueueUdpSocket::create());
        sockets.back()->setDelegate(delegates.back(), platform::DispatchQueue::create("bench.udp.delegate"));
    }
    uint64_t rounds = 0;
    SwitchCounter switches(state, "switches_per_1000", kSenders * kSentPerSender / 1000.0);
    for (auto _ : state) {
        ++rounds;
        onSenderThreads([&](int i) {
            for (int n = 0; n < kSentPerSender; ++n)
                sockets[i]->sendData(datagram, address, -1, n);
            while (!delegates[i]->sent.waitFor(rounds * kSentPerSender)) {
            }
        });
    }
    state.SetItemsProcessed(state.iterations() * kSenders * kSentPerSender);
    for (auto& socket : sockets)
        socket->close();
    ::close(sink);
}
BENCHMARK(BM_QueueUdpSend)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_PlainUdpSend(benchmark::State& state) {
    uint16_t port = 0;
    int sink = boundSocket(&port);
    sockaddr_in to = loopback(port);
    char datagram[kDatagram] = {};
    SwitchCounter switches(state, "switches_per_1000", kSenders * kSentPerSender / 1000.0);
    for (auto _ : state) {
        onSenderThreads([&](int) {
            int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
            for (int n = 0; n < kSentPerSender; ++n)
                ::sendto(fd, datagram, sizeof(datagram), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
            ::close(fd);
        });
    }
    state.SetItemsProcessed(state.iterations() * kSenders * kSentPerSender);
    ::close(sink);
}
BENCHMARK(BM_PlainUdpSend)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
