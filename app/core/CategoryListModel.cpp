#include "app/core/CategoryListModel.h"

std::shared_ptr<KeyMapper> CategoryListModel::keyMapper() {
    return std::make_shared<KeyMapper>(
        platform::ValueDictionary{{"id", "categoryId"}, {"name", "categoryName"}});
}
