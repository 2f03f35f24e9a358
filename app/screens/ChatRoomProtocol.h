#pragma once
// The chat room's wire rules, apart from any socket: the route reply that names the chat server, the
// frame (a 4-byte big-endian body length, then the body), the enter-room message and its token, and
// the chat envelope around one line. Pure functions and one small buffer; safe on any thread.
//
// TCP keeps no message boundaries, so received bytes go through ChatFrameSplitter, which hands out
// whole frames however the bytes were cut, and refuses a frame announcing more than
// kMaximumChatFrameLength (the stream is then unusable and the connection is to be closed).

#include "app/core/ChatModel.h"
#include "platform/foundation/Data.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace detail {

inline constexpr uint32_t kMaximumChatFrameLength = 1u << 20;

// A route reply read as the chat client reads it: lowercase hexadecimal text, eight digits a word,
// each word XOR 213; the first four words are the address octets, the fifth and any later one the
// port (the last wins). `host` is nil for an empty reply. `usable` holds only for exactly four octets
// of at most 255 and a port of 1 to 65535, the only replies worth a connect.
struct ChatRoute {
    std::optional<std::string> host;
    int64_t port{0};
    bool usable{false};
};
ChatRoute decodeChatRoute(std::span<const uint8_t> reply);

// The token steps and the token of the message with this index on a connection:
// ((os XOR 158) + index + (ver XOR 109)) XOR 38, the sum taken in 32 unsigned bits.
inline int32_t encryptOS(int32_t os) {
    return os ^ 158;
}
inline int32_t encryptVer(int32_t ver) {
    return ver ^ 109;
}
inline int32_t encryptTimestamp(int32_t sum) {
    return sum ^ 38;
}
int32_t chatToken(int32_t os, int32_t ver, int32_t messageIndex);

// The framed enter-room message: its five keys pretty-printed as JSON, behind the body's length.
platform::Data enterRoomFrame(std::string_view pid, std::string_view rid, std::string_view os,
                              std::string_view ver, int32_t timestamp);
platform::Data chatFrame(std::span<const uint8_t> body);

// The line of one frame (length prefix included): null for a frame shorter than its prefix, a body
// that is not a JSON object, an envelope without a text under chat "json", or a line that does not
// import.
std::shared_ptr<ChatModel> chatLineOfFrame(std::span<const uint8_t> frame);

class ChatFrameSplitter {
public:
    using FrameHandler = std::function<void(std::span<const uint8_t> frame)>;

    // Adds received bytes and hands every frame they complete to `frame`, prefix included, in order.
    // False once a frame announces more than the limit: its bytes and everything after are dropped,
    // and the splitter stays refused until reset().
    bool append(std::span<const uint8_t> bytes, const FrameHandler& frame);
    void reset();
    // Bytes of a frame not yet complete.
    size_t pendingLength() const { return m_buffer.size() - m_start; }

private:
    std::vector<uint8_t> m_buffer;
    size_t m_start{0};
    bool m_refused{false};
};

} // namespace detail
