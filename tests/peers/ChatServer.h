#pragma once
// A chat server for tests and the development service: it listens on 127.0.0.1 (an ephemeral port
// unless one is given), reads what clients send, checks each connection's first frame as the
// enter-room message (keys "pid" "10003", "rid", "os" "3", "ver" "1", "timestamp" 303 for the first
// message of a connection), and writes frames or raw bytes exactly as a test asks. It reports through
// its own API, so it needs no test framework.
//
// Promises: every write goes to every open connection, in the order asked, whole (a blocking send).
// The record and the waits may be used from any thread. Closing on demand and stopping shut the
// connections at once; the destructor stops the server and joins its threads. Waits use real-time
// deadlines: generous bounds for a failing test, never a measure of speed.
//
//     ChatServer server;
//     stub.setChatServer("127.0.0.1", server.port());
//     ... server.waitForEnterRooms(1); server.sendFrame(ChatServer::envelope(ChatServer::chatLine("ann",
//     "hi")));

#include "tests/peers/LoopbackPeer.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace liveapp::test {

struct ChatServerOptions {
    uint16_t port{0};           // 0: a free one
    std::string expectedRoomId; // when set, "rid" must be this text
};

// A connection's first frame, as the server judged it.
struct EnterRoomRecord {
    std::string body;
    bool valid{false};
    std::string problem; // why it is not valid, for a failure message
};

class ChatServer {
public:
    explicit ChatServer(ChatServerOptions options = {}); // throws std::runtime_error if it cannot listen
    ~ChatServer();
    ChatServer(const ChatServer&) = delete;
    ChatServer& operator=(const ChatServer&) = delete;

    uint16_t port() const { return m_port; }

    // ---- Record ----
    size_t connectionCount() const; // accepted since the start
    size_t openConnectionCount() const;
    std::vector<EnterRoomRecord> enterRooms() const;
    bool waitForEnterRooms(size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(20)) const;

    // ---- Writing (false when no connection took the bytes) ----
    bool sendFrame(std::string_view body) { return sendRaw(frame(body)); }
    bool sendRaw(std::string_view bytes) { return sendToAll(bytes, false); }

    void closeConnections();
    void stop(); // stops listening and closes every connection; idempotent

    // Plays a few viewers' chat and gift lines by itself, one every `interval`, to every connection
    // that has entered the room, until stopPlaying() or stop().
    void playViewers(std::chrono::milliseconds interval);
    void stopPlaying();

    // ---- What the server writes ----
    static std::string frame(std::string_view body); // 4-byte big-endian length, then the body
    // {"rid": "<roomId>", "os": 3, "pid": 1, "chat": {"json": "<line>"}}
    static std::string envelope(std::string_view lineJSON, std::string_view roomId = "42");
    // {"type": <type>, "text": <text>, "user": {"nick": <nick>}, "time": 0}
    static std::string chatLine(std::string_view nick, std::string_view text, int64_t type = 0);

private:
    struct Connection;
    void serve();
    void acceptConnection();
    bool readFrom(const std::shared_ptr<Connection>& connection);
    void recordFrame(Connection& connection, std::string_view body);
    std::vector<std::shared_ptr<Connection>> openConnections(bool enteredOnly) const;
    bool sendToAll(std::string_view bytes, bool enteredOnly);
    void wake() const;
    void play(std::chrono::milliseconds interval);

    std::string m_expectedRoomId;
    std::unique_ptr<RawListener> m_listener;
    platform::FileDescriptor m_wake; // an eventfd that interrupts the serving thread's poll
    uint16_t m_port{0};

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_stopping{false};
    std::map<uint64_t, std::shared_ptr<Connection>> m_connections;
    uint64_t m_accepted{0};
    std::vector<EnterRoomRecord> m_enterRooms;
    bool m_playing{false};

    std::thread m_player;
    std::thread m_thread; // last: it uses everything above
};

} // namespace liveapp::test
