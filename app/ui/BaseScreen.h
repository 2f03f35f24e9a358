#pragma once
// BaseScreen: what the base screens share, over the platform controller each extends (a plain or a table
// view controller). It re-applies the chrome hooks of Subclass_Rewrite on every viewWillAppear, tracks
// isFirstTimeAppearing (until the first viewDidDisappear) and isViewActive (between viewDidAppear and
// viewDidDisappear), answers white chrome and a status-bar style that follows the bar colour's lightness,
// and ends every notification subscription, the network one too, when it is destroyed. The screens' own
// viewDidLoad calls the two shared steps around their own look. Main thread only.

#include "app/ui/UIViewController+Base.h"
#include "app/ui/UIViewController+NetworkStatus.h"
#include "app/ui/UIViewController+Subclass_Rewrite.h"
#include "app/ui/UIViewController+Tools.h"
#include "platform/foundation/NotificationCenter.h"

#include <utility>

template <typename Controller>
class BaseScreen : public Controller, public Subclass_Rewrite, public NetworkStatus {
public:
    template <typename... Args>
    explicit BaseScreen(Args&&... args)
        : Controller(std::forward<Args>(args)...) {
        setFirstTimeAppearing(*this, true);
    }
    // The subclass that asked for the network is already gone here, so its preferredNetworkMonitoring can
    // no longer be asked: every subscription ends.
    ~BaseScreen() override {
        platform::NotificationCenter::defaultCenter().removeObserver(
            static_cast<const platform::Object*>(this));
    }

    void viewWillAppear(bool animated) override {
        Controller::viewWillAppear(animated);
        ::adjustNavigationBar(*this);
    }
    void viewDidAppear(bool animated) override {
        Controller::viewDidAppear(animated);
        setViewActive(*this, true);
    }
    void viewDidDisappear(bool animated) override {
        Controller::viewDidDisappear(animated);
        setViewActive(*this, false);
        setFirstTimeAppearing(*this, false);
    }

    // White bar, white title, white buttons.
    platform::UIColorPtr customNavigationBarColor() override { return opaqueWhite(); }
    platform::UIColorPtr customNavigationBarTitleColor() override { return opaqueWhite(); }
    platform::UIColorPtr customNavigationBarButtonItemColor() override { return opaqueWhite(); }

    platform::UIStatusBarStyle preferredStatusBarStyle() const override {
        return isLightContentColor(*this, navigationBarColor(*this)) ? platform::UIStatusBarStyleDefault
                                                                     : platform::UIStatusBarStyleLightContent;
    }
    bool prefersStatusBarHidden() const override { return false; }

protected:
    static platform::UIColorPtr opaqueWhite() { return platform::UIColor::colorWithRed(1, 1, 1, 1); }
    // The bar, title and button colours from the hooks.
    void applyCustomNavigationBarColors() {
        setNavigationBarColor(*this, ::customNavigationBarColor(*this));
        setNavigationBarTitleColor(*this, ::customNavigationBarTitleColor(*this));
        setNavigationBarButtonItemColor(*this, ::customNavigationBarButtonItemColor(*this));
    }
    void startPreferredNetworkMonitoring() {
        if (::preferredNetworkMonitoring(*this))
            addNetworkMonitoring(*this);
    }
};
