// The chat room's wire rules on their own: the route reply, the token, the enter-room frame, the
// frame splitter and the envelope parser, with the bytes a chat server really writes.

#include "app/screens/ChatRoomProtocol.h"

#include "app/core/ServiceModels.h"
#include "tests/peers/ChatServer.h"

#include <gtest/gtest.h>

using liveapp::test::ChatServer;

namespace {

std::span<const uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// Five big-endian words, each XOR 213, as the route endpoint writes them.
std::string routeReply(std::initializer_list<uint32_t> words) {
    std::string bytes;
    for (uint32_t word : words) {
        word ^= 213;
        bytes += {char(word >> 24), char(word >> 16), char(word >> 8), char(word)};
    }
    return bytes;
}

TEST(ChatRouteTest, DecodesAsTheClientReadsAndJudgesWhetherToConnect) {
    struct Case {
        std::string reply;
        std::optional<std::string> host;
        int64_t port;
        bool usable;
    } cases[] = {
        {routeReply({10, 0, 0, 1, 8000}), "10.0.0.1", 8000, true},
        {routeReply({127, 0, 0, 1, 65535}), "127.0.0.1", 65535, true},
        {"", std::nullopt, 0, false},
        {routeReply({256, 0, 0, 1, 8000}), "256.0.0.1", 8000, false},     // an octet over 255
        {routeReply({10, 0, 0, 1, 0}), "10.0.0.1", 0, false},             // port 0
        {routeReply({10, 0, 0, 1, 70000}), "10.0.0.1", 70000, false},     // no 16-bit port
        {routeReply({10, 0, 0, 1, 7000, 9000}), "10.0.0.1", 9000, false}, // the last word is the port
        {routeReply({10, 0, 0}), "10.0.0", 0, false},
        // The mask changes the lowest byte only: 0x01000000 keeps its top byte and is far over 255.
        {routeReply({0x1000000, 0, 0, 1, 8000}), "16777216.0.0.1", 8000, false},
    };
    for (const auto& c : cases) {
        auto route = detail::decodeChatRoute(bytesOf(c.reply));
        EXPECT_EQ(route.host, c.host) << c.reply.size() << " bytes";
        EXPECT_EQ(route.port, c.port) << c.reply.size() << " bytes";
        EXPECT_EQ(route.usable, c.usable) << route.host.value_or("nil") << ":" << route.port;
    }
}

TEST(ChatTokenTest, FollowsTheMessageIndex) {
    EXPECT_EQ(detail::chatToken(3, 1, 0), 303);
    EXPECT_EQ(detail::chatToken(3, 1, 1), 300);
    EXPECT_EQ(detail::chatToken(3, 1, 2), 301);
}

// ---- Frames --------------------------------------------------------------------------------

struct Splits {
    detail::ChatFrameSplitter splitter;
    std::vector<std::string> frames;
    bool feed(std::string_view bytes) {
        return splitter.append(bytesOf(bytes), [this](std::span<const uint8_t> frame) {
            frames.emplace_back(reinterpret_cast<const char*>(frame.data()), frame.size());
        });
    }
};

TEST(ChatFrameSplitterTest, HandsOutWholeFramesHoweverTheBytesWereCut) {
    const std::string a = ChatServer::frame("{\"a\":1}"), b = ChatServer::frame("{}"),
                      c = ChatServer::frame("");
    const std::string all = a + b + c;
    struct Case {
        const char* name;
        std::vector<size_t> cuts; // read sizes; the rest goes in the last read
    } cases[] = {
        {"one read", {}},
        {"byte by byte", std::vector<size_t>(all.size() - 1, 1)},
        {"a 2-byte read first", {2}},
        {"the prefix alone, then the rest", {4}},
        {"across frame boundaries", {a.size() + 3, 5}},
    };
    for (const auto& test : cases) {
        Splits splits;
        size_t offset = 0;
        for (size_t cut : test.cuts) {
            EXPECT_TRUE(splits.feed(std::string_view(all).substr(offset, cut)));
            offset += cut;
        }
        EXPECT_TRUE(splits.feed(std::string_view(all).substr(offset)));
        EXPECT_EQ(splits.frames, (std::vector<std::string>{a, b, c})) << test.name;
        EXPECT_EQ(splits.splitter.pendingLength(), 0u) << test.name;
    }
}

TEST(ChatFrameSplitterTest, RefusesAFrameOverTheLimitUntilReset) {
    Splits splits;
    const std::string atLimit = ChatServer::frame(std::string(detail::kMaximumChatFrameLength, ' '));
    EXPECT_TRUE(splits.feed(atLimit));
    EXPECT_EQ(splits.frames.size(), 1u);

    const std::string twoGigabytes("\x80\x00\x00\x00{}", 6);
    EXPECT_FALSE(splits.feed(ChatServer::frame("{}") + twoGigabytes));
    EXPECT_EQ(splits.frames.size(), 2u); // the frame before it still went out
    EXPECT_FALSE(splits.feed(ChatServer::frame("{}")));
    EXPECT_EQ(splits.frames.size(), 2u);

    splits.splitter.reset();
    EXPECT_TRUE(splits.feed(ChatServer::frame("{}")));
    EXPECT_EQ(splits.frames.size(), 3u);
}

// ---- Envelopes -----------------------------------------------------------------------------

class ChatEnvelopeTest : public testing::Test {
protected:
    void SetUp() override { registerServiceModels(); }
    static std::shared_ptr<ChatModel> lineOf(std::string_view frame) {
        return detail::chatLineOfFrame(bytesOf(frame));
    }
};

TEST_F(ChatEnvelopeTest, HostileFramesYieldNoLine) {
    const std::string cases[] = {
        "",
        std::string("\x00\x00", 2),
        ChatServer::frame("not json"),
        ChatServer::frame("[1, 2]"),
        ChatServer::frame("{\"rid\": \"42\", \"chat\": {}}"),                   // no "json"
        ChatServer::frame("{\"chat\": {\"json\": {\"text\": \"x\"}}}"),         // not a text
        ChatServer::frame("{\"chat\": {\"json\": \"{broken\"}}"),               // a line that is not JSON
        ChatServer::frame(std::string("{\"chat\": {\"json\": \"\xff\xfe\"}}")), // not UTF-8
    };
    for (const auto& frame : cases)
        EXPECT_FALSE(lineOf(frame)) << frame;
}

} // namespace
