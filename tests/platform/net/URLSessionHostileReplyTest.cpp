// Replies no sane server sends: garbage instead of a status line, impossible statuses, bodies cut
// or framed wrongly, folded, odd and endless header fields, challenges that cannot be answered.
// Each must end the task with a reply or an NSURLErrorDomain error, never a crash or a hang.

#include "tests/platform/net/URLSessionTestSupport.h"

#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace platform;
using namespace liveapp::test;

namespace {

// Answers every connection with the same raw bytes, then closes it.
class RawReplyServer {
public:
    explicit RawReplyServer(std::string reply)
        : m_reply(std::move(reply)) {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listener, 8);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~RawReplyServer() {
        m_stopping = true;
        m_thread.join();
        ::close(m_listener);
    }

    URLPtr url() const { return URL::create("http://127.0.0.1:" + std::to_string(m_port) + "/x"); }

private:
    void serve() {
        while (!m_stopping) {
            pollfd waiting{m_listener, POLLIN, 0};
            if (::poll(&waiting, 1, 50) <= 0)
                continue;
            int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                pollfd readable{fd, POLLIN, 0};
                if (::poll(&readable, 1, 5000) <= 0)
                    break;
                ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
                if (count <= 0)
                    break;
                request.append(buffer, static_cast<size_t>(count));
            }
            ::send(fd, m_reply.data(), m_reply.size(), MSG_NOSIGNAL);
            ::shutdown(fd, SHUT_WR);
            ::close(fd);
        }
    }

    std::string m_reply;
    int m_listener{-1};
    uint16_t m_port{0};
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

int64_t errorFor(URLSessionPtr session, const std::string& reply, int64_t* status = nullptr,
                 std::string* body = nullptr) {
    RawReplyServer server(reply);
    Completion done;
    session->dataTaskWithURL(server.url(), done.handler())->resume();
    EXPECT_TRUE(done.wait());
    if (status)
        *status = done.status();
    if (body)
        *body = done.body();
    if (done.error) {
        EXPECT_EQ(done.error->domain(), NSURLErrorDomain);
    }
    return done.errorCode();
}

TEST(URLSessionHostileReply, GarbageInsteadOfAStatusLineIsABadServerResponse) {
    auto session = URLSession::sessionWithConfiguration(isolatedConfiguration());
    EXPECT_EQ(errorFor(session, "garbage\r\n\r\n"), NSURLErrorBadServerResponse);
    EXPECT_EQ(errorFor(session, ""), NSURLErrorNetworkConnectionLost);
}

TEST(URLSessionHostileReply, ImpossibleStatusesAreRefused) {
    auto session = URLSession::sessionWithConfiguration(isolatedConfiguration());
    EXPECT_NE(errorFor(session, "HTTP/1.1 999 Odd\r\nContent-Length: 0\r\n\r\n"), 0);
    EXPECT_NE(errorFor(session, "HTTP/1.1 abc Odd\r\nContent-Length: 0\r\n\r\n"), 0);
}

TEST(URLSessionHostileReply, BodiesCutShortOrFramedWronglyAreErrors) {
    auto session = URLSession::sessionWithConfiguration(isolatedConfiguration());
    EXPECT_EQ(errorFor(session, "HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nshort"),
              NSURLErrorNetworkConnectionLost);
    EXPECT_NE(errorFor(session, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nxx\r\n"), 0);
    EXPECT_NE(errorFor(session, "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 4\r\n\r\nnope"),
              0);
}

TEST(URLSessionHostileReply, OddHeaderLinesAreReadOrRefused) {
    auto session = URLSession::sessionWithConfiguration(isolatedConfiguration());
    RawReplyServer server("HTTP/1.1 200 OK\r\n"
                          "X-Folded: first\r\n"
                          "  second\r\n"
                          ": empty name\r\n"
                          "X-Empty:\r\n"
                          "Content-Length: 2\r\n\r\nok");
    Completion done;
    session->dataTaskWithURL(server.url(), done.handler())->resume();
    ASSERT_TRUE(done.wait());
    ASSERT_EQ(done.errorCode(), 0);
    auto http = std::dynamic_pointer_cast<HTTPURLResponse>(done.response);
    EXPECT_EQ(http->valueForHTTPHeaderField("X-Folded"), "first second");
    EXPECT_EQ(http->valueForHTTPHeaderField("X-Empty"), "");
    EXPECT_EQ(done.body(), "ok");
    EXPECT_EQ(errorFor(session, "HTTP/1.1 200 OK\r\nno colon here\r\nContent-Length: 0\r\n\r\n"),
              NSURLErrorBadServerResponse);
}

TEST(URLSessionHostileReply, EndlessHeaderFieldsEndTheTask) {
    auto session = URLSession::sessionWithConfiguration(isolatedConfiguration());
    std::string reply = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 20000; ++i)
        reply += "X-Field-" + std::to_string(i) + ": " + std::string(40, 'v') + "\r\n";
    reply += "Content-Length: 0\r\n\r\n";
    int64_t status = 0;
    int64_t code = errorFor(session, reply, &status);
    EXPECT_TRUE(code != 0 || status == 200);
}

TEST(URLSessionHostileReply, AHeaderLineLongerThanTheTransferAcceptsIsABadServerResponse) {
    auto session = URLSession::sessionWithConfiguration(isolatedConfiguration());
    std::string reply = "HTTP/1.1 200 OK\r\nX-Long: " + std::string(200 * 1024, 'v') + "\r\n";
    EXPECT_EQ(errorFor(session, reply + "Content-Length: 0\r\n\r\n"), NSURLErrorBadServerResponse);
}

TEST(URLSessionHostileReply, ChallengesThatCannotBeAnsweredLeaveThe401) {
    for (std::string challenge : {"Negotiate", "Basic realm=\"unterminated", "", "Digest"}) {
        RawReplyServer server("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: " + challenge +
                              "\r\nContent-Length: 4\r\n\r\nnope");
        auto delegate = std::make_shared<RecordingDelegate>();
        auto asking = URLSession::sessionWithConfiguration(isolatedConfiguration(), delegate, nullptr);
        Completion done;
        asking->dataTaskWithURL(server.url(), done.handler())->resume();
        ASSERT_TRUE(done.wait());
        EXPECT_EQ(done.errorCode(), 0) << challenge;
        EXPECT_EQ(done.status(), 401) << challenge;
        EXPECT_EQ(done.body(), "nope") << challenge;
        finishAndWait(asking, delegate);
    }
}

} // namespace
