#pragma once
// BaseViewController: the base of every screen of the application (the behaviour it shares with the base
// table screen is BaseScreen's: chrome hooks on every viewWillAppear, isFirstTimeAppearing, isViewActive,
// the network subscription when preferredNetworkMonitoring is YES, white chrome, a status-bar style that
// follows the bar colour's lightness). It lays out under the bars and keeps a white background. Portrait
// only, no autorotation. Screens override the hooks, and call the base class's life-cycle methods first.
// Make screens with make_shared. Main thread only.

#include "app/ui/BaseScreen.h"
#include "platform/ui/UIViewController.h"

class BaseViewController : public BaseScreen<platform::UIViewController> {
public:
    BaseViewController();

    void viewDidLoad() override;

    bool shouldAutorotate() const override { return false; }
    uint64_t supportedInterfaceOrientations() const override {
        return platform::UIInterfaceOrientationMaskPortrait;
    }
};
