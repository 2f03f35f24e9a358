#include "app/core/ChatModel.h"

namespace {

using platform::UIColor;
using platform::UIColorPtr;

constexpr double kChatFontSize = 10;

UIColorPtr rgb(int red, int green, int blue) {
    return UIColor::colorWithRed(red / 255.0, green / 255.0, blue / 255.0, 1.0);
}

std::optional<std::string> fixedText(int64_t type) {
    switch (type) {
    case ChatRoomTypeConnecting:
        return "弹幕服务器连接中...";
    case ChatRoomTypeConnected:
        return "弹幕服务器连接成功！";
    case ChatRoomTypeDisconnected:
        return "弹幕服务器断开连接！";
    case ChatRoomTypeLiveStarted:
        return "直播开始啦！";
    case ChatRoomTypeLiveEnded:
        return "直播结束啦！";
    default:
        return std::nullopt;
    }
}

bool isChatLine(int64_t type) {
    return type == 0 || type == 999;
}

} // namespace

int64_t ChatModel::chatRoomType() const {
    if (auto* number = type.number())
        return number->int64Value();
    // The key-value setters read a text by its numeric value; a type given as text counts the same.
    if (auto* text = type.string())
        return platform::text::longLongValue(*text);
    return 0;
}

std::string ChatModel::text() {
    if (auto fixed = fixedText(chatRoomType())) {
        m_text = *fixed;
        return *fixed;
    }
    if (!m_text)
        m_text = std::string();
    return *m_text;
}

platform::NSAttributedStringPtr ChatModel::attributedString(const std::string& text,
                                                            const platform::UIFontPtr& font,
                                                            const platform::UIColorPtr& color) {
    platform::NSAttributes attributes;
    attributes.set(platform::NSFontAttributeName, platform::Value(font));
    attributes.set(platform::NSForegroundColorAttributeName, platform::Value(color));
    return std::make_shared<platform::NSAttributedString>(text, std::move(attributes));
}

UIColorPtr ChatModel::stateInfoCustomColor(int64_t type) {
    switch (type) {
    case ChatRoomTypeConnecting:
        return rgb(0, 186, 17);
    case ChatRoomTypeConnected:
    case ChatRoomTypeLiveStarted:
        return rgb(255, 76, 52);
    case ChatRoomTypeDisconnected:
    case ChatRoomTypeLiveEnded:
        return rgb(223, 50, 217);
    default:
        return rgb(1, 137, 255);
    }
}

platform::NSAttributedStringPtr ChatModel::attributedString() {
    if (m_attributedString)
        return m_attributedString;
    if (type.isNil() || type.isNull())
        return std::make_shared<platform::NSAttributedString>();

    auto font = platform::UIFont::systemFontOfSize(kChatFontSize);
    auto white = rgb(255, 255, 255);
    const int64_t kind = chatRoomType();
    const bool hasNick = user && user->nick;
    auto result = std::make_shared<platform::NSMutableAttributedString>();
    if (isChatLine(kind)) {
        if (hasNick) {
            result->appendAttributedString(*attributedString(*user->nick + "：", font, rgb(2, 252, 237)));
            result->appendAttributedString(*attributedString(text(), font, white));
        }
    } else if (kind >= 1 && hasNick && m_text) {
        result->appendAttributedString(*attributedString("感谢 ", font, white));
        result->appendAttributedString(*attributedString(*user->nick, font, rgb(0, 255, 240)));
        result->appendAttributedString(*attributedString(" 送给主播 ", font, white));
        result->appendAttributedString(*attributedString(*m_text, font, rgb(255, 198, 0)));
        result->appendAttributedString(*attributedString(" ！", font, white));
    } else {
        result->appendAttributedString(*attributedString(text(), font, stateInfoCustomColor(kind)));
    }
    m_attributedString = result;
    return m_attributedString;
}
