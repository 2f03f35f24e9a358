#include "app/core/CommonData.h"
#include "app/core/RequestService.h"
#include "app/screens/LiveViewController.h"
#include "app/ui/UIViewController+Loading_Prompt.h"
#include "platform/foundation/Text.h"

#include <chrono>
#include <cstring>

using namespace platform;

namespace {

constexpr double kNoTimeout = -1;
constexpr double kWriteTimeout = 5.0;
constexpr int64_t kReadTag = 0;
constexpr const char* kHeartbeatPid = "1008";

std::optional<std::string> loggedInRoomId() {
    auto user = CommonData::sharedInstance()->loginUser();
    return user ? user->uidText() : std::nullopt;
}

} // namespace

// The socket holds its delegate weakly and the screen is a platform object already: one of these
// stands for the screen for one connection. It passes on only what its connection reports while that
// connection is still the screen's current one, so a late callback of a dropped connection is ignored.
class LiveViewController::ChatSocketDelegate final : public QueueSocketDelegate {
public:
    ChatSocketDelegate(std::weak_ptr<LiveViewController> screen, uint64_t generation)
        : m_screen(std::move(screen))
        , m_generation(generation) {}

    bool respondsTo(std::string_view selector) const override {
        return selector == "socket:didConnectToHost:port:" || selector == "socket:didWriteDataWithTag:" ||
               selector == "socket:didReadData:withTag:" || selector == "socketDidDisconnect:withError:";
    }
    void socketDidConnectToHost(const QueueSocketPtr& sock, const std::string& host, uint16_t port) override {
        forward([&](LiveViewController& screen) { screen.socketDidConnectToHost(sock, host, port); });
    }
    void socketDidWriteDataWithTag(const QueueSocketPtr& sock, int64_t tag) override {
        forward([&](LiveViewController& screen) { screen.socketDidWriteDataWithTag(sock, tag); });
    }
    void socketDidReadData(const QueueSocketPtr& sock, const sockets::SharedBytes& data,
                           int64_t tag) override {
        forward([&](LiveViewController& screen) { screen.socketDidReadData(sock, data, tag); });
    }
    void socketDidDisconnect(const QueueSocketPtr& sock, const ErrorPtr& err) override {
        forward([&](LiveViewController& screen) { screen.socketDidDisconnect(sock, err); });
    }

private:
    template <typename Call> void forward(const Call& call) {
        auto screen = m_screen.lock();
        if (!screen || !screen->isCurrentChat(m_generation))
            return;
        call(*screen);
        // A screen (and its views) must end on the main thread, even if this was its last owner.
        if (screen.use_count() == 1)
            DispatchQueue::main()->async([last = std::move(screen)] {});
    }

    std::weak_ptr<LiveViewController> m_screen;
    const uint64_t m_generation;
};

// ---- Connecting ------------------------------------------------------------------------------

const QueueSocketPtr& LiveViewController::barrageSocket() {
    // One at a time and in order: the frame buffer is the callbacks' own, and a later read must never
    // overtake an earlier one.
    if (!m_barrageSocket)
        m_barrageSocket = QueueSocket::create(
            m_chatSocketDelegate, DispatchQueue::create(kLiveChatQueueLabel, DispatchQueueAttr::Serial));
    return m_barrageSocket;
}

void LiveViewController::connectBarrage() {
    disconnectBarrage();
    m_messgaeIndex = 0;
    const uint64_t generation = m_chatGeneration;
    m_chatSocketDelegate = std::make_shared<ChatSocketDelegate>(self(), generation);
    barrageSocket()->setDelegate(m_chatSocketDelegate);
    const auto roomId = loggedInRoomId();
    {
        std::lock_guard lock(m_chatMutex);
        m_chatRoomId = roomId.value_or("");
    }
    outputChatRoomConnectState(ChatRoomTypeConnecting);
    std::weak_ptr<LiveViewController> weak = self();
    RequestService::requestChatRoomHost(
        roomId,
        [weak, generation](const Data& route) {
            auto screen = weak.lock();
            if (screen && screen->isCurrentChat(generation))
                screen->receivedChatRoomHostData(route);
        },
        [weak, generation](const std::string& message) {
            auto screen = weak.lock();
            if (screen && screen->isCurrentChat(generation))
                promptMessage(*screen, message);
        });
}

