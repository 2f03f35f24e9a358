#pragma once
// The broadcast screen in its world: a window with the home stack, the service stub (user 42, a room
// with its viewer count, the route to a chat server of the test's own), a scripted Wi-Fi network, the
// manual clock, and the screen made and ready to be presented. Helpers read the barrage lines and the
// prompt as the user would see them.

#include "app/screens/LiveViewController.h"
#include "app/ui/BaseNavigationController.h"
#include "tests/app/support/ServiceScreenFixture.h"
#include "tests/peers/ChatServer.h"
#include "tests/support/FakeReachability.h"
#include "tests/support/FakeResolver.h"

#include <string>
#include <string_view>
#include <vector>

namespace liveapp::test {

class LiveScreenFixture : public ServiceScreenFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    // Presents the screen over the home screen and lets it appear (chat connect, timers).
    void present();
    // Presented and joined: the chat server has the enter-room message and the list says so.
    void presentAndJoin();

    // Pumps the main loop until the server has had `count` enter-room messages.
    bool waitForEnterRooms(const ChatServer& server, size_t count);
    // Lets the chat callbacks under way finish, then runs what they sent to the main queue.
    void settle();

    // The barrage as the list holds it: each line's display text, oldest first.
    std::vector<std::string> lines();
    size_t countOf(std::string_view text);
    bool waitForCount(std::string_view text, size_t count);
    // The prompt on the broadcast screen now ("" when none).
    using ServiceScreenFixture::promptShown;
    using ServiceScreenFixture::waitForPrompt;
    std::string promptShown() { return promptShown(*screen); }
    bool waitForPrompt(std::string_view text) { return waitForPrompt(*screen, text); }

    // The push address's server part (the key is "k" and the user 42).
    void useStreamServer(const std::string& server);
    std::shared_ptr<LiveControlPanel> panel() { return screen->controlPanel(); }

    static constexpr std::string_view kConnecting = "弹幕服务器连接中...";
    static constexpr std::string_view kConnected = "弹幕服务器连接成功！";
    static constexpr std::string_view kDisconnected = "弹幕服务器断开连接！";
    static constexpr std::string_view kLiveStarted = "直播开始啦！";
    static constexpr std::string_view kLiveEnded = "直播结束啦！";

    std::shared_ptr<FakeResolver> resolver{std::make_shared<FakeResolver>()};
    ScopedResolver installedResolver{resolver};
    FakeReachability network{FakeReachability::Network::WiFi};
    std::unique_ptr<ChatServer> chat;
    BaseNavigationControllerPtr navigation;
    std::shared_ptr<LiveViewController> screen;
};

} // namespace liveapp::test
