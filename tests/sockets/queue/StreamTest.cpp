// The stream pair and the shared stream thread: one thread for every socket, kept 30 seconds after the
// last one lets go; the pair handed out only on the socket queue; and TLS carried inside the pair.
#include "platform/security/TlsSettingsKeys.h"
#include "tests/sockets/queue/TlsTestSupport.h"

#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

using namespace queuesockettest;
using platform::Data;
using platform::Value;

namespace {

// The kernel keeps the first 15 bytes of a thread's name.
constexpr const char* kStreamThreadName = "QueueSocket-CFS";

// Ids of this process's threads that carry the stream thread's name.
std::vector<std::string> streamThreads() {
    std::vector<std::string> found;
    DIR* tasks = ::opendir("/proc/self/task");
    if (!tasks)
        return found;
    while (dirent* entry = ::readdir(tasks)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name == kStreamThreadName)
            found.push_back(entry->d_name);
    }
    ::closedir(tasks);
    return found;
}

// Polls with a generous real-time bound: threads start and end on their own schedule.
bool eventually(const std::function<bool()>& condition) {
    auto end = std::chrono::steady_clock::now() + kWait;
    while (std::chrono::steady_clock::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

// Connects the pair's socket again (after its first connection closed) and waits until it is through.
std::unique_ptr<RawPeer> connectAgain(ConnectedPair& pair) {
    if (!pair.socket->connectToAddress(loopbackAddress(AF_INET, pair.listener->port())))
        return nullptr;
    auto peer = pair.listener->accept();
    if (!peer || !pair.delegate->waitFor(EventKind::ConnectToHost, 2))
        return nullptr;
    pair.drain();
    return peer;
}

class StreamThreadTest : public testing::Test {
protected:
    ClockInstalled installed;
    std::shared_ptr<platform::ManualClock>& clock = installed.clock;
};

} // namespace

TEST_F(StreamThreadTest, SocketsShareOneThreadThatEndsThirtySecondsAfterTheLastLetsGo) {
    auto first = connectPair(AF_INET);
    auto second = connectPair(AF_INET);
    ASSERT_TRUE(first.peer && second.peer);
    first.drain();
    second.drain();
    ASSERT_TRUE(eventually([] { return streamThreads().size() == 1; }));

    first.socket->disconnect();
    second.socket->disconnect();
    clock->advance(std::chrono::seconds(29));
    EXPECT_EQ(streamThreads().size(), 1u);
    clock->advance(std::chrono::seconds(2));
    EXPECT_TRUE(eventually([] { return streamThreads().empty(); }));
}

TEST_F(StreamThreadTest, ASocketReconnectingWithinThirtySecondsKeepsTheRunningThread) {
    auto pair = connectPair(AF_INET);
    ASSERT_TRUE(pair.peer);
    pair.drain();
    ASSERT_TRUE(eventually([] { return streamThreads().size() == 1; }));
    std::string threadId = streamThreads().at(0);

    pair.socket->disconnect();
    clock->advance(std::chrono::seconds(10));
    auto peer = connectAgain(pair);
    ASSERT_TRUE(peer);

    // The first connection's release falls due; the second still holds the same thread.
    clock->advance(std::chrono::seconds(25));
    pair.socket->performBlock([] {});
    ASSERT_EQ(streamThreads().size(), 1u);
    EXPECT_EQ(streamThreads().at(0), threadId);

    pair.socket->disconnect();
    clock->advance(std::chrono::seconds(31));
    EXPECT_TRUE(eventually([] { return streamThreads().empty(); }));
}

TEST_F(StreamThreadTest, TheThreadLastsThirtySecondsFromTheLatestCloseOfABurst) {
    auto pair = connectPair(AF_INET);
    ASSERT_TRUE(pair.peer);
    pair.drain();
    pair.socket->disconnect();
    // Reconnected and closed again 10 seconds on: the first close's 30 seconds end while the thread
    // must stay for the second's.
    clock->advance(std::chrono::seconds(10));
    auto peer = connectAgain(pair);
    ASSERT_TRUE(peer);
    pair.socket->disconnect();

    clock->advance(std::chrono::seconds(25));
    pair.socket->performBlock([] {});
    EXPECT_EQ(streamThreads().size(), 1u);
    clock->advance(std::chrono::seconds(4));
    pair.socket->performBlock([] {});
    EXPECT_EQ(streamThreads().size(), 1u);
    clock->advance(std::chrono::seconds(2));
    EXPECT_TRUE(eventually([] { return streamThreads().empty(); }));
}

TEST(StreamPairTest, TheStreamsAreHandedOutOnlyOnTheSocketQueue) {
    auto pair = connectPair(AF_INET);
    ASSERT_TRUE(pair.peer);
    EXPECT_FALSE(pair.socket->readStream());
    EXPECT_FALSE(pair.socket->writeStream());
    std::shared_ptr<platform::ReadStream> readStream;
    std::shared_ptr<platform::WriteStream> writeStream;
    pair.socket->performBlock([&] {
        readStream = pair.socket->readStream();
        writeStream = pair.socket->writeStream();
    });
    EXPECT_TRUE(readStream);
    EXPECT_TRUE(writeStream);
    pair.socket->disconnect();
    // The close took the pair down; the descriptor was the socket's to close, not the streams'.
    EXPECT_EQ(readStream->status(), platform::kCFStreamStatusClosed);
}

// Background mode marks both streams of a connected socket for the voice service, only on the socket
// queue. The plain form opens the pair; with the caveat it is left as it was, which inside the connect
// callback means made but not yet open (the connect path opens it afterwards).
TEST(StreamPairTest, BackgroundModeMarksBothStreamsForTheVoiceServiceOnTheSocketQueueOnly) {
    using platform::kCFStreamNetworkServiceType;
    struct Seen {
        bool enabled{false};
        Value readType, writeType;
        platform::StreamStatus readStatus{platform::kCFStreamStatusError};
    };
    auto enable = [](const QueueSocketPtr& socket, bool caveat) {
        Seen seen;
        socket->performBlock([&] {
            seen.enabled = caveat ? socket->enableBackgroundingOnSocketWithCaveat()
                                  : socket->enableBackgroundingOnSocket();
            if (auto readStream = socket->readStream()) {
                seen.readType = readStream->copyProperty(kCFStreamNetworkServiceType);
                seen.writeType = socket->writeStream()->copyProperty(kCFStreamNetworkServiceType);
                seen.readStatus = readStream->status();
            }
        });
        return seen;
    };
    const Value voice("kCFStreamNetworkServiceTypeVoIP");

    auto unconnected = QueueSocket::create(RecordingDelegate::create(), platform::DispatchQueue::create("t"));
    EXPECT_FALSE(enable(unconnected, false).enabled);

    auto pair = connectPair(AF_INET);
    ASSERT_TRUE(pair.peer);
    pair.drain();
    EXPECT_FALSE(pair.socket->enableBackgroundingOnSocket());
    EXPECT_FALSE(pair.socket->enableBackgroundingOnSocketWithCaveat());
    Value untouched;
    pair.socket->performBlock(
        [&] { untouched = pair.socket->readStream()->copyProperty(kCFStreamNetworkServiceType); });
    EXPECT_TRUE(untouched.isNil());
    Seen plain = enable(pair.socket, false);
    EXPECT_TRUE(plain.enabled);
    EXPECT_EQ(plain.readType, voice);
    EXPECT_EQ(plain.writeType, voice);
    EXPECT_EQ(plain.readStatus, platform::kCFStreamStatusOpen);
    // The connection carries on as before.
    pair.socket->readDataToLength(4, -1, 1);
    ASSERT_TRUE(pair.peer->sendAll("ping"));
    EXPECT_EQ(pair.delegate->readText(), "ping");

    auto listener = RawListener::create(AF_INET);
    ASSERT_TRUE(listener);
    auto delegate = RecordingDelegate::create();
    auto delegateQueue = platform::DispatchQueue::create("test.delegate");
    Seen inCallback;
    delegate->onEvent = [&](const Event& event) {
        if (event.kind == EventKind::ConnectToHost)
            inCallback = enable(event.sock, true);
    };
    auto socket = QueueSocket::create(delegate, delegateQueue);
    ASSERT_TRUE(socket->connectToAddress(loopbackAddress(AF_INET, listener->port())));
    auto peer = listener->accept();
    ASSERT_TRUE(peer && delegate->waitFor(EventKind::ConnectToHost));
    drain(socket, delegateQueue);
    EXPECT_TRUE(inCallback.enabled);
    EXPECT_EQ(inCallback.readType, voice);
    EXPECT_EQ(inCallback.writeType, voice);
    EXPECT_EQ(inCallback.readStatus, platform::kCFStreamStatusNotOpen);
    Seen after = enable(socket, true);
    EXPECT_EQ(after.readType, voice);
    EXPECT_EQ(after.readStatus, platform::kCFStreamStatusOpen);
    settle(socket, delegateQueue);
}

// ---- TLS inside the stream pair ----
namespace {

Value streamTlsSettings() {
    // The streams judge the chain themselves; the test root is not one the system knows.
    return Value::dictionary({
        {QueueSocketUseCFStreamForTLS, true},
        {platform::kCFStreamSSLPeerName, "localhost"},
        {platform::kCFStreamSSLValidatesCertificateChain, false},
    });
}

} // namespace

TEST(StreamTlsTest, TlsThroughTheStreamsSecuresTheConnectionAndCarriesDataBothWays) {
    auto pair = connectTlsPair();
    ASSERT_TRUE(pair.server && pair.client);
    pair.server->startTLS(serverTlsSettings(testPki().server));
    pair.client->startTLS(streamTlsSettings());
    ASSERT_TRUE(pair.clientDelegate->waitFor(EventKind::Secure));
    ASSERT_TRUE(pair.serverDelegate->waitFor(EventKind::Secure));
    EXPECT_TRUE(pair.client->isSecure());

    const std::string up = pattern(300000);
    const std::string down = pattern(200000);
    pair.client->writeData(Data(up), -1, 1);
    pair.server->writeData(Data(down), -1, 2);
    pair.server->readDataToLength(up.size(), -1, 3);
    pair.client->readDataToLength(down.size(), -1, 4);
    auto serverRead = pair.serverDelegate->waitFor(EventKind::Read, 1, std::chrono::seconds(60));
    auto clientRead = pair.clientDelegate->waitFor(EventKind::Read, 1, std::chrono::seconds(60));
    ASSERT_TRUE(serverRead && clientRead);
    EXPECT_TRUE(serverRead->data.toString() == up);
    EXPECT_TRUE(clientRead->data.toString() == down);
    ASSERT_TRUE(pair.clientDelegate->waitFor(EventKind::Write));

    // Lines and small reads are served from what the streams already decrypted.
    pair.server->writeData(Data(std::string_view("alpha\nbeta\n")), -1, 5);
    pair.client->readDataToData(QueueSocket::LFData(), -1, 6);
    pair.client->readDataToData(QueueSocket::LFData(), -1, 7);
    ASSERT_TRUE(pair.clientDelegate->waitFor(EventKind::Read, 3));
    auto reads = pair.clientDelegate->eventsOf(EventKind::Read);
    EXPECT_EQ(reads[1].data.toString(), "alpha\n");
    EXPECT_EQ(reads[2].data.toString(), "beta\n");

    // The server leaving ends the client's stream: a close caused by the peer.
    pair.server->disconnect();
    auto disconnect = pair.clientDelegate->await(EventKind::Disconnect);
    EXPECT_TRUE(disconnect.error);
    pair.disconnect();
}

TEST(StreamTlsTest, BytesAlreadyReadAheadMakeTheUpgradeThroughTheStreamsImpossible) {
    auto pair = connectPair(AF_INET);
    ASSERT_TRUE(pair.peer);
    pair.socket->readDataToData(QueueSocket::LFData(), -1, 1);
    ASSERT_TRUE(pair.peer->sendAll("hello\nhandshake bytes"));
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::Read));
    pair.socket->startTLS(streamTlsSettings());
    EXPECT_EQ(
        pair.delegate->disconnectError(),
        "QueueSocketErrorDomain 8: Invalid TLS transition. Handshake has already been read from socket.");
}
