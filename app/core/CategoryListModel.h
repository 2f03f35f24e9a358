#pragma once
// CategoryListModel: one room category of the service's list. The JSON "id" fills `categoryId` and
// "name" fills `categoryName`; the other properties (`name` among them) come from their own keys,
// so `name` and `categoryName` both hold the JSON "name".

#include "json/MappedModel.h"
#include <optional>
#include <string>

class CategoryListModel : public MappedModel {
    MAPPED_MODEL(CategoryListModel)
public:
    static std::shared_ptr<KeyMapper> keyMapper();

    std::optional<std::string> category_id;
    std::optional<std::string> thumb;
    std::optional<std::string> name;
    std::optional<std::string> image;
    std::optional<std::string> categoryId;
    std::optional<std::string> categoryName;
};
