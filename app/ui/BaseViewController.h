#pragma once
// BaseViewController: the base of every screen of the application. It lays out under the bars, keeps a
// white background, and re-applies the chrome hooks of Subclass_Rewrite on every viewWillAppear (so a
// screen that changes its bar colours at run time sees them reset at its next appearance). It tracks
// isFirstTimeAppearing (until the first viewDidDisappear) and isViewActive (between viewDidAppear and
// viewDidDisappear). When preferredNetworkMonitoring is YES it follows the network monitor from
// viewDidLoad to its destruction (networkStatusChanged, UIViewController+NetworkStatus.h). Portrait only, no
// autorotation; the status-bar style follows the bar colour's lightness. Screens override the hooks, and call
// the base class's life-cycle methods first. Make screens with make_shared. Main thread only.

#include "app/ui/UIViewController+NetworkStatus.h"
#include "app/ui/UIViewController+Subclass_Rewrite.h"
#include "platform/ui/UIViewController.h"

class BaseViewController : public platform::UIViewController, public Subclass_Rewrite, public NetworkStatus {
public:
    BaseViewController();
    ~BaseViewController() override;

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;

    // White bar, white title, white buttons.
    platform::UIColorPtr customNavigationBarColor() override;
    platform::UIColorPtr customNavigationBarTitleColor() override;
    platform::UIColorPtr customNavigationBarButtonItemColor() override;

    bool shouldAutorotate() const override { return false; }
    uint64_t supportedInterfaceOrientations() const override {
        return platform::UIInterfaceOrientationMaskPortrait;
    }
    platform::UIStatusBarStyle preferredStatusBarStyle() const override;
    bool prefersStatusBarHidden() const override { return false; }
};
