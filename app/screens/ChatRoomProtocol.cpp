#include "app/screens/ChatRoomProtocol.h"

#include "app/core/RoomChatModel.h"
#include "platform/foundation/JSONSerialization.h"

#include <fmt/format.h>

namespace detail {

namespace {

constexpr uint32_t kRouteMask = 213;
constexpr size_t kPrefixLength = 4;
constexpr size_t kHostWords = 4;

uint32_t readBigEndian(std::span<const uint8_t> bytes) {
    uint32_t value = 0;
    for (uint8_t byte : bytes)
        value = (value << 8) | byte;
    return value;
}

// The reply's words: every four bytes big-endian (a shorter tail reads as the bytes it has, as eight
// hexadecimal digits cut short would), unmasked.
std::vector<uint32_t> routeWords(std::span<const uint8_t> reply) {
    std::vector<uint32_t> words;
    for (size_t offset = 0; offset < reply.size(); offset += 4)
        words.push_back(readBigEndian(reply.subspan(offset, std::min<size_t>(4, reply.size() - offset))) ^
                        kRouteMask);
    return words;
}

} // namespace

ChatRoute decodeChatRoute(std::span<const uint8_t> reply) {
    ChatRoute route;
    const auto words = routeWords(reply);
    bool octetsFit = true;
    for (size_t index = 0; index < words.size(); ++index) {
        if (index == 0) {
            route.host = fmt::format("{}", words[index]);
        } else if (index < kHostWords) {
            route.host = fmt::format("{}.{}", *route.host, words[index]);
        } else {
            route.port = words[index];
            continue;
        }
        octetsFit = octetsFit && words[index] <= 255;
    }
    route.usable = words.size() == kHostWords + 1 && reply.size() % 4 == 0 && octetsFit && route.port > 0 &&
                   route.port <= 65535;
    return route;
}

int32_t chatToken(int32_t os, int32_t ver, int32_t messageIndex) {
    const uint32_t sum = uint32_t(encryptOS(os)) + uint32_t(messageIndex) + uint32_t(encryptVer(ver));
    return encryptTimestamp(static_cast<int32_t>(sum));
}

platform::Data chatFrame(std::span<const uint8_t> body) {
    const auto length = static_cast<uint32_t>(body.size());
    std::vector<uint8_t> frame{uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8),
                               uint8_t(length)};
    frame.insert(frame.end(), body.begin(), body.end());
    return platform::Data(std::move(frame));
}

platform::Data enterRoomFrame(std::string_view pid, std::string_view rid, std::string_view os,
                              std::string_view ver, int32_t timestamp) {
    const auto message = platform::Value::dictionary(
        {{"pid", pid}, {"rid", rid}, {"os", os}, {"ver", ver}, {"timestamp", timestamp}});
    auto body =
        platform::JSONSerialization::dataWithJSONObject(message, platform::NSJSONWritingPrettyPrinted);
    return chatFrame(body ? body->span() : std::span<const uint8_t>());
}

std::shared_ptr<ChatModel> chatLineOfFrame(std::span<const uint8_t> frame) {
    if (frame.size() < kPrefixLength)
        return nullptr;
    const auto body = frame.subspan(kPrefixLength);
    auto json = platform::JSONSerialization::JSONObjectWithData(platform::Data(body.data(), body.size()),
                                                                platform::NSJSONReadingMutableContainers);
    auto envelope = RoomChatModel::initWithDictionary(json);
    return envelope ? envelope->chatModel() : nullptr;
}

bool ChatFrameSplitter::append(std::span<const uint8_t> bytes, const FrameHandler& frame) {
    if (m_refused)
        return false;
    m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.end());
    while (pendingLength() >= kPrefixLength) {
        const std::span<const uint8_t> pending(m_buffer.data() + m_start, pendingLength());
        const uint32_t length = readBigEndian(pending.first(kPrefixLength));
        if (length > kMaximumChatFrameLength) {
            reset();
            m_refused = true;
            return false;
        }
        if (pending.size() - kPrefixLength < length)
            break;
        m_start += kPrefixLength + length;
        frame(pending.first(kPrefixLength + length));
    }
    // Whole frames are gone; keep only the start of the next one.
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<ptrdiff_t>(m_start));
    m_start = 0;
    return true;
}

void ChatFrameSplitter::reset() {
    m_buffer.clear();
    m_start = 0;
    m_refused = false;
}

} // namespace detail
