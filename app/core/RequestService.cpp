#include "app/core/RequestService.h"

#include "app/core/AppConfiguration.h"
#include "app/core/RequestCore.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/URL.h"

#include <fmt/format.h>

using platform::Data;
using platform::ErrorPtr;
using platform::Value;

namespace {

constexpr int64_t kSuccessCode = 200;
constexpr int64_t kRoomInfoStamp = 100;

// The reply as a JSON object; nil when it is not JSON or not an object.
Value replyObject(const Data& data) {
    Value reply =
        platform::JSONSerialization::JSONObjectWithData(data, platform::NSJSONReadingMutableContainers);
    return reply.isDictionary() ? reply : Value();
}

void fail(const RequestService::FailureBlock& failure, const char* message) {
    if (failure)
        failure(message);
}

// Every block runs on the main queue, including failures decided before anything is sent.
void failLater(RequestService::FailureBlock failure, const char* message) {
    platform::DispatchQueue::main()->async(
        [failure = std::move(failure), message] { fail(failure, message); });
}

RequestCore::FailureBlock transportFailure(RequestService::FailureBlock failure, const char* message) {
    return [failure = std::move(failure), message](const ErrorPtr&) { fail(failure, message); };
}

std::optional<std::string> presentId(const std::optional<std::string>& id) {
    if (!id || id->empty())
        return std::nullopt;
    return platform::URL::percentEncode(*id);
}

void post(std::string_view operation, const Value& params, RequestCore::SuccessBlock success,
          RequestService::FailureBlock failure, const char* sendFailed) {
    auto url = RequestService::serviceURL(RequestCore::kAPIPath);
    RequestCore::POST(url ? std::optional<std::string_view>(*url) : std::nullopt, operation, params,
                      std::move(success), transportFailure(std::move(failure), sendFailed));
}

// Login, logout and the stream key: "code" 200 is a success; otherwise the service's message, else
// the operation's own text.
void decodeStandard(const Value& reply, const std::function<void()>& success,
                    const RequestService::FailureBlock& failure, const char* replyFailed) {
    if (RequestService::isSuccessCode(reply)) {
        if (success)
            success();
        else
            fail(failure, replyFailed);
        return;
    }
    if (auto message = RequestService::errorMessage(reply)) {
        if (failure)
            failure(*message);
        return;
    }
    fail(failure, replyFailed);
}

} // namespace

std::optional<std::string> RequestService::serviceURL(std::string_view path) {
    std::string base = AppConfiguration::serviceURL();
    if (base.empty())
        return std::nullopt;
    return base + std::string(path);
}

bool RequestService::isSuccessCode(const Value& reply) {
    const Value& code = reply["code"];
    if (auto* number = code.number())
        return number->kind() != platform::Number::Kind::Bool && number->int64Value() == kSuccessCode;
    if (auto* text = code.string())
        return platform::text::integerValue(*text) == kSuccessCode;
    return false;
}

std::optional<std::string> RequestService::errorMessage(const Value& reply) {
    const Value& error = reply["error"];
    if (auto* text = error.string())
        return *text;
    auto* fields = error.dictionary();
    if (!fields || fields->empty())
        return std::nullopt;
    const Value& first = fields->entries().front().second;
    if (auto* message = first[0].string())
        return *message;
    return std::nullopt;
}

void RequestService::requestCaptchaImage(std::function<void(const platform::UIImagePtr& image)> success,
                                         std::function<void(const ErrorPtr& error)> failure) {
    auto url = serviceURL("/token/captcha");
    RequestCore::GET(
        url ? std::optional<std::string_view>(*url) : std::nullopt, Value(),
        [success = std::move(success)](const Data& data) {
            if (success)
                success(platform::UIImage::imageWithData(data));
        },
        std::move(failure));
}

void RequestService::requestLogin(const std::string& name, const std::string& password,
                                  const std::string& code, DoneBlock success, FailureBlock failure) {
    Value params = Value::dictionary({{"name", name}, {"password", password}, {"captcha", code}});
    post(
        "login", params,
        [success, failure](const Data& data) {
            decodeStandard(replyObject(data), success, failure, kLoginFailed);
        },
        failure, kLoginSendFailed);
}

void RequestService::requestLogoutSuccess(DoneBlock success, FailureBlock failure) {
    post(
        "login.logout", Value(),
        [success, failure](const Data& data) {
            decodeStandard(replyObject(data), success, failure, kLogoutFailed);
        },
        failure, kLogoutSendFailed);
}

void RequestService::requestUserInfoSuccess(
    std::function<void(const std::shared_ptr<UserModel>& user)> success, FailureBlock failure) {
    post(
        "user.myInfo", Value(),
        [success, failure](const Data& data) {
            Value reply = replyObject(data);
            // A user that does not import is a failure: handing over nothing would read as a logout.
            auto user = isSuccessCode(reply) ? UserModel::initWithDictionary(reply["data"]) : nullptr;
            if (!user) {
                fail(failure, kUserInfoFailed);
                return;
            }
            if (success)
                success(user);
        },
        failure, kUserInfoFailed);
}

