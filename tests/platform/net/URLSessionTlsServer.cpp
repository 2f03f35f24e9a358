#include "tests/platform/net/URLSessionTlsServer.h"

#include "tests/support/LoopbackPeer.h"
#include "tests/support/TlsTestPki.h"

#include <openssl/ssl.h>
#include <stdexcept>
#include <sys/socket.h>

namespace liveapp::test {

struct TlsServer::Tls {
    SSL_CTX* context{SSL_CTX_new(TLS_server_method())};
    std::unique_ptr<RawListener> listener{RawListener::create(AF_INET)};
    ~Tls() { SSL_CTX_free(context); }
};

TlsServer::TlsServer(std::string body)
    : m_body(std::move(body))
    , m_tls(std::make_unique<Tls>()) {
    const auto& identity = testPki().selfSigned.identity;
    SSL_CTX_use_certificate(m_tls->context, identity->certificate()->x509());
    SSL_CTX_use_PrivateKey(m_tls->context, identity->privateKey());
    if (!m_tls->listener)
        throw std::runtime_error("the TLS test server cannot listen");
    m_port = m_tls->listener->port();
    m_acceptor = std::thread([this] { acceptLoop(); });
}

TlsServer::~TlsServer() {
    m_stopping = true;
    m_acceptor.join();
    std::vector<std::thread> connections;
    {
        std::lock_guard lock(m_mutex);
        connections.swap(m_connections);
    }
    for (auto& connection : connections)
        connection.join();
}

std::string TlsServer::url(std::string_view path) const {
    return "https://127.0.0.1:" + std::to_string(m_port) + std::string(path);
}

void TlsServer::acceptLoop() {
    while (!m_stopping) {
        std::shared_ptr<RawPeer> peer = m_tls->listener->accept(std::chrono::milliseconds(100));
        if (!peer)
            continue;
        std::lock_guard lock(m_mutex);
        m_connections.emplace_back([this, peer] { serve(peer->fd()); });
    }
}

void TlsServer::serve(int fd) {
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    SSL* ssl = SSL_new(m_tls->context);
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) == 1) {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            int count = SSL_read(ssl, buffer, sizeof buffer);
            if (count <= 0)
                break;
            request.append(buffer, count);
        }
        if (request.find("\r\n\r\n") != std::string::npos) {
            std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                                std::to_string(m_body.size()) + "\r\nConnection: close\r\n\r\n" + m_body;
            SSL_write(ssl, reply.data(), static_cast<int>(reply.size()));
            ++m_answered;
        }
        SSL_shutdown(ssl);
    }
    SSL_free(ssl);
}

} // namespace liveapp::test