void LiveViewController::disconnectBarrage() {
    ++m_chatGeneration;
    if (!m_barrageSocket)
        return;
    m_barrageSocket->setDelegate(nullptr);
    m_barrageSocket->disconnect();
}

void LiveViewController::receivedChatRoomHostData(const Data& data) {
    std::optional<std::string> host;
    int64_t port = 0;
    if (!parseChatRoomHostData(data, &host, &port)) {
        promptMessage(*this, RequestService::kChatRoomHostFailed);
        return;
    }
    barrageListening(*host, port);
}

bool LiveViewController::parseChatRoomHostData(const Data& data, std::optional<std::string>* host,
                                               int64_t* port) {
    auto route = ::detail::decodeChatRoute(data.span());
    if (host)
        *host = route.host;
    if (port)
        *port = route.port;
    return route.usable;
}

bool LiveViewController::barrageListening(const std::string& host, int64_t port) {
    return barrageSocket()->connectToHost(host, uint16_t(port));
}

// ---- Messages --------------------------------------------------------------------------------

std::string LiveViewController::rid() const {
    std::lock_guard lock(m_chatMutex);
    return m_chatRoomId;
}

int32_t LiveViewController::timestamp() const {
    return ::detail::chatToken(int32_t(text::integerValue(os())), int32_t(text::integerValue(ver())),
                               m_messgaeIndex);
}

void LiveViewController::enterCharRoomRequest() {
    writeRoomMessage(pid());
}

void LiveViewController::sendMessage(const std::string&, const std::string& pid) {
    writeRoomMessage(pid);
}

void LiveViewController::writeRoomMessage(const std::string& pid) {
    // The index is taken and counted in one step: the heartbeat may write from the main thread while
    // the enter-room message goes out from the socket's queue.
    const int32_t index = m_messgaeIndex.fetch_add(1);
    const int32_t token =
        ::detail::chatToken(int32_t(text::integerValue(os())), int32_t(text::integerValue(ver())), index);
    barrageSocket()->writeData(::detail::enterRoomFrame(pid, rid(), os(), ver(), token), kWriteTimeout,
                               ChatRoomTypeConnecting);
}

void LiveViewController::outputChatRoomConnectState(int64_t type) {
    auto line = std::make_shared<ChatModel>();
    line->setType(Value(type));
    addBarrageData(line);
}

void LiveViewController::socketReceivedData(std::span<const uint8_t> frame) {
    auto line = ::detail::chatLineOfFrame(frame);
    if (!line)
        return;
    // The screen adds these itself, from its own session.
    const int64_t type = line->chatRoomType();
    if (type == ChatRoomTypeLiveStarted || type == ChatRoomTypeLiveEnded)
        return;
    addBarrageData(line);
}

void LiveViewController::checkLongConnectByServe() {
    if (!m_longConnectCheckStarted) {
        m_longConnectCheckStarted = true;
        return;
    }
    if (barrageSocket()->isConnected())
        sendMessage("", kHeartbeatPid);
}

void LiveViewController::parseSite(const Data& data) {
    if (data.length() != 20)
        return;
    int32_t words[5];
    std::memcpy(words, data.bytes(), sizeof words);
    for (int32_t& word : words)
        decrypt(&word);
}

void LiveViewController::decrypt(int32_t* value) {
    if (value)
        *value ^= 213;
}

// ---- Socket callbacks (the chat queue) -------------------------------------------------------

void LiveViewController::socketDidConnectToHost(const QueueSocketPtr& sock, const std::string&, uint16_t) {
    m_frameSplitter.reset();
    {
        std::lock_guard lock(m_chatMutex);
        m_reconnectBackoff.connected(Clock::now());
    }
    enterCharRoomRequest();
    sock->readDataWithTimeout(kNoTimeout, kReadTag);
}

