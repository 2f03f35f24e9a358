#include "app/core/UserModel.h"

std::shared_ptr<UserModel> UserModel::initWithDictionary(const platform::Value& dictionary,
                                                         platform::ErrorPtr* error) {
    return MappedModel::makeModel<UserModel>(dictionary, error);
}

std::shared_ptr<UserModel> UserModel::initWithString(std::optional<std::string_view> string,
                                                     platform::ErrorPtr* error) {
    auto model = std::make_shared<UserModel>();
    return model->loadFromString(string, error) ? model : nullptr;
}

std::shared_ptr<UserModel> UserModel::initWithStringUsingEncoding(std::optional<std::string_view> string,
                                                                  NSStringEncoding encoding,
                                                                  platform::ErrorPtr* error) {
    auto model = std::make_shared<UserModel>();
    return model->loadFromStringUsingEncoding(string, encoding, error) ? model : nullptr;
}

std::shared_ptr<UserModel> UserModel::initWithData(const std::optional<platform::Data>& data,
                                                   platform::ErrorPtr* error) {
    auto model = std::make_shared<UserModel>();
    return model->loadFromData(data, error) ? model : nullptr;
}

std::shared_ptr<KeyMapper> UserModel::keyMapper() {
    return std::make_shared<KeyMapper>(platform::ValueDictionary{{"id", "uid"}});
}

const std::vector<std::string>& UserModel::archivedPropertyNames() {
    static const std::vector<std::string> names{"avatar",   "email",      "mobile",   "nick",          "uid",
                                                "isAnchor", "money",      "neiku",    "nextRankScore", "rank",
                                                "score",    "superAdmin", "unreadMsg"};
    return names;
}

std::optional<std::string> UserModel::uidText() const {
    if (auto* number = uid.number())
        return number->stringValue();
    // A service that sends the id as text is read the same way; anything else is no id.
    if (auto* text = uid.string(); text && !text->empty())
        return *text;
    return std::nullopt;
}

std::shared_ptr<UserModel> UserModel::copy() const {
    auto copy = std::make_shared<UserModel>();
    for (const auto& name : archivedPropertyNames())
        copy->setValueForKey(valueForKey(name), name);
    return copy;
}

void UserModel::encodeWithCoder(platform::KeyedArchiver& coder) const {
    MappedModel::encodeWithCoder(coder);
    for (const auto& name : archivedPropertyNames())
        coder.encodeObject(valueForKey(name), name);
}

bool UserModel::initWithCoder(platform::KeyedUnarchiver& coder) {
    if (!MappedModel::initWithCoder(coder))
        return false;
    for (const auto& name : archivedPropertyNames())
        setValueForKey(coder.decodeObjectForKey(name), name);
    return true;
}
