#include "tests/sockets/queue/SocketTestSupport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace queuesockettest {

std::set<std::string> allSelectors() {
    return {sel::newSocketQueue,  sel::didAccept,      sel::didConnectToHost,   sel::didConnectToUrl,
            sel::didRead,         sel::didReadPartial, sel::shouldTimeoutRead,  sel::didCloseReadStream,
            sel::didWritePartial, sel::didWrite,       sel::shouldTimeoutWrite, sel::didReceiveTrust,
            sel::didSecure,       sel::didDisconnect};
}

std::set<std::string> chatClientSelectors() {
    return {sel::didConnectToHost, sel::didRead, sel::didWrite, sel::didDisconnect};
}

std::string describe(const platform::ErrorPtr& error) {
    if (!error)
        return "none";
    return error->domain() + " " + std::to_string(error->code()) + ": " + error->localizedDescription();
}

std::string pattern(size_t length) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>('!' + (i * 31 + i / 509) % 90);
    return bytes;
}

std::string RecordingDelegate::readBytes() const {
    std::string out;
    for (const auto& e : eventsOf(EventKind::Read))
        out += e.data.toString();
    return out;
}

std::string RecordingDelegate::readText(size_t n) const {
    auto event = waitFor(EventKind::Read, n);
    return event ? event->data.toString() : std::string("<no read>");
}

std::string RecordingDelegate::disconnectError(size_t n) const {
    auto event = waitFor(EventKind::Disconnect, n);
    return event ? describe(event->error) : std::string("<no disconnect>");
}

void RecordingDelegate::setReadTimeoutExtensions(std::vector<double> extensions) {
    std::lock_guard lock(m_mutex);
    m_readExtensions = std::move(extensions);
}

void RecordingDelegate::setWriteTimeoutExtensions(std::vector<double> extensions) {
    std::lock_guard lock(m_mutex);
    m_writeExtensions = std::move(extensions);
}

void RecordingDelegate::setNewSocketQueue(std::shared_ptr<platform::DispatchQueue> queue) {
    std::lock_guard lock(m_mutex);
    m_newSocketQueue = std::move(queue);
}

void RecordingDelegate::setTrustAnswer(std::optional<bool> answer) {
    std::lock_guard lock(m_mutex);
    m_trustAnswer = answer;
}

std::vector<std::function<void(bool)>> RecordingDelegate::trustHandlers() const {
    std::lock_guard lock(m_mutex);
    return m_trustHandlers;
}

std::vector<QueueSocketPtr> RecordingDelegate::acceptedSockets() const {
    std::lock_guard lock(m_mutex);
    return m_accepted;
}

std::shared_ptr<platform::DispatchQueue>
RecordingDelegate::newSocketQueueForConnectionFromAddress(const platform::Data& address,
                                                          const QueueSocketPtr& sock) {
    std::shared_ptr<platform::DispatchQueue> queue;
    {
        std::lock_guard lock(m_mutex);
        queue = m_newSocketQueue;
    }
    record({.kind = EventKind::NewSocketQueue, .sock = sock, .address = address});
    return queue;
}

void RecordingDelegate::socketDidAcceptNewSocket(const QueueSocketPtr& sock,
                                                 const QueueSocketPtr& newSocket) {
    {
        std::lock_guard lock(m_mutex);
        m_accepted.push_back(newSocket);
    }
    record({.kind = EventKind::Accept, .sock = sock, .newSocket = newSocket});
}

double RecordingDelegate::timeoutQuestion(std::vector<double>& extensions, Event event, int64_t tag,
                                          double elapsed, uint64_t length) {
    event.tag = tag;
    event.elapsed = elapsed;
    event.length = length;
    double answer = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!extensions.empty()) {
            answer = extensions.front();
            extensions.erase(extensions.begin());
        }
    }
    record(std::move(event));
    return answer;
}

void RecordingDelegate::socketDidReceiveTrust(const QueueSocketPtr& sock, const platform::TlsTrustPtr& trust,
                                              std::function<void(bool)> completionHandler) {
    std::optional<bool> answer;
    {
        std::lock_guard lock(m_mutex);
        answer = m_trustAnswer;
        if (!answer)
            m_trustHandlers.push_back(completionHandler);
    }
    record({.kind = EventKind::Trust, .sock = sock, .trust = trust});
    if (answer)
        completionHandler(*answer);
}

void drain(const QueueSocketPtr& socket, const std::shared_ptr<platform::DispatchQueue>& delegateQueue) {
    socket->performBlock([] {});
    if (delegateQueue)
        delegateQueue->sync([] {});
    socket->performBlock([] {});
}

void settle(const QueueSocketPtr& socket, const std::shared_ptr<platform::DispatchQueue>& delegateQueue) {
    if (!socket)
        return;
    socket->disconnect();
    drain(socket, delegateQueue);
}

std::unique_ptr<RawPeer> ConnectedPair::reconnect() {
    socket->disconnect();
    if (!socket->connectToAddress(loopbackAddress(AF_INET, listener->port())))
        return nullptr;
    auto next = listener->accept();
    for (int i = 0; i < 1000 && !socket->isConnected(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return socket->isConnected() ? std::move(next) : nullptr;
}

ConnectedPair connectPair(int family, std::set<std::string> implemented, int peerReceiveBuffer) {
    ConnectedPair pair;
    pair.listener = RawListener::create(family, 16, 0, peerReceiveBuffer);
    if (!pair.listener)
        return pair;
    implemented.insert(sel::didConnectToHost);
    pair.delegate = RecordingDelegate::create(std::move(implemented));
    pair.delegateQueue = platform::DispatchQueue::create("test.delegate");
    pair.socket = QueueSocket::create(pair.delegate, pair.delegateQueue);
    platform::ErrorPtr error;
    if (!pair.socket->connectToAddress(loopbackAddress(family, pair.listener->port()), &error)) {
        pair.socket = nullptr;
        return pair;
    }
    pair.peer = pair.listener->accept();
    if (!pair.peer || !pair.delegate->waitFor(EventKind::ConnectToHost))
        pair.peer = nullptr;
    return pair;
}

} // namespace queuesockettest
