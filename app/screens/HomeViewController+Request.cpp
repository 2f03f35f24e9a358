#include "app/core/CommonData.h"
#include "app/core/RequestService.h"
#include "app/screens/HomeViewController.h"
#include "app/ui/NSString+Extension.h"
#include "app/ui/UIViewController+Loading_Prompt.h"
#include "app/ui/UIViewController+Push_Present.h"
#include "platform/dispatch/DispatchQueue.h"

#include <chrono>

using namespace platform;

namespace {

constexpr auto kPopDelay = std::chrono::seconds(1);

// The failure block of a request: the service's text over the screen, and whatever else the caller adds.
RequestService::FailureBlock promptingFailure(std::weak_ptr<HomeViewController> weak, bool hideLoadingFirst) {
    return [weak, hideLoadingFirst](const std::string& message) {
        auto screen = weak.lock();
        if (!screen)
            return;
        if (hideLoadingFirst)
            hideLoading(*screen);
        promptMessage(*screen, message);
    };
}

} // namespace

void HomeViewController::requestUserInfo() {
    auto weak = weakSelf();
    RequestService::requestUserInfoSuccess(
        [weak](const std::shared_ptr<UserModel>& user) {
            if (auto screen = weak.lock()) {
                CommonData::sharedInstance()->setLoginUser(user);
                screen->requestRoomInfo();
            }
        },
        [weak](const std::string&) {
            if (auto screen = weak.lock())
                screen->loadUserData();
        });
    CommonData::sharedInstance()->requestSecretKey();
}

void HomeViewController::requestRoomInfo() {
    auto user = CommonData::sharedInstance()->loginUser();
    auto weak = weakSelf();
    RequestService::requestRoomInfoWith(
        user ? user->uidText() : std::nullopt,
        [weak](const std::shared_ptr<RoomModel>& room) {
            if (auto screen = weak.lock()) {
                CommonData::sharedInstance()->setRoomInfo(room);
                screen->loadUserData();
            }
        },
        promptingFailure(weak, false));
}

void HomeViewController::getCategoryList() {
    auto weak = weakSelf();
    RequestService::requestCategoryListSuccess(
        [weak](const std::vector<std::shared_ptr<CategoryListModel>>& categories) {
            if (auto screen = weak.lock()) {
                screen->setCategoryListArray(categories);
                screen->categoryTableView()->reloadData();
            }
        },
        promptingFailure(weak, false));
}

void HomeViewController::userLogout() {
    showLoading(*this);
    auto weak = weakSelf();
    RequestService::requestLogoutSuccess(
        [weak] {
            auto screen = weak.lock();
            if (!screen)
                return;
            CommonData::sharedInstance()->setLoginUser(nullptr);
            hideLoading(*screen);
            promptMessage(*screen, "退出成功");
            DispatchQueue::main()->after(kPopDelay, [weak] {
                if (auto later = weak.lock())
                    pop(*later);
            });
        },
        promptingFailure(weak, true));
}

void HomeViewController::requestUpdateRoomTitle(const std::optional<std::string>& title) {
    if (!title || title->empty()) {
        promptMessage(*this, "标题不能为空");
        return;
    }
    if (isContainsEmoji(*title)) {
        promptMessage(*this, "标题不能含emoj表情符号");
        return;
    }
    auto room = CommonData::sharedInstance()->roomInfo();
    showLoading(*this);
    auto weak = weakSelf();
    auto success = [weak, room, title = *title] {
        auto screen = weak.lock();
        if (!screen)
            return;
        hideLoading(*screen);
        if (room)
            room->setTitle(title);
        screen->refreshRoomTitle();
        promptMessage(*screen, "修改成功");
    };
    // Without a known category only the title goes out: a made-up category text would replace the room's.
    if (room && room->categoryId)
        RequestService::requestUpdateRoomTitle(*title, *room->categoryId, success,
                                               promptingFailure(weak, true));
    else
        RequestService::requestUpdateRoomTitle(*title, success, promptingFailure(weak, true));
}

void HomeViewController::requestUpdateRoomCategory(const std::shared_ptr<CategoryListModel>& category) {
    auto room = CommonData::sharedInstance()->roomInfo();
    if (!category || !room)
        return;
    showLoading(*this);
    auto weak = weakSelf();
    RequestService::requestUpdateRoomTitle(
        room->title(), category->categoryId.value_or(""),
        [weak, room, category] {
            auto screen = weak.lock();
            if (!screen)
                return;
            hideLoading(*screen);
            room->categoryId = category->categoryId;
            room->setCategoryName(category->categoryName);
            CommonData::sharedInstance()->setRoomInfo(room);
            screen->refreshRoomCategory();
            promptMessage(*screen, "修改成功");
        },
        promptingFailure(weak, true));
}
