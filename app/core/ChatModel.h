#pragma once
// ChatModel: one line of the chat room, as the chat server sends it inside an envelope, or as the
// chat client makes it for its own state lines (connecting, connected, disconnected, live started,
// live ended). `attributedString` is the line as it is drawn: built once, then kept, even if the
// fields change later. One object is used by one thread at a time.

#include "app/core/UserModel.h"
#include "platform/graphics/AttributedString.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/Font.h"

#include "json/MappedModel.h"
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// The integer value of a line's `type`.
enum ChatRoomType : int64_t {
    ChatRoomTypeConnecting = -101,
    ChatRoomTypeConnected = -100,
    ChatRoomTypeDisconnected = -99,
    ChatRoomTypeLiveStarted = 1000001,
    ChatRoomTypeLiveEnded = 1000002,
};

class ChatModel : public MappedModel {
    MAPPED_MODEL(ChatModel)
public:
    std::optional<std::string> customColor;
    std::optional<std::string> room;
    platform::Value time;            // a number
    platform::Value type;            // a number; see ChatRoomType
    std::shared_ptr<UserModel> user; // imported from a nested object

    void setType(platform::Value value) { type = std::move(value); }
    // The integer value of `type`; 0 when it is absent.
    int64_t chatRoomType() const;

    // For the five state types, the fixed text (stored into the line); otherwise the line's own text,
    // "" being stored first when it has none.
    std::string text();
    void setText(std::optional<std::string> text) { m_text = std::move(text); }
    // The text as it was set or imported, without the rules of text().
    const std::optional<std::string>& storedText() const { return m_text; }

    // The display text in the 10-point system font: built on first use and kept (a line without a
    // type answers an empty text and keeps nothing).
    platform::NSAttributedStringPtr attributedString();
    // The text in the font and the foreground colour over its whole length.
    static platform::NSAttributedStringPtr attributedString(const std::string& text,
                                                            const platform::UIFontPtr& font,
                                                            const platform::UIColorPtr& color);
    // The colour of a state line of the type.
    static platform::UIColorPtr stateInfoCustomColor(int64_t type);

private:
    friend void registerServiceModels();
    std::optional<std::string> m_text;
    platform::NSAttributedStringPtr m_attributedString;
};