void LiveViewController::socketDidWriteDataWithTag(const QueueSocketPtr& sock, int64_t tag) {
    if (tag == ChatRoomTypeConnecting)
        outputChatRoomConnectState(ChatRoomTypeConnected);
    sock->readDataWithTimeout(kNoTimeout, kReadTag);
}

void LiveViewController::socketDidReadData(const QueueSocketPtr& sock, const sockets::SharedBytes& data,
                                           int64_t) {
    const bool followable = m_frameSplitter.append(
        data.span(), [this](std::span<const uint8_t> frame) { socketReceivedData(frame); });
    if (!followable) {
        // A frame over the limit: nothing after it can be framed, so the connection starts over.
        sock->disconnect();
        return;
    }
    sock->readDataWithTimeout(kNoTimeout, kReadTag);
}

void LiveViewController::socketDidDisconnect(const QueueSocketPtr&, const ErrorPtr&) {
    outputChatRoomConnectState(ChatRoomTypeDisconnected);
    if (hasPressedBackButton())
        return;
    DispatchQueue::main()->async(
        [weak = std::weak_ptr<LiveViewController>(self()), generation = m_chatGeneration.load()] {
            if (auto screen = weak.lock())
                screen->reconnectAfterDrop(generation);
        });
}

void LiveViewController::reconnectAfterDrop(uint64_t generation) {
    if (!isCurrentChat(generation) || hasPressedBackButton())
        return;
    Duration delay;
    {
        std::lock_guard lock(m_chatMutex);
        delay = m_reconnectBackoff.delayAfterDrop(Clock::now());
    }
    if (delay == Duration::zero()) {
        connectBarrage();
        return;
    }
    DispatchQueue::main()->after(delay, [weak = std::weak_ptr<LiveViewController>(self()), generation] {
        auto screen = weak.lock();
        if (screen && screen->isCurrentChat(generation) && !screen->hasPressedBackButton())
            screen->connectBarrage();
    });
}

// ---- Timers ----------------------------------------------------------------------------------

namespace {

Duration seconds(double value) {
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(value));
}

// A repeating timer on the main run loop that calls the screen while it lives, fired once at once.
std::shared_ptr<Timer> startRepeating(double interval, const std::shared_ptr<LiveViewController>& screen,
                                      void (LiveViewController::*action)()) {
    auto timer = Timer::scheduledTimerWithTimeInterval(
        seconds(interval), true, [weak = std::weak_ptr<LiveViewController>(screen), action](Timer&) {
            if (auto strong = weak.lock())
                ((*strong).*action)();
        });
    timer->fire();
    return timer;
}

void stopTimer(std::shared_ptr<Timer>& timer) {
    if (timer && timer->isValid())
        timer->invalidate();
    timer.reset();
}

} // namespace

void LiveViewController::autoRequestRoomInfo() {
    stopRequestRoomInfo();
    // A zero, negative or unreadable interval would poll the service without pause.
    double interval = CommonData::sharedInstance()->liveRoomRefreshingInterval();
    if (!(interval >= kShortestRoomInfoInterval))
        interval = kShortestRoomInfoInterval;
    m_roomInfoRequestTimer = startRepeating(interval, self(), &LiveViewController::requestRoomInfo);
}

void LiveViewController::requestRoomInfo() {
    std::weak_ptr<LiveViewController> weak = self();
    RequestService::requestRoomInfo(
        loggedInRoomId(),
        [weak](const std::shared_ptr<RoomModel>& room) {
            if (auto screen = weak.lock()) {
                screen->setLiveRoomModel(room);
                screen->updateViewerView();
            }
        },
        [weak](const std::string& message) {
            if (auto screen = weak.lock())
                promptMessage(*screen, message);
        });
}

void LiveViewController::stopRequestRoomInfo() {
    stopTimer(m_roomInfoRequestTimer);
}

void LiveViewController::autoRefreshBarrage() {
    stopRefreshingBarrage();
    m_barrageRefreshingTimer =
        startRepeating(kBarrageRefreshingInterval, self(), &LiveViewController::reloadBarrageCollectionView);
}

void LiveViewController::stopRefreshingBarrage() {
    stopTimer(m_barrageRefreshingTimer);
}
