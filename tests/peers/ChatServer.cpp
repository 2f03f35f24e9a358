#include "tests/peers/ChatServer.h"

#include "platform/foundation/JSONSerialization.h"

#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>

namespace liveapp::test {

namespace {

using platform::Value;

struct ViewerLine {
    const char* nick;
    const char* text;
    int64_t type;
};

constexpr ViewerLine kViewerLines[] = {
    {"小明", "主播晚上好！", 0},
    {"阿花", "画面好清楚", 0},
    {"老王", "玫瑰", 3},
    {"路人甲", "666", 999},
};

std::string compactJSON(const Value& object) {
    auto data = platform::JSONSerialization::dataWithJSONObject(object);
    return data ? data->toString() : std::string();
}

// The first frame of a connection, judged against what the chat client must send.
EnterRoomRecord judgeEnterRoom(std::string_view body, const std::string& expectedRoomId) {
    EnterRoomRecord record{std::string(body), false, {}};
    const Value message = platform::JSONSerialization::JSONObjectWithData(platform::Data(body));
    auto textIs = [&](const char* key, std::string_view expected) {
        const std::string* text = message[key].string();
        return text && *text == expected;
    };
    const std::string* rid = message["rid"].string();
    const platform::Number* token = message["timestamp"].number();
    if (!message.isDictionary())
        record.problem = "not a JSON object";
    else if (message.count() != 5)
        record.problem = "not exactly the five keys";
    else if (!textIs("pid", "10003") || !textIs("os", "3") || !textIs("ver", "1"))
        record.problem = "pid, os or ver is not the text \"10003\", \"3\", \"1\"";
    else if (!rid || rid->empty() || (!expectedRoomId.empty() && *rid != expectedRoomId))
        record.problem = "rid is not the room id";
    else if (!token || token->int64Value() != 303)
        record.problem = "timestamp is not the token 303";
    else
        record.valid = true;
    return record;
}

} // namespace

struct ChatServer::Connection {
    Connection(uint64_t id, int fd)
        : id(id)
        , peer(platform::FileDescriptor(fd)) {}
    const uint64_t id;
    RawPeer peer;
    std::mutex sendMutex;
    std::string received;
    bool entered{false}; // guarded by the server's mutex
};

ChatServer::ChatServer(ChatServerOptions options)
    : m_expectedRoomId(std::move(options.expectedRoomId))
    , m_listener(RawListener::create(AF_INET, 16, options.port))
    , m_wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!m_listener || m_wake.get() < 0)
        throw std::runtime_error("chat server: cannot listen on 127.0.0.1");
    m_port = m_listener->port();
    m_thread = std::thread([this] { serve(); });
}

ChatServer::~ChatServer() {
    stop();
}

// ---- Serving ----
void ChatServer::serve() {
    for (;;) {
        std::vector<pollfd> fds{{m_wake.get(), POLLIN, 0}, {m_listener->fd(), POLLIN, 0}};
        std::vector<std::shared_ptr<Connection>> watched;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
            for (auto& [id, connection] : m_connections) {
                fds.push_back({connection->peer.fd(), POLLIN, 0});
                watched.push_back(connection);
            }
        }
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            return;
        uint64_t count = 0;
        if (fds[0].revents) [[maybe_unused]]
            auto ignored = ::read(m_wake.get(), &count, sizeof count);
        if (fds[1].revents & POLLIN)
            acceptConnection();
        for (size_t index = 0; index < watched.size(); ++index) {
            if (fds[index + 2].revents == 0 || readFrom(watched[index]))
                continue;
            std::lock_guard lock(m_mutex);
            m_connections.erase(watched[index]->id);
            m_changed.notify_all();
        }
    }
}

