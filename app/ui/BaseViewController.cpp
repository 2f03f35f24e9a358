#include "app/ui/BaseViewController.h"

#include "app/ui/UINavigationItem+CustomBackButtonItem.h"

using namespace platform;

BaseViewController::BaseViewController() {
    loadCustomBackButtonItem();
}

void BaseViewController::viewDidLoad() {
    UIViewController::viewDidLoad();
    setAutomaticallyAdjustsScrollViewInsets(true);
    setEdgesForExtendedLayout(UIRectEdgeAll);
    setExtendedLayoutIncludesOpaqueBars(true);
    view()->setBackgroundColor(opaqueWhite());
    applyCustomNavigationBarColors();
    startPreferredNetworkMonitoring();
}
