#pragma once
// RoomModel: the anchor's room. Every property is optional and read from the JSON key of its own
// name. `title` and `categoryName` answer a placeholder when unset and keep it from then on, so a
// room whose title was never set also exports and archives the placeholder.

#include "json/MappedModel.h"
#include <memory>
#include <optional>
#include <string>

inline constexpr const char* kRoomTitlePlaceholder = "点击来输入房间名";
inline constexpr const char* kRoomCategoryNamePlaceholder = "点击选择房间类别";

class RoomModel : public MappedModel {
    MAPPED_MODEL(RoomModel)
public:
    std::optional<std::string> uid;
    std::optional<std::string> nick;
    std::optional<std::string> category_id;
    std::optional<std::string> category_name;
    std::optional<std::string> view; // the viewer count as text
    platform::Value follow;          // a number
    std::optional<std::string> slug;
    std::optional<std::string> announcement;
    std::optional<std::string> categoryId; // the category sent with a room update
    std::optional<std::string> intro;

    // The stored title, or the placeholder (which is stored first).
    std::string title();
    void setTitle(std::optional<std::string> title) { m_title = std::move(title); }
    std::string categoryName();
    void setCategoryName(std::optional<std::string> name) { m_categoryName = std::move(name); }

private:
    friend void registerServiceModels();
    std::optional<std::string> m_title;
    std::optional<std::string> m_categoryName;
};
