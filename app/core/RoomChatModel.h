#pragma once
// RoomChatModel: the chat server's envelope around one chat line. The line itself travels as JSON
// text under "json" in `chat`; chatModel() reads it on first use and keeps it.

#include "app/core/ChatModel.h"

#include "json/MappedModel.h"
#include <memory>
#include <optional>
#include <string>

class RoomChatModel : public MappedModel {
    MAPPED_MODEL(RoomChatModel)
public:
    std::optional<std::string> rid;
    platform::Value os;   // a number
    platform::Value pid;  // a number
    platform::Value chat; // a dictionary

    // The line under chat["json"]; null when there is none or it does not import (a value of
    // another kind than text counts as none), in which case the next call tries again.
    std::shared_ptr<ChatModel> chatModel();

private:
    std::shared_ptr<ChatModel> m_chatModel;
};
