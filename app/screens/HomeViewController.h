#pragma once
// HomeViewController: where a logged-in anchor prepares a broadcast. It shows the anchor card (avatar,
// nickname, room number, category, title, logout), the resolution chooser and the start button. From it
// the anchor edits the room title (dialog 520), picks the category from a list, logs out (the login
// screen returns a second later), and starts the broadcast screen, modally; before a user's first
// broadcast on this device the mobile number bound to the account must be typed (dialog 521).
//
// Every appearance refreshes the user, the room, the stream key and the categories from the service and
// keeps them in CommonData. A failed or garbled reply shows the service's text (the user's own reply
// shows nothing) and leaves what the screen and CommonData hold; an avatar that does not load leaves
// the picture shown. Main thread only; make it with create(). Replies and delayed steps hold the screen
// weakly.

#include "app/core/CategoryListModel.h"
#include "app/screens/AnchorNotCertifiedView.h"
#include "app/screens/AnchorRoomView.h"
#include "app/screens/ResolutionSettingView.h"
#include "app/ui/BaseViewController.h"
#include "platform/ui/UIAlertView.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIControl.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UITableView.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class HomeViewController : public BaseViewController,
                           public platform::UITableViewDataSource,
                           public platform::UITableViewDelegate,
                           public platform::UIAlertViewDelegate {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    static constexpr int64_t kRoomTitleAlertTag = 520;
    static constexpr int64_t kMobilePhoneAlertTag = 521;

    static std::shared_ptr<HomeViewController> create();
    explicit HomeViewController(PrivateTag) {}

    const std::shared_ptr<AnchorRoomView>& anchorRoomView();
    const std::shared_ptr<ResolutionSettingView>& resolutionSettingView();
    const platform::UITableViewPtr& categoryTableView();
    const platform::UIViewPtr& startLiveBackgroundView();
    const platform::UIButtonPtr& startLiveButton();
    const platform::UILabelPtr& versionLabel();
    const platform::UIControlPtr& containerView();
    const std::shared_ptr<AnchorNotCertifiedView>& notCertifiedView();

    // Refreshes the card and the chooser from CommonData once it holds both a user and a room.
    void loadUserData();
    void updateSubviews();
    void refreshRoomTitle();
    // Hides the list and shows the stored category.
    void refreshRoomCategory();
    void roomCategoryButtonPressed();
    void cancelTableView();
    void editRoomTitleButtonPressed();
    void logoutButtonPressed();
    void startLiveButtonPressed();
    void identifyMobilePhone();
    void startLive();
    void alertViewWillDismissWithButtonIndex(platform::UIAlertView* alertView, int64_t buttonIndex) override;

    // ---- Request: the service calls ---------------------------------------------------------------
    const std::optional<std::vector<std::shared_ptr<CategoryListModel>>>& categoryListArray() const {
        return m_categoryListArray;
    }
    void setCategoryListArray(std::optional<std::vector<std::shared_ptr<CategoryListModel>>> list) {
        m_categoryListArray = std::move(list);
    }
    // Also asks for the stream key, every time.
    void requestUserInfo();
    void requestRoomInfo();
    void getCategoryList();
    void userLogout();
    // Sends nothing for an empty title or one with an emoji (a prompt says why).
    void requestUpdateRoomTitle(const std::optional<std::string>& title);
    void requestUpdateRoomCategory(const std::shared_ptr<CategoryListModel>& category);

    // ---- CategoryTableViewDelegate -----------------------------------------------------------------
    int64_t tableViewNumberOfRowsInSection(platform::UITableView* tableView, int64_t section) override;
    platform::UITableViewCellPtr
    tableViewCellForRowAtIndexPath(platform::UITableView* tableView,
                                   const platform::NSIndexPathPtr& indexPath) override;
    void tableViewDidSelectRowAtIndexPath(platform::UITableView* tableView,
                                          const platform::NSIndexPathPtr& indexPath) override;

    void setupSubviews();
    void setupConstraints();

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    bool preferredNavigationBarHidden() override { return true; }
    platform::UIColorPtr customNavigationBarColor() override;

private:
    std::shared_ptr<HomeViewController> self() { return sharedAs<HomeViewController>(); }
    std::weak_ptr<HomeViewController> weakSelf() { return self(); }
    void loadAvatar(const std::string& avatar);
    void resolutionChanged(int64_t index);
    void confirmMobilePhone(const std::string& typed);
    // Shows a dialog with a plain text field, this screen as its delegate.
    platform::UIAlertViewPtr showTextDialog(const char* title, int64_t tag);

    std::shared_ptr<AnchorRoomView> m_anchorRoomView;
    std::shared_ptr<ResolutionSettingView> m_resolutionSettingView;
    platform::UITableViewPtr m_categoryTableView;
    platform::UIViewPtr m_startLiveBackgroundView;
    platform::UIButtonPtr m_startLiveButton;
    platform::UILabelPtr m_versionLabel;
    platform::UIControlPtr m_containerView;
    std::shared_ptr<AnchorNotCertifiedView> m_notCertifiedView;
    std::optional<std::vector<std::shared_ptr<CategoryListModel>>> m_categoryListArray;
};
