#pragma once
// RequestService: the service's API operations. Each sends one request through RequestCore to the
// service URL of the configuration (AppConfiguration::serviceURL), decodes the reply and calls
// exactly one of its blocks, always asynchronously on the main queue. A failure block receives a
// ready-to-show text (the captcha's receives the transport's error, or null for an empty reply).
//
// Decoding, in short: a reply that is not JSON, or not an object where one is read, fails with the
// operation's reply text; "code" (a number or a decimal text; any other kind counts as absent) must
// be 200; "data" must import where the operation hands a model over, so a success never carries
// nothing in place of a user or a stream key. An operation that needs a room id sends nothing without
// one and fails with its reply text. An empty failure block is skipped; with an empty success block,
// login, logout, the stream key, the public room information and the category list report their
// reply text instead, and the other operations do nothing.
//
//     RequestService::requestUserInfoSuccess(
//         [weak = std::weak_ptr(screen)](const std::shared_ptr<UserModel>& user) { ... },
//         [weak = std::weak_ptr(screen)](const std::string& message) { ... prompt(message) ... });

#include "app/core/CategoryListModel.h"
#include "app/core/RoomModel.h"
#include "app/core/SecretKeyModel.h"
#include "app/core/UserModel.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"
#include "platform/graphics/Image.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class BaseRequestService : public platform::Object {};

class RequestService : public BaseRequestService {
public:
    using FailureBlock = std::function<void(const std::string& message)>;
    using DoneBlock = std::function<void()>;

    // Failure texts: for a reply that fails decoding, and for a transport failure.
    static constexpr const char* kLoginFailed = "登录失败，请求异常";
    static constexpr const char* kLoginSendFailed = "数据发送失败，请稍后重试";
    static constexpr const char* kLogoutFailed = "退出失败，请求异常";
    static constexpr const char* kLogoutSendFailed = "退出失败，请检查网络";
    static constexpr const char* kUserInfoFailed = "数据请求失败，请稍后重试";
    static constexpr const char* kNoRoomInfo = "暂无房间信息";
    static constexpr const char* kRoomInfoSendFailed = "房间信息获取失败，请检查网络后重试";
    static constexpr const char* kCategoryListFailed = "分类列表请求异常";
    static constexpr const char* kCategoryListSendFailed = "分类列表请求失败";
    static constexpr const char* kUpdateFailed = "修改失败，请求异常";
    static constexpr const char* kUpdateSendFailed = "修改失败，请稍后重试";
    static constexpr const char* kSecretKeyFailed = "房间秘钥重置失败，请重试";
    static constexpr const char* kSecretKeySendFailed = "房间秘钥获取失败，请检查网络后重试";
    static constexpr const char* kChatRoomHostFailed = "请求弹幕服务器失败";
    static constexpr size_t kChatRouteLength = 20;

    // GET /token/captcha: the picture (null when the bytes are not one). Its reply carries the session
    // cookie that the login must carry.
    static void requestCaptchaImage(std::function<void(const platform::UIImagePtr& image)> success,
                                    std::function<void(const platform::ErrorPtr& error)> failure);
    // "login" {"name", "password", "captcha"}. A wrong captcha fails with the service's own text.
    static void requestLogin(const std::string& name, const std::string& password, const std::string& code,
                             DoneBlock success, FailureBlock failure);
    static void requestLogoutSuccess(DoneBlock success, FailureBlock failure); // "login.logout"
    // "user.myInfo".
    static void requestUserInfoSuccess(std::function<void(const std::shared_ptr<UserModel>& user)> success,
                                       FailureBlock failure);
    // GET /json/rooms/<id>/info.json?t=100: the whole reply is the room.
    static void requestRoomInfo(const std::optional<std::string>& roomId,
                                std::function<void(const std::shared_ptr<RoomModel>& room)> success,
                                FailureBlock failure);
    // "room.view" {"title": id}: the screens pass the user id text.
    static void requestRoomInfoWith(const std::optional<std::string>& title,
                                    std::function<void(const std::shared_ptr<RoomModel>& room)> success,
                                    FailureBlock failure);
    // "category.list" with "p" []: the categories that import, in order.
    static void requestCategoryListSuccess(
        std::function<void(const std::vector<std::shared_ptr<CategoryListModel>>& categories)> success,
        FailureBlock failure);
    // "room.update" {"title", "categoryId"}; a refusal's text is the first message under "title".
    static void requestUpdateRoomTitle(const std::string& title, const std::string& categoryId,
                                       DoneBlock success, FailureBlock failure);
    // "room.update" {"title"}.
    static void requestUpdateRoomTitle(const std::string& title, DoneBlock success, FailureBlock failure);
    // "room.viewSecretKey".
    static void
    requestSecretKeySuccess(std::function<void(const std::shared_ptr<SecretKeyModel>& key)> success,
                            FailureBlock failure);
    // GET /site/route?roomId=<id>: exactly 20 bytes (the chat client decodes them), else a failure.
    static void requestChatRoomHost(const std::optional<std::string>& roomId,
                                    std::function<void(const platform::Data& route)> success,
                                    FailureBlock failure);

    // The URL of a path on the service ("http://host[:port]" + path); nothing when no service URL is
    // configured (the request then fails as a transport failure).
    static std::optional<std::string> serviceURL(std::string_view path);

    // The message a refusal carries under "error": the text itself, or the first text of the first
    // field's list. Nothing otherwise.
    static std::optional<std::string> errorMessage(const platform::Value& reply);
    // Whether the reply's "code" is 200 (a number, or a text whose integer value is 200).
    static bool isSuccessCode(const platform::Value& reply);
};
