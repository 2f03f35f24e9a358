// The home screen against the service stub, driven by touches and its dialogs: the title checks and a
// cancelled dialog, the category change and its archive, the first-live mobile check, logout and the
// return to the login screen, the avatar squared and cached, the resolution choice (also with fewer
// presets than buttons), and failed replies that keep what the screen shows.

#include "app/core/CommonData.h"
#include "app/screens/HomeViewController.h"
#include "app/screens/LiveViewController.h"
#include "app/ui/BaseNavigationController.h"
#include "imagecache/ImageCache.h"
#include "platform/graphics/ImageEncoder.h"
#include "platform/ui/NSIndexPath.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIKeyboard.h"
#include "tests/app/support/ServiceScreenFixture.h"
#include "tests/support/EditedResources.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;

namespace {

Data pngOf(int width, int height) {
    auto bitmap = Bitmap::create(width, height, kCGImageAlphaNoneSkipFirst);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bitmap->mutableRow(y)[x] = Bitmap::premultiply(30, 120, 200, 255);
    return *encodePNG(*bitmap);
}

class HomeScreenTest : public ServiceScreenFixture {
protected:
    void SetUp() override {
        ServiceScreenFixture::SetUp();
        stub.setRequiresLogin(false);
        stub.server().route("GET", "/avatar.png", [](const HttpRequest&, HttpResponse& response) {
            response.body = pngOf(40, 30).toString();
            response.header("Content-Type", "image/png");
        });
        useAvatar(stub.baseURL() + "/avatar.png");
        UIApplication::sharedApplication()->simulateLaunch();
        login = std::make_shared<BaseViewController>();
        navigation = BaseNavigationController::create(login);
        window->setRootViewController(navigation);
        screen = HomeViewController::create();
        navigation->pushViewController(screen, false);
        window->layoutIfNeeded();
        ASSERT_TRUE(pumpUntil([&] { return nameShown() == "主播小王" && categoriesLoaded(); }));
    }
    void TearDown() override {
        if (screen->presentedViewController())
            dismissLiveScreen();
        if (auto responder = UIResponder::currentFirstResponder())
            responder->resignFirstResponder();
        UIKeyboard::reset();
        screen.reset();
        navigation.reset();
        ServiceScreenFixture::TearDown();
    }

    void useAvatar(const std::string& url) {
        stub.addAccount("anchor", "secret",
                        Value::dictionary(
                            {{"id", 42}, {"nick", "主播小王"}, {"avatar", url}, {"mobile", "13800138000"}}));
    }
    std::string nameShown() { return screen->anchorRoomView()->anchorNameLabel()->text(); }
    std::string titleShown() { return screen->anchorRoomView()->roomTitleButton()->editTitleLabel()->text(); }
    std::string categoryShown() {
        return screen->anchorRoomView()->roomCategoryButton()->currentTitle().value_or("");
    }
    bool categoriesLoaded() {
        return screen->categoryListArray() && screen->categoryListArray()->size() == 3;
    }
    size_t requestsTo(std::string_view endpoint) { return stub.requestsTo(endpoint).size(); }
    // The prompt hides 2 s after it shows and takes touches until it has faded out.
    void clearPrompt() {
        advance(2.5);
        advance(1);
    }
    UIAlertViewPtr dialogShown() {
        for (const auto& view : window->subviews())
            if (auto alert = std::dynamic_pointer_cast<UIAlertView>(view); alert && alert->isVisible())
                return alert;
        return nullptr;
    }
    // Opens a dialog by its button, types into its field and taps one of its buttons.
    void answerDialog(const UIViewPtr& opener, const std::string& text, int64_t button) {
        tapView(opener);
        auto alert = dialogShown();
        ASSERT_TRUE(alert);
        alert->textFieldAtIndex(0)->setText(text);
        window->layoutIfNeeded();
        tapView(alert->buttonAtIndex(button));
        ASSERT_FALSE(dialogShown());
    }
    bool liveScreenShown() {
        return pumpUntil([&] {
            return std::dynamic_pointer_cast<LiveViewController>(screen->presentedViewController()) !=
                   nullptr;
        });
    }
    void dismissLiveScreen() {
        auto live = std::dynamic_pointer_cast<LiveViewController>(screen->presentedViewController());
        live->setBackButtonPressed(true);
        live->dismissViewControllerAnimated(false);
        pump();
    }

