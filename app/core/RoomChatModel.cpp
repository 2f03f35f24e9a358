#include "app/core/RoomChatModel.h"

std::shared_ptr<ChatModel> RoomChatModel::chatModel() {
    if (m_chatModel)
        return m_chatModel;
    // A peer may put anything under "json"; only a text can hold a line.
    const platform::Value& json = chat["json"];
    if (auto* text = json.string())
        m_chatModel = ChatModel::initWithString(*text);
    return m_chatModel;
}
