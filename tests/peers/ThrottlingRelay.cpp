#include "tests/peers/ThrottlingRelay.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <fcntl.h>
#include <limits>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <vector>

namespace liveapp::test {

namespace {

using Steady = std::chrono::steady_clock;

constexpr size_t kDownwardHold = 64 * 1024;
// A slow rate waits until the bucket holds this much (or a whole burst, if that is smaller) before
// reading, rather than waking for every few bytes.
constexpr double kSmallestRead = 1024;
constexpr size_t kUnlimited = std::numeric_limits<size_t>::max();

// One way of a connection: reads from one socket, holds what the other has not taken yet, and passes
// it on before reading more.
class Direction {
public:
    Direction(int from, int to, size_t hold, detail::ByteTally& delivered)
        : m_from(from)
        , m_to(to)
        , m_buffer(hold)
        , m_delivered(delivered) {}

    bool holding() const { return m_sent < m_length; }
    bool wantsToRead() const { return !m_ended && !m_failed && !holding(); }
    // Ended and delivered, or failed: the connection is over.
    bool finished() const { return m_failed || (m_ended && !holding()); }

    // Reads at most `allowance` bytes when `from` is readable, then passes on what it holds. Answers
    // how many bytes it read.
    size_t step(bool readable, size_t allowance) {
        size_t read = 0;
        if (readable && wantsToRead() && allowance > 0) {
            ssize_t n = ::recv(m_from, m_buffer.data(), std::min(m_buffer.size(), allowance), MSG_DONTWAIT);
            if (n > 0)
                read = size_t(n);
            else if (n == 0)
                m_ended = true;
            else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                m_failed = true;
            m_length = read;
            m_sent = 0;
        }
        deliver();
        return read;
    }

private:
    void deliver() {
        if (!holding())
            return;
        std::unique_lock lock = m_delivered.lock();
        while (holding()) {
            ssize_t n =
                ::send(m_to, m_buffer.data() + m_sent, m_length - m_sent, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) {
                m_sent += size_t(n);
                m_delivered.add(uint64_t(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                    m_failed = true;
                return;
            }
        }
    }

    int m_from;
    int m_to;
    std::vector<char> m_buffer;
    size_t m_length{0};
    size_t m_sent{0};
    bool m_ended{false};
    bool m_failed{false};
    detail::ByteTally& m_delivered;
};

struct Connection {
    Connection(std::unique_ptr<RawPeer> clientPeer, std::unique_ptr<RawPeer> serverPeer, size_t upwardHold,
               detail::ByteTally& toServer, detail::ByteTally& toClient)
        : client(std::move(clientPeer))
        , server(std::move(serverPeer))
        , up(client->fd(), server->fd(), upwardHold, toServer)
        , down(server->fd(), client->fd(), kDownwardHold, toClient) {}

    bool finished() const { return up.finished() || down.finished(); }

    std::unique_ptr<RawPeer> client;
    std::unique_ptr<RawPeer> server;
    Direction up;
    Direction down;
};

void setNoDelay(int fd) {
    int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
}

} // namespace

// The relay's thread: the token bucket and every connection live here alone.
class ThrottlingRelay::Loop {
public:
    explicit Loop(ThrottlingRelay& relay)
        : m_relay(relay) {}

    void run() {
        for (;;) {
            bool stopping = false;
            std::optional<int> rate = m_relay.rate(stopping);
            if (stopping)
                return;
            refill();
            if (rate != m_rate)
                applyRate(rate);
            std::vector<pollfd> fds = watchList();
            if (::poll(fds.data(), fds.size(), timeoutMs()) < 0 && errno != EINTR)
                return;
            if (fds[0].revents) {
                uint64_t count = 0;
                [[maybe_unused]] auto ignored = ::read(m_relay.m_wake.get(), &count, sizeof count);
            }
            refill();
            serve(fds);
            if (fds[1].revents & POLLIN)
                accept();
        }
    }

private:
    // Bytes per second, nullopt when unthrottled.
    std::optional<double> bytesPerSecond() const {
        if (!m_rate)
            return std::nullopt;
        return std::max(0, *m_rate) * 1000.0 / 8.0;
    }
    double burst() const { return bytesPerSecond().value_or(0) / 20.0; }
    double smallestRead() const { return std::max(1.0, std::min(burst(), kSmallestRead)); }
    size_t allowance() const { return m_rate ? size_t(m_tokens) : kUnlimited; }

    void refill() {
        const Steady::time_point now = Steady::now();
        const double seconds = std::chrono::duration<double>(now - m_refilled).count();
        m_refilled = now;
        if (m_rate)
            m_tokens = std::min(burst(), m_tokens + *bytesPerSecond() * seconds);
    }

    // The time spent at the old rate is already counted by refill().
    void applyRate(std::optional<int> rate) {
        const bool wasUnthrottled = !m_rate;
        m_rate = rate;
        m_tokens = wasUnthrottled ? burst() : std::min(m_tokens, burst());
    }

