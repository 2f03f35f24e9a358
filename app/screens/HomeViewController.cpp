#include "app/screens/HomeViewController.h"

#include "app/core/CommonData.h"
#include "app/screens/LiveViewController.h"
#include "app/screens/LocalizedText.h"
#include "app/screens/InteractivePop.h"
#include "app/screens/ScreenLook.h"
#include "app/ui/UIImage+Thumbnails.h"
#include "app/ui/UIView+AutoLayout.h"
#include "app/ui/UIViewController+Loading_Prompt.h"
#include "imagecache/ImageCache.h"
#include "imagecache/WebImageManager.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/ui/Selector.h"

#include <chrono>
#include <fmt/format.h>

using namespace platform;

namespace {

constexpr auto kResignDelay = std::chrono::milliseconds(100);

// The dialog's field gives up the keyboard a moment after the dialog has gone.
void resignSoon(const UITextFieldPtr& field) {
    if (field)
        DispatchQueue::main()->after(kResignDelay, [field] { field->resignFirstResponder(); });
}

} // namespace

std::shared_ptr<HomeViewController> HomeViewController::create() {
    return std::make_shared<HomeViewController>(PrivateTag{});
}

UIColorPtr HomeViewController::customNavigationBarColor() {
    return colorWithRGB(66, 66, 66);
}

// ---- Life cycle -------------------------------------------------------------------------------

void HomeViewController::viewDidLoad() {
    BaseViewController::viewDidLoad();
    setupSubviews();
    setupConstraints();
}

void HomeViewController::viewWillAppear(bool animated) {
    BaseViewController::viewWillAppear(animated);
    loadUserData();
    requestUserInfo();
    getCategoryList();
}

void HomeViewController::viewDidAppear(bool animated) {
    BaseViewController::viewDidAppear(animated);
    setInteractivePopEnabled(*this, false);
}

void HomeViewController::viewWillDisappear(bool) {
    BaseViewController::viewWillDisappear(true);
    setInteractivePopEnabled(*this, true);
}

// ---- Showing the anchor -----------------------------------------------------------------------

void HomeViewController::loadUserData() {
    const auto& data = CommonData::sharedInstance();
    if (data->loginUser() && data->roomInfo())
        updateSubviews();
}

void HomeViewController::updateSubviews() {
    const auto& data = CommonData::sharedInstance();
    auto user = data->loginUser();
    auto room = data->roomInfo();
    notCertifiedView()->setHidden(true);
    const auto& card = anchorRoomView();
    if (user) {
        if (user->avatar && !user->avatar->empty())
            loadAvatar(*user->avatar);
        card->anchorNameLabel()->setText(user->nick.value_or(""));
        card->roomNumberLabel()->setText("房间号：" + user->uidText().value_or(""));
        const auto& presets = data->resolutionDataSource();
        if (presets.size() >= 3) {
            std::vector<std::string> titles;
            for (size_t index = 0; index < 3; ++index)
                titles.push_back(presets[index]->title.value_or(""));
            resolutionSettingView()->updateResolutionButtonTitles(titles);
            auto chosen = data->resolutionData();
            resolutionSettingView()->setResolutionSelected(chosen ? chosen->title : std::nullopt);
        }
    }
    if (room) {
        card->roomTitleButton()->leftTitleLabel()->setText(::detail::localizedText("房间标题"));
        card->roomTitleButton()->editTitleLabel()->setText(room->title());
        card->roomCategoryButton()->setTitle(fmt::format("直播分类：{} ", room->categoryName()),
                                             UIControlStateNormal);
    }
}

void HomeViewController::loadAvatar(const std::string& avatar) {
    std::weak_ptr<HomeViewController> weak = self();
    WebImageManager::sharedManager()->downloadImageWithURL(
        avatar, 0, nullptr, [weak](UIImagePtr image, ErrorPtr, ImageCacheSource, bool, URLPtr url) {
            auto screen = weak.lock();
            // A picture that did not come (or is none) leaves the one shown.
            if (!screen || !image)
                return;
            auto square = squareImage(image);
            screen->anchorRoomView()->avatarButton()->setImage(square, UIControlStateNormal);
            if (url)
                ImageCache::sharedImageCache()->storeImage(square, url->absoluteString());
        });
}

void HomeViewController::refreshRoomTitle() {
    if (auto room = CommonData::sharedInstance()->roomInfo())
        anchorRoomView()->roomTitleButton()->editTitleLabel()->setText(room->title());
}

void HomeViewController::refreshRoomCategory() {
    containerView()->setHidden(true);
    if (auto room = CommonData::sharedInstance()->roomInfo())
        anchorRoomView()->roomCategoryButton()->setTitle(fmt::format("直播分类：{} ", room->categoryName()),
                                                         UIControlStateNormal);
}