    std::shared_ptr<BaseViewController> login;
    BaseNavigationControllerPtr navigation;
    std::shared_ptr<HomeViewController> screen;
};

TEST_F(HomeScreenTest, TheTitleDialogChecksTheTextAndACancelSendsNothing) {
    const auto& titleRow = screen->anchorRoomView()->roomTitleButton();
    tapView(titleRow);
    ASSERT_TRUE(dialogShown());
    EXPECT_EQ(dialogShown()->tag(), 520);
    EXPECT_EQ(dialogShown()->textFieldAtIndex(0)->text(), "周末户外直播");
    tapView(dialogShown()->buttonAtIndex(0));

    // Typed, the button pressed (0 cancels), the prompt.
    for (auto [typed, button, prompt] :
         {std::tuple{"", 1, "标题不能为空"}, std::tuple{"©", 1, "标题不能含emoj表情符号"},
          std::tuple{"新的标题", 0, ""}}) {
        SCOPED_TRACE(typed);
        answerDialog(titleRow, typed, button);
        pump();
        EXPECT_EQ(promptShown(*screen), prompt);
        clearPrompt();
    }
    EXPECT_EQ(requestsTo("room.update"), 0u);
    EXPECT_EQ(titleShown(), "周末户外直播");

    answerDialog(titleRow, "新的标题", 1);
    ASSERT_TRUE(waitForPrompt(*screen, "修改成功"));
    EXPECT_EQ(ServiceStub::envelope(stub.requestsTo("room.update").at(0))["p"],
              Value::dictionary({{"title", "新的标题"}, {"categoryId", "2"}}));
    EXPECT_EQ(titleShown(), "新的标题");
}

TEST_F(HomeScreenTest, AChosenCategoryIsSentArchivedAndShownAndAFailureKeepsTheListOpen) {
    tapView(screen->anchorRoomView()->roomCategoryButton());
    ASSERT_FALSE(screen->containerView()->isHidden());
    window->layoutIfNeeded();
    const auto& table = screen->categoryTableView();
    auto rowCentre = [&](int64_t row) {
        const CGRect rect = table->convertRectToView(
            table->rectForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0)), window);
        return CGPointMake(CGRectGetMidX(rect), CGRectGetMidY(rect));
    };

    stub.scriptOnce("room.update", ServiceStub::failure(
                                       400, Value::dictionary({{"title", Value::array({"房间已被冻结"})}})));
    tap(rowCentre(2));
    ASSERT_TRUE(waitForPrompt(*screen, "房间已被冻结"));
    EXPECT_FALSE(screen->containerView()->isHidden());
    EXPECT_EQ(CommonData::sharedInstance()->roomInfo()->categoryName(), "户外");
    clearPrompt();

    tap(rowCentre(2));
    ASSERT_TRUE(waitForPrompt(*screen, "修改成功"));
    EXPECT_EQ(ServiceStub::envelope(stub.requestsTo("room.update").at(1))["p"],
              Value::dictionary({{"title", "周末户外直播"}, {"categoryId", "3"}}));
    EXPECT_TRUE(screen->containerView()->isHidden());
    EXPECT_EQ(categoryShown(), "直播分类：音乐 ");
    EXPECT_EQ(CommonData::sharedInstance()->readRoomInfo()->categoryName(), "音乐") << "archived";

    tapView(screen->anchorRoomView()->roomCategoryButton());
    tap(CGPointMake(10, 650)); // beside the list
    EXPECT_TRUE(screen->containerView()->isHidden());
}

TEST_F(HomeScreenTest, TheFirstLiveAsksForTheBoundMobileOnceAndAWrongOneStartsNothing) {
    const auto& start = screen->startLiveButton();
    answerDialog(start, "13800138001", 1);
    ASSERT_TRUE(waitForPrompt(*screen, "手机号码不正确"));
    EXPECT_EQ(screen->presentedViewController(), nullptr);
    EXPECT_TRUE(CommonData::sharedInstance()->isFirstTimeLive());
    clearPrompt();

    answerDialog(start, "13800138000", 1);
    ASSERT_TRUE(liveScreenShown());
    EXPECT_EQ(screen->presentedViewController()->modalTransitionStyle(), UIModalTransitionStyleCrossDissolve);
    EXPECT_FALSE(CommonData::sharedInstance()->isFirstTimeLive());
    dismissLiveScreen();

    tapView(start);
    EXPECT_FALSE(dialogShown()) << "the second start asks nothing";
    EXPECT_TRUE(liveScreenShown());
}