void RequestService::requestRoomInfo(const std::optional<std::string>& roomId,
                                     std::function<void(const std::shared_ptr<RoomModel>& room)> success,
                                     FailureBlock failure) {
    auto id = presentId(roomId);
    if (!id) {
        failLater(std::move(failure), kNoRoomInfo);
        return;
    }
    auto url = serviceURL(fmt::format("/json/rooms/{}/info.json?t={}", *id, kRoomInfoStamp));
    RequestCore::GET(
        url ? std::optional<std::string_view>(*url) : std::nullopt, Value(),
        [success, failure](const Data& data) {
            Value reply = replyObject(data);
            auto room = reply.isNil() ? nullptr : RoomModel::initWithDictionary(reply);
            if (room && success)
                success(room);
            else
                fail(failure, kNoRoomInfo);
        },
        transportFailure(failure, kRoomInfoSendFailed));
}

void RequestService::requestRoomInfoWith(const std::optional<std::string>& title,
                                         std::function<void(const std::shared_ptr<RoomModel>& room)> success,
                                         FailureBlock failure) {
    if (!title || title->empty()) {
        failLater(std::move(failure), kNoRoomInfo);
        return;
    }
    post(
        "room.view", Value::dictionary({{"title", *title}}),
        [success, failure](const Data& data) {
            Value reply = replyObject(data);
            auto room = reply.isNil() ? nullptr : RoomModel::initWithDictionary(reply["data"]);
            if (!room) {
                fail(failure, kNoRoomInfo);
                return;
            }
            if (success)
                success(room);
        },
        failure, kRoomInfoSendFailed);
}

void RequestService::requestCategoryListSuccess(
    std::function<void(const std::vector<std::shared_ptr<CategoryListModel>>& categories)> success,
    FailureBlock failure) {
    post(
        "category.list", Value(platform::ValueArray{}),
        [success, failure](const Data& data) {
            Value reply = replyObject(data);
            auto* list = reply["data"].array();
            if (!success || !isSuccessCode(reply) || !list) {
                fail(failure, kCategoryListFailed);
                return;
            }
            std::vector<std::shared_ptr<CategoryListModel>> categories;
            for (const Value& element : *list) {
                if (auto category = CategoryListModel::initWithDictionary(element))
                    categories.push_back(std::move(category));
            }
            success(categories);
        },
        failure, kCategoryListSendFailed);
}

void RequestService::requestUpdateRoomTitle(const std::string& title, const std::string& categoryId,
                                            DoneBlock success, FailureBlock failure) {
    post(
        "room.update", Value::dictionary({{"title", title}, {"categoryId", categoryId}}),
        [success, failure](const Data& data) {
            Value reply = replyObject(data);
            if (isSuccessCode(reply)) {
                if (success)
                    success();
                return;
            }
            // Only a refusal of the title is worth showing; anything else gets the general text.
            if (auto* message = reply["error"]["title"][0].string()) {
                if (failure)
                    failure(*message);
                return;
            }
            fail(failure, kUpdateFailed);
        },
        failure, kUpdateSendFailed);
}

void RequestService::requestUpdateRoomTitle(const std::string& title, DoneBlock success,
                                            FailureBlock failure) {
    post(
        "room.update", Value::dictionary({{"title", title}}),
        [success, failure](const Data& data) {
            if (!isSuccessCode(replyObject(data))) {
                fail(failure, kUpdateFailed);
                return;
            }
            if (success)
                success();
        },
        failure, kUpdateSendFailed);
}

void RequestService::requestSecretKeySuccess(
    std::function<void(const std::shared_ptr<SecretKeyModel>& key)> success, FailureBlock failure) {
    post(
        "room.viewSecretKey", Value(),
        [success, failure](const Data& data) {
            Value reply = replyObject(data);
            if (!isSuccessCode(reply)) {
                decodeStandard(reply, nullptr, failure, kSecretKeyFailed);
                return;
            }
            // A key that does not import is a failure: a success with nothing would clear the key
            // and overwrite the archived one that the fourth failure falls back to.
            auto key = SecretKeyModel::initWithDictionary(reply["data"]);
            if (!key || !success) {
                fail(failure, kSecretKeyFailed);
                return;
            }
            success(key);
        },
        failure, kSecretKeySendFailed);
}

void RequestService::requestChatRoomHost(const std::optional<std::string>& roomId,
                                         std::function<void(const Data& route)> success,
                                         FailureBlock failure) {
    auto id = presentId(roomId);
    if (!id) {
        failLater(std::move(failure), kChatRoomHostFailed);
        return;
    }
    auto url = serviceURL(fmt::format("/site/route?roomId={}", *id));
    RequestCore::GET(
        url ? std::optional<std::string_view>(*url) : std::nullopt, Value(),
        [success, failure](const Data& data) {
            if (data.length() != kChatRouteLength) {
                fail(failure, kChatRoomHostFailed);
                return;
            }
            if (success)
                success(data);
        },
        transportFailure(failure, kChatRoomHostFailed));
}