void HomeViewController::resolutionChanged(int64_t index) {
    const auto& data = CommonData::sharedInstance();
    const auto& presets = data->resolutionDataSource();
    // With fewer presets than buttons a button's index may lie past the list: such a press chooses nothing.
    if (index >= 0 && size_t(index) < presets.size())
        data->setResolutionData(presets[size_t(index)]);
}

// ---- The card's and the start button's actions ------------------------------------------------

void HomeViewController::roomCategoryButtonPressed() {
    containerView()->setHidden(false);
}

void HomeViewController::cancelTableView() {
    containerView()->setHidden(true);
}

UIAlertViewPtr HomeViewController::showTextDialog(const char* title, int64_t tag) {
    auto alert = UIAlertView::create(::detail::localizedText(title), "", self(),
                                     ::detail::localizedText("取消"), {::detail::localizedText("确定")});
    alert->setTag(tag);
    alert->setAlertViewStyle(UIAlertViewStylePlainTextInput);
    return alert;
}

void HomeViewController::editRoomTitleButtonPressed() {
    auto alert = showTextDialog("编辑房间标题", kRoomTitleAlertTag);
    const std::string shown = anchorRoomView()->roomTitleButton()->editTitleLabel()->text();
    if (shown != kRoomTitlePlaceholder) {
        const auto& field = alert->textFieldAtIndex(0);
        field->setClearButtonMode(UITextFieldViewModeAlways);
        field->setText(shown);
    }
    alert->show();
}

void HomeViewController::logoutButtonPressed() {
    userLogout();
}

void HomeViewController::startLiveButtonPressed() {
    const auto& data = CommonData::sharedInstance();
    if (!data->shouldSkipCellphoneIdentifying() && data->isFirstTimeLive())
        identifyMobilePhone();
    else
        startLive();
}

void HomeViewController::identifyMobilePhone() {
    auto alert = showTextDialog("请输入绑定的手机号", kMobilePhoneAlertTag);
    const auto& field = alert->textFieldAtIndex(0);
    field->setClearButtonMode(UITextFieldViewModeAlways);
    field->setKeyboardType(UIKeyboardTypePhonePad);
    alert->show();
}

void HomeViewController::alertViewWillDismissWithButtonIndex(UIAlertView* alertView, int64_t buttonIndex) {
    if (!alertView)
        return;
    const auto field = alertView->textFieldAtIndex(0);
    const std::string typed = field ? field->text() : std::string();
    if (alertView->tag() == kRoomTitleAlertTag) {
        resignSoon(field);
        if (buttonIndex != 0)
            requestUpdateRoomTitle(typed);
    } else if (alertView->tag() == kMobilePhoneAlertTag) {
        resignSoon(field);
        if (buttonIndex != 0)
            confirmMobilePhone(typed);
    }
}

void HomeViewController::confirmMobilePhone(const std::string& typed) {
    const auto& data = CommonData::sharedInstance();
    auto user = data->loginUser();
    if (user && user->mobile && *user->mobile == typed) {
        data->saveFirstTimeLive();
        startLive();
    } else {
        promptMessage(*this, "手机号码不正确");
    }
}

void HomeViewController::startLive() {
    auto live = LiveViewController::create();
    live->setModalTransitionStyle(UIModalTransitionStyleCrossDissolve);
    live->setComplectionHandler([](double) {});
    presentViewController(live, true, [] {});
}

// ---- Views ------------------------------------------------------------------------------------

const std::shared_ptr<AnchorRoomView>& HomeViewController::anchorRoomView() {
    if (!m_anchorRoomView) {
        m_anchorRoomView = AnchorRoomView::create();
        m_anchorRoomView->setBackgroundColor(
            UIColor::colorWithPatternImage(UIImage::imageNamed("anchor_info_background")));
    }
    return m_anchorRoomView;
}

const std::shared_ptr<ResolutionSettingView>& HomeViewController::resolutionSettingView() {
    if (!m_resolutionSettingView) {
        m_resolutionSettingView = ResolutionSettingView::create();
        m_resolutionSettingView->setBackgroundColor(view()->backgroundColor());
        m_resolutionSettingView->setResolutionChangedHandler([weak = weakSelf()](int64_t index) {
            if (auto screen = weak.lock())
                screen->resolutionChanged(index);
        });
    }
    return m_resolutionSettingView;
}

const UITableViewPtr& HomeViewController::categoryTableView() {
    if (!m_categoryTableView) {
        m_categoryTableView = UITableView::create(CGRectZero);
        m_categoryTableView->layer()->setCornerRadius(2);
        m_categoryTableView->layer()->setMasksToBounds(true);
        m_categoryTableView->setRowHeight(41);
        m_categoryTableView->setDataSource(self());
        m_categoryTableView->setDelegate(self());
        m_categoryTableView->setSeparatorStyle(UITableViewCellSeparatorStyleNone);
    }
    return m_categoryTableView;
}

const UIViewPtr& HomeViewController::startLiveBackgroundView() {
    if (!m_startLiveBackgroundView) {
        m_startLiveBackgroundView = UIView::create();
        m_startLiveBackgroundView->setBackgroundColor(UIColor::clearColor());
    }
    return m_startLiveBackgroundView;
}