TEST_F(HomeScreenTest, LogoutClearsTheStoredUserAndTheLoginScreenReturnsASecondLater) {
    tapView(screen->anchorRoomView()->logoutButton());
    ASSERT_TRUE(waitForPrompt(*screen, "退出成功"));
    EXPECT_EQ(CommonData::sharedInstance()->loginUser(), nullptr);
    EXPECT_EQ(CommonData::sharedInstance()->readLoginUser(), nullptr);
    advance(0.99);
    pump();
    EXPECT_EQ(navigation->topViewController(), screen);
    advance(0.01);
    EXPECT_TRUE(pumpUntil([&] { return navigation->topViewController() == login; }));
}

TEST_F(HomeScreenTest, TheAvatarIsSquaredShownAndCachedAndABrokenOneLeavesThePictureShown) {
    const auto avatarURL = stub.baseURL() + "/avatar.png";
    const auto& avatar = screen->anchorRoomView()->avatarButton();
    ASSERT_TRUE(pumpUntil([&] {
        auto image = avatar->imageForState(UIControlStateNormal);
        return image && image->size() == CGSizeMake(30, 30);
    }));
    EXPECT_EQ(ImageCache::sharedImageCache()->imageFromMemoryCacheForKey(avatarURL),
              avatar->imageForState(UIControlStateNormal));

    const auto shown = avatar->imageForState(UIControlStateNormal);
    stub.server().route("GET", "/broken.png", HttpResponse::text(200, "not a picture", "image/png"));
    useAvatar(stub.baseURL() + "/broken.png");
    const size_t before = stub.requests().size();
    screen->requestUserInfo();
    ASSERT_TRUE(stub.server().waitForRequests(before + 1));
    ASSERT_TRUE(pumpUntil([&] { return stub.server().requests().back().path == "/broken.png"; }));
    for (int pass = 0; pass < 20; ++pass)
        pump();
    EXPECT_EQ(avatar->imageForState(UIControlStateNormal), shown);
}

TEST_F(HomeScreenTest, WithTwoPresetsTheButtonsStayEmptyAndAPressPastTheListChoosesNothing) {
    EditedResources twoPresets("LiveParameters_new.plist", [](std::string& text) {
        const auto third = text.find("<dict>", text.find("<string>高清</string>"));
        text.erase(third, text.find("</dict>", third) + 7 - third);
    });
    CommonData::resetSharedInstanceForTesting();
    ASSERT_EQ(CommonData::sharedInstance()->resolutionDataSource().size(), 2u);

    auto fresh = HomeViewController::create();
    navigation->pushViewController(fresh, false);
    window->layoutIfNeeded();
    ASSERT_TRUE(pumpUntil([&] { return fresh->anchorRoomView()->anchorNameLabel()->text() == "主播小王"; }));
    const auto& chooser = fresh->resolutionSettingView();
    for (const auto& button : {chooser->lowResolutionButton(), chooser->highResolutionButton()}) {
        EXPECT_EQ(button->currentTitle(), std::nullopt);
        EXPECT_FALSE(button->isSelected());
    }
    tapView(chooser->highResolutionButton());
    EXPECT_EQ(CommonData::sharedInstance()->resolutionData()->title, "标清");
}

TEST_F(HomeScreenTest, FailedRepliesShowTheServiceTextAndKeepWhatTheScreenShows) {
    // Pressing a resolution chooses and archives its preset.
    const auto& chooser = screen->resolutionSettingView();
    EXPECT_TRUE(chooser->lowResolutionButton()->isSelected()) << "the first preset until one is chosen";
    tapView(chooser->mediumResolutionButton());
    EXPECT_EQ(CommonData::sharedInstance()->resolutionData()->title, "高清");
    EXPECT_EQ(CommonData::sharedInstance()->readResolutionData()->title, "高清");
    EXPECT_TRUE(chooser->mediumResolutionButton()->isSelected());

    stub.scriptOnce("room.view", ServiceStub::failure(500, "维护中"));
    screen->requestUserInfo();
    ASSERT_TRUE(waitForPrompt(*screen, "暂无房间信息"));
    EXPECT_EQ(titleShown(), "周末户外直播");
    EXPECT_EQ(CommonData::sharedInstance()->roomInfo()->title(), "周末户外直播");
    clearPrompt();

    stub.scriptOnce("category.list", HttpResponse::json("{\"code\": 200, \"data\": "));
    screen->getCategoryList();
    ASSERT_TRUE(waitForPrompt(*screen, "分类列表请求异常"));
    EXPECT_TRUE(categoriesLoaded()) << "the old list stays";
}

} // namespace
