#include "app/ui/BaseViewController.h"

#include "app/ui/UINavigationItem+CustomBackButtonItem.h"
#include "app/ui/UIViewController+Base.h"
#include "app/ui/UIViewController+Tools.h"
#include "platform/foundation/NotificationCenter.h"

using namespace platform;

namespace {
UIColorPtr opaqueWhite() {
    return UIColor::colorWithRed(1, 1, 1, 1);
}
} // namespace

BaseViewController::BaseViewController() {
    loadCustomBackButtonItem();
    setFirstTimeAppearing(*this, true);
}

BaseViewController::~BaseViewController() {
    // Every subscription ends here, the network one too: the subclass that asked for it is already gone,
    // so its preferredNetworkMonitoring can no longer be asked.
    NotificationCenter::defaultCenter().removeObserver(static_cast<const Object*>(this));
}

void BaseViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    setAutomaticallyAdjustsScrollViewInsets(true);
    setEdgesForExtendedLayout(UIRectEdgeAll);
    setExtendedLayoutIncludesOpaqueBars(true);
    view()->setBackgroundColor(opaqueWhite());
    setNavigationBarColor(*this, ::customNavigationBarColor(*this));
    setNavigationBarTitleColor(*this, ::customNavigationBarTitleColor(*this));
    setNavigationBarButtonItemColor(*this, ::customNavigationBarButtonItemColor(*this));
    if (::preferredNetworkMonitoring(*this))
        addNetworkMonitoring(*this);
}

void BaseViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    ::adjustNavigationBar(*this);
}

void BaseViewController::viewDidAppear(bool animated) {
    UIViewController::viewDidAppear(animated);
    setViewActive(*this, true);
}

void BaseViewController::viewDidDisappear(bool animated) {
    UIViewController::viewDidDisappear(animated);
    setViewActive(*this, false);
    setFirstTimeAppearing(*this, false);
}

UIColorPtr BaseViewController::customNavigationBarColor() {
    return opaqueWhite();
}

UIColorPtr BaseViewController::customNavigationBarTitleColor() {
    return opaqueWhite();
}

UIColorPtr BaseViewController::customNavigationBarButtonItemColor() {
    return opaqueWhite();
}

UIStatusBarStyle BaseViewController::preferredStatusBarStyle() const {
    return isLightContentColor(*this, navigationBarColor(*this)) ? UIStatusBarStyleDefault
                                                                 : UIStatusBarStyleLightContent;
}