const UIButtonPtr& HomeViewController::startLiveButton() {
    if (!m_startLiveButton) {
        m_startLiveButton = UIButton::create();
        m_startLiveButton->setBackgroundColor(UIColor::clearColor());
        m_startLiveButton->setBackgroundImage(UIImage::imageNamed("home_start_live"), UIControlStateNormal);
        m_startLiveButton->setBackgroundImage(UIImage::imageNamed("home_start_live_hl"),
                                              UIControlStateHighlighted);
        m_startLiveButton->addTarget(
            self(), selector("startLiveButtonPressed", &HomeViewController::startLiveButtonPressed),
            UIControlEventTouchUpInside);
    }
    return m_startLiveButton;
}

const UILabelPtr& HomeViewController::versionLabel() {
    if (!m_versionLabel)
        m_versionLabel = makeVersionLabel();
    return m_versionLabel;
}

const UIControlPtr& HomeViewController::containerView() {
    if (!m_containerView) {
        m_containerView = UIControl::create();
        m_containerView->setBackgroundColor(UIColor::clearColor());
        m_containerView->addTarget(self(), selector("cancelTableView", &HomeViewController::cancelTableView),
                                   UIControlEventTouchUpInside);
    }
    return m_containerView;
}

const std::shared_ptr<AnchorNotCertifiedView>& HomeViewController::notCertifiedView() {
    if (!m_notCertifiedView) {
        m_notCertifiedView = AnchorNotCertifiedView::create();
        m_notCertifiedView->setBackgroundColor(UIColor::whiteColor());
    }
    return m_notCertifiedView;
}

void HomeViewController::setupSubviews() {
    for (const UIViewPtr& subview :
         {UIViewPtr(anchorRoomView()), UIViewPtr(resolutionSettingView()), startLiveBackgroundView(),
          UIViewPtr(versionLabel()), UIViewPtr(containerView()), UIViewPtr(notCertifiedView())})
        view()->addSubview(subview);
    startLiveBackgroundView()->addSubview(startLiveButton());
    containerView()->addSubview(categoryTableView());
    containerView()->setHidden(true);
    notCertifiedView()->setHidden(true);
    const auto& card = anchorRoomView();
    const std::pair<UIControlPtr, Selector> actions[] = {
        {card->roomTitleButton(),
         selector("editRoomTitleButtonPressed", &HomeViewController::editRoomTitleButtonPressed)},
        {card->logoutButton(), selector("logoutButtonPressed", &HomeViewController::logoutButtonPressed)},
        {card->roomCategoryButton(),
         selector("roomCategoryButtonPressed", &HomeViewController::roomCategoryButtonPressed)},
    };
    for (const auto& [control, action] : actions)
        control->addTarget(self(), action, UIControlEventTouchUpInside);
}

void HomeViewController::setupConstraints() {
    const auto& card = anchorRoomView();
    autoPinEdgesToSuperviewEdgesWithInsets(card, UIEdgeInsetsZero, EdgeBottom);
    autoMatchDimensionWithMultiplier(card, DimensionWidth, DimensionHeight, card, 1.8);
    const auto& chooser = resolutionSettingView();
    autoPinEdge(chooser, EdgeTop, EdgeBottom, card);
    autoPinEdgeToSuperviewEdge(chooser, EdgeLeft);
    autoPinEdgeToSuperviewEdge(chooser, EdgeRight);
    autoMatchDimensionWithMultiplier(chooser, DimensionWidth, DimensionHeight, chooser, 36.0 / 11);
    const auto& start = startLiveBackgroundView();
    autoPinEdgeToSuperviewEdge(start, EdgeLeft);
    autoPinEdgeToSuperviewEdge(start, EdgeRight);
    autoPinEdge(start, EdgeTop, EdgeBottom, chooser);
    autoPinEdge(start, EdgeBottom, EdgeTop, versionLabel());
    const auto startImage = UIImage::imageNamed("home_start_live");
    autoSetDimensionsToSize(startLiveButton(), startImage ? startImage->size() : CGSizeMake(110, 110));
    autoCenterInSuperview(startLiveButton());
    autoPinEdgeToSuperviewEdge(versionLabel(), EdgeBottom, 24);
    autoAlignAxisToSuperviewAxis(versionLabel(), AxisVertical);
    autoPinEdgesToSuperviewEdges(notCertifiedView());
    autoPinEdgesToSuperviewEdges(containerView());
    const auto& table = categoryTableView();
    autoPinEdgeToSuperviewEdge(table, EdgeLeft, 50);
    autoPinEdgeToSuperviewEdge(table, EdgeRight, 50);
    autoPinEdge(table, EdgeTop, EdgeBottom, card->roomCategoryButton(), 5);
    autoMatchDimensionWithMultiplier(table, DimensionHeight, DimensionHeight, view(), 0.55);
}