    bool clientsWaitForTokens() const {
        return m_rate && allowance() < smallestRead() &&
               std::any_of(m_connections.begin(), m_connections.end(),
                           [](const auto& connection) { return connection->up.wantsToRead(); });
    }

    int timeoutMs() const {
        const double rate = bytesPerSecond().value_or(0);
        if (rate <= 0 || !clientsWaitForTokens())
            return -1;
        return std::max(1, int(std::ceil((smallestRead() - m_tokens) / rate * 1000.0)));
    }

    // The wake descriptor, the listener, then each connection's client and server.
    std::vector<pollfd> watchList() const {
        std::vector<pollfd> fds{{m_relay.m_wake.get(), POLLIN, 0}, {m_relay.m_listener->fd(), POLLIN, 0}};
        const bool clientsMayRead = !m_rate || allowance() >= smallestRead();
        for (const auto& connection : m_connections) {
            const short clientEvents = short((clientsMayRead && connection->up.wantsToRead() ? POLLIN : 0) |
                                             (connection->down.holding() ? POLLOUT : 0));
            const short serverEvents = short((connection->down.wantsToRead() ? POLLIN : 0) |
                                             (connection->up.holding() ? POLLOUT : 0));
            fds.push_back({connection->client->fd(), clientEvents, 0});
            fds.push_back({connection->server->fd(), serverEvents, 0});
        }
        return fds;
    }

    void serve(const std::vector<pollfd>& fds) {
        for (size_t index = 0; index < m_connections.size(); ++index) {
            Connection& connection = *m_connections[index];
            const short clientEvents = fds[2 + 2 * index].revents;
            const short serverEvents = fds[3 + 2 * index].revents;
            // A reset side fails at once, even while the client is not being read.
            if ((clientEvents | serverEvents) & (POLLERR | POLLHUP)) {
                m_closing.push_back(index);
                continue;
            }
            if (m_rate)
                m_tokens -= double(connection.up.step(clientEvents & POLLIN, allowance()));
            else
                connection.up.step(clientEvents & POLLIN, kUnlimited);
            connection.down.step(serverEvents & POLLIN, kUnlimited);
            if (connection.finished())
                m_closing.push_back(index);
        }
        for (auto index = m_closing.rbegin(); index != m_closing.rend(); ++index) {
            m_connections.erase(m_connections.begin() + std::ptrdiff_t(*index));
            --m_relay.m_open;
        }
        m_closing.clear();
    }

    void accept() {
        std::unique_ptr<RawPeer> client = m_relay.m_listener->accept(std::chrono::seconds(0));
        if (!client)
            return;
        ++m_relay.m_accepted;
        // Loopback answers a connect at once (or refuses it); a refused target closes the client.
        std::unique_ptr<RawPeer> server = RawPeer::connectTo(AF_INET, m_relay.m_targetPort);
        if (!server)
            return;
        setNoDelay(client->fd());
        setNoDelay(server->fd());
        m_connections.push_back(std::make_unique<Connection>(
            std::move(client), std::move(server), m_relay.m_hold, m_relay.m_toServer, m_relay.m_toClient));
        ++m_relay.m_open;
    }

    ThrottlingRelay& m_relay;
    std::optional<int> m_rate;
    double m_tokens{0};
    Steady::time_point m_refilled{Steady::now()};
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::vector<size_t> m_closing;
};

ThrottlingRelay::ThrottlingRelay(uint16_t targetPort, std::optional<int> kbitPerSecond, size_t hold)
    : m_targetPort(targetPort)
    , m_hold(std::max<size_t>(hold, 1))
    , m_listener(RawListener::create(AF_INET, 16, 0, int(std::min<size_t>(m_hold, INT_MAX))))
    , m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    , m_rate(kbitPerSecond) {
    if (!m_listener || !m_wake)
        throw std::runtime_error("throttling relay: cannot listen on 127.0.0.1");
    // A client that gives up between the poll and the accept must not block the relay's thread.
    ::fcntl(m_listener->fd(), F_SETFL, ::fcntl(m_listener->fd(), F_GETFL) | O_NONBLOCK);
    m_port = m_listener->port();
    m_thread = std::thread([this] { Loop(*this).run(); });
}

ThrottlingRelay::~ThrottlingRelay() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    wake();
    m_thread.join();
}

void ThrottlingRelay::setRate(std::optional<int> kbitPerSecond) {
    {
        std::lock_guard lock(m_mutex);
        m_rate = kbitPerSecond;
    }
    wake();
}

std::optional<int> ThrottlingRelay::rate(bool& stopping) const {
    std::lock_guard lock(m_mutex);
    stopping = m_stopping;
    return m_rate;
}

void ThrottlingRelay::wake() const {
    uint64_t one = 1;
    [[maybe_unused]] auto ignored = ::write(m_wake.get(), &one, sizeof one);
}

} // namespace liveapp::test