void ChatServer::acceptConnection() {
    int fd = ::accept4(m_listener->fd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    // Each write leaves at once, so pieces a test sends apart arrive apart.
    int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    std::lock_guard lock(m_mutex);
    const uint64_t id = ++m_accepted;
    m_connections.emplace(id, std::make_shared<Connection>(id, fd));
    m_changed.notify_all();
}

// False at the end of the stream or on an error.
bool ChatServer::readFrom(const std::shared_ptr<Connection>& connection) {
    char buffer[4096];
    ssize_t got = ::recv(connection->peer.fd(), buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR)
        return true;
    if (got <= 0)
        return false;
    connection->received.append(buffer, size_t(got));
    std::string& bytes = connection->received;
    while (bytes.size() >= 4) {
        const auto* prefix = reinterpret_cast<const uint8_t*>(bytes.data());
        const size_t length =
            size_t(prefix[0]) << 24 | size_t(prefix[1]) << 16 | size_t(prefix[2]) << 8 | prefix[3];
        if (bytes.size() - 4 < length)
            break;
        recordFrame(*connection, std::string_view(bytes).substr(4, length));
        bytes.erase(0, 4 + length);
    }
    return true;
}

void ChatServer::recordFrame(Connection& connection, std::string_view body) {
    std::lock_guard lock(m_mutex);
    if (!connection.entered) {
        connection.entered = true;
        m_enterRooms.push_back(judgeEnterRoom(body, m_expectedRoomId));
    }
    m_changed.notify_all();
}

void ChatServer::wake() const {
    uint64_t one = 1;
    [[maybe_unused]] auto ignored = ::write(m_wake.get(), &one, sizeof one);
}

// ---- Record ----
size_t ChatServer::connectionCount() const {
    std::lock_guard lock(m_mutex);
    return m_accepted;
}

size_t ChatServer::openConnectionCount() const {
    std::lock_guard lock(m_mutex);
    return m_connections.size();
}

std::vector<EnterRoomRecord> ChatServer::enterRooms() const {
    std::lock_guard lock(m_mutex);
    return m_enterRooms;
}

bool ChatServer::waitForEnterRooms(size_t count, std::chrono::milliseconds deadline) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, deadline, [&] { return m_enterRooms.size() >= count; });
}

// ---- Writing ----
std::vector<std::shared_ptr<ChatServer::Connection>> ChatServer::openConnections(bool enteredOnly) const {
    std::lock_guard lock(m_mutex);
    std::vector<std::shared_ptr<Connection>> result;
    for (auto& [id, connection] : m_connections)
        if (!enteredOnly || connection->entered)
            result.push_back(connection);
    return result;
}

bool ChatServer::sendToAll(std::string_view bytes, bool enteredOnly) {
    bool delivered = false;
    for (auto& connection : openConnections(enteredOnly)) {
        std::lock_guard lock(connection->sendMutex);
        delivered = connection->peer.sendAll(bytes) || delivered;
    }
    return delivered;
}

void ChatServer::closeConnections() {
    // The serving thread sees the end of each stream and lets the connection go.
    for (auto& connection : openConnections(false))
        ::shutdown(connection->peer.fd(), SHUT_RDWR);
}

void ChatServer::stop() {
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_stopping = true;
        m_playing = false;
        m_changed.notify_all();
    }
    wake();
    if (m_thread.joinable())
        m_thread.join();
    if (m_player.joinable())
        m_player.join();
    m_listener.reset();
    std::lock_guard lock(m_mutex);
    m_connections.clear();
    m_changed.notify_all();
}

// ---- Viewers ----
void ChatServer::playViewers(std::chrono::milliseconds interval) {
    stopPlaying();
    std::lock_guard lock(m_mutex);
    if (m_stopping)
        return;
    m_playing = true;
    m_player = std::thread([this, interval] { play(interval); });
}

void ChatServer::stopPlaying() {
    {
        std::lock_guard lock(m_mutex);
        m_playing = false;
        m_changed.notify_all();
    }
    if (m_player.joinable())
        m_player.join();
}

void ChatServer::play(std::chrono::milliseconds interval) {
    for (size_t next = 0;; ++next) {
        {
            std::unique_lock lock(m_mutex);
            if (m_changed.wait_for(lock, interval, [this] { return !m_playing; }))
                return;
        }
        const ViewerLine& line = kViewerLines[next % std::size(kViewerLines)];
        sendToAll(frame(envelope(chatLine(line.nick, line.text, line.type))), true);
    }
}

// ---- What the server writes ----
std::string ChatServer::frame(std::string_view body) {
    const auto length = static_cast<uint32_t>(body.size());
    std::string bytes{char(length >> 24), char(length >> 16), char(length >> 8), char(length)};
    bytes.append(body);
    return bytes;
}

std::string ChatServer::envelope(std::string_view lineJSON, std::string_view roomId) {
    return compactJSON(Value::dictionary(
        {{"rid", roomId}, {"os", 3}, {"pid", 1}, {"chat", Value::dictionary({{"json", lineJSON}})}}));
}

std::string ChatServer::chatLine(std::string_view nick, std::string_view text, int64_t type) {
    return compactJSON(Value::dictionary(
        {{"type", type}, {"text", text}, {"user", Value::dictionary({{"nick", nick}})}, {"time", 0}}));
}

} // namespace liveapp::test
