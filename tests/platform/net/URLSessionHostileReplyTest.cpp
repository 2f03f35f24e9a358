// Replies no sane server sends: garbage instead of a status line, impossible statuses, bodies cut
// or framed wrongly, folded, odd and endless header fields, challenges that cannot be answered.
// Each must end the task with a reply or an NSURLErrorDomain error, never a crash or a hang.

#include "tests/peers/LoopbackPeer.h"
#include "tests/platform/net/URLSessionTestSupport.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace platform;
using namespace liveapp::test;

namespace {

// Answers every connection with the same raw bytes once the request head is in, then closes it.
class RawReplyServer {
public:
    explicit RawReplyServer(std::string reply)
        : m_reply(std::move(reply)) {
        m_thread = std::thread([this] {
            while (!m_stopping) {
                auto peer = m_listener->accept(std::chrono::milliseconds(50));
                std::string request;
                while (peer && request.find("\r\n\r\n") == std::string::npos) {
                    std::string got = peer->receiveSome(std::chrono::seconds(5));
                    if (got.empty())
                        break;
                    request += got;
                }
                if (peer) {
                    peer->sendAll(m_reply);
                    peer->shutdownWrite();
                }
            }
        });
    }
    ~RawReplyServer() {
        m_stopping = true;
        m_thread.join();
    }

    URLPtr url() const {
        return URL::create("http://127.0.0.1:" + std::to_string(m_listener->port()) + "/x");
    }

private:
    std::string m_reply;
    std::unique_ptr<RawListener> m_listener = RawListener::create(AF_INET);
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

int64_t errorFor(URLSessionPtr session, const std::string& reply, int64_t* status = nullptr) {
    RawReplyServer server(reply);
    Completion done;
    session->dataTaskWithURL(server.url(), done.handler())->resume();
    EXPECT_TRUE(done.wait());
    if (status)
        *status = done.status();
    if (done.error) {
        EXPECT_EQ(done.error->domain(), NSURLErrorDomain);
    }
    return done.errorCode();
}

TEST(URLSessionHostileReply, BrokenHeadsAndBodiesAreErrors) {
    auto session = URLSession::sessionWithConfiguration(isolatedConfiguration());
    const std::string longLine = "HTTP/1.1 200 OK\r\nX-Long: " + std::string(200 * 1024, 'v') + "\r\n";
    std::string manyLines = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 310; ++i)
        manyLines += "X-Field-" + std::to_string(i) + ": " + std::string(1000, 'v') + "\r\n";
    const std::pair<std::string, int64_t> exact[] = {
        {"garbage\r\n\r\n", NSURLErrorBadServerResponse},
        {"", NSURLErrorNetworkConnectionLost},
        {"HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nshort", NSURLErrorNetworkConnectionLost},
        {"HTTP/1.1 200 OK\r\nno colon here\r\nContent-Length: 0\r\n\r\n", NSURLErrorBadServerResponse},
        // longer than the transfer accepts
        {longLine + "Content-Length: 0\r\n\r\n", NSURLErrorBadServerResponse},
        // short lines, but more of them in all than the transfer accepts
        {manyLines + "Content-Length: 0\r\n\r\n", NSURLErrorBadServerResponse},
        // impossible statuses and wrong framing: some error
        {"HTTP/1.1 999 Odd\r\nContent-Length: 0\r\n\r\n", -1},
        {"HTTP/1.1 abc Odd\r\nContent-Length: 0\r\n\r\n", -1},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nxx\r\n", -1},
        {"HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 4\r\n\r\nnope", -1},
    };
    for (const auto& [reply, code] : exact) {
        SCOPED_TRACE(reply.substr(0, 40));
        int64_t got = errorFor(session, reply);
        if (code == -1)
            EXPECT_NE(got, 0);
        else
            EXPECT_EQ(got, code);
    }
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
