#pragma once
// A tiny HTTPS peer for the session's certificate tests: the test PKI's self-signed certificate (for
// 127.0.0.1 and localhost, so only its issuer is unknown) and one fixed 200 reply per connection.
// Listens on 127.0.0.1 from construction; the destructor stops it and joins its threads.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace liveapp::test {

class TlsServer {
public:
    explicit TlsServer(std::string body);
    ~TlsServer();
    TlsServer(const TlsServer&) = delete;
    TlsServer& operator=(const TlsServer&) = delete;

    std::string url(std::string_view path) const; // "https://127.0.0.1:PORT/path"
    // Requests that got through the handshake and were answered.
    int answered() const { return m_answered; }

private:
    struct Tls;
    void acceptLoop();
    void serve(int fd);

    std::string m_body;
    std::unique_ptr<Tls> m_tls;
    uint16_t m_port{0};
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_answered{0};
    std::mutex m_mutex;
    std::vector<std::thread> m_connections;
    std::thread m_acceptor;
};

} // namespace liveapp::test
