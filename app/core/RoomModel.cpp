#include "app/core/RoomModel.h"

std::string RoomModel::title() {
    if (!m_title)
        m_title = kRoomTitlePlaceholder;
    return *m_title;
}

std::string RoomModel::categoryName() {
    if (!m_categoryName)
        m_categoryName = kRoomCategoryNamePlaceholder;
    return *m_categoryName;
}
