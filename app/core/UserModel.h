#pragma once
// UserModel: the logged-in user as the service describes it. The JSON key "id" fills `uid`; every
// property is optional. Archived with the model's JSON text under "json" plus each of the thirteen
// properties under its own name, so a record written by one version still restores field by field.
// One object is used by one thread at a time.

#include "json/MappedModel.h"
#include <memory>
#include <optional>
#include <string>

class UserModel : public MappedModel {
public:
    // The typed initialisers (as MAPPED_MODEL gives them; copy() is this class's own).
    static std::shared_ptr<UserModel> initWithDictionary(const platform::Value& dictionary,
                                                         platform::ErrorPtr* error = nullptr);
    static std::shared_ptr<UserModel> initWithString(std::optional<std::string_view> string,
                                                     platform::ErrorPtr* error = nullptr);
    static std::shared_ptr<UserModel> initWithStringUsingEncoding(std::optional<std::string_view> string,
                                                                  NSStringEncoding encoding,
                                                                  platform::ErrorPtr* error = nullptr);
    static std::shared_ptr<UserModel> initWithData(const std::optional<platform::Data>& data,
                                                   platform::ErrorPtr* error = nullptr);

    static std::shared_ptr<KeyMapper> keyMapper();

    std::optional<std::string> avatar;
    std::optional<std::string> email;
    std::optional<std::string> mobile;
    std::optional<std::string> nick;
    platform::Value uid; // a number
    platform::Value isAnchor;
    platform::Value money;
    platform::Value neiku;
    platform::Value nextRankScore;
    platform::Value rank;
    platform::Value score;
    platform::Value superAdmin;
    platform::Value unreadMsg;

    // The decimal text of `uid` (the room id, the chat "rid", the push path, the first-live key);
    // nothing when there is no uid, so no caller ever formats a missing id into a path or a key.
    std::optional<std::string> uidText() const;

    // A new user whose thirteen properties are this one's (never null).
    std::shared_ptr<UserModel> copy() const;
    void encodeWithCoder(platform::KeyedArchiver& coder) const override;
    bool initWithCoder(platform::KeyedUnarchiver& coder) override;

    // The property names in their archive order.
    static const std::vector<std::string>& archivedPropertyNames();
};
