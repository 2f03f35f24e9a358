#pragma once
// UIViewController: owns a screen's view, loaded lazily (loadView, then viewDidLoad, on the first view()),
// and tells its subclass when the view comes on and goes off screen, in the platform's order:
//   push:     old viewWillDisappear, new viewWillAppear, (transition) old viewDidDisappear, new viewDidAppear
//   pop:      top viewWillDisappear, below viewWillAppear, (transition) top viewDidDisappear, below
//   viewDidAppear present:  presenter viewWillDisappear, presented viewWillAppear, (transition) presented
//   viewDidAppear,
//             presenter viewDidDisappear, then the completion
//   dismiss:  presented viewWillDisappear, presenter viewWillAppear, (transition) presented viewDidDisappear,
//             presenter viewDidAppear, then the completion
// A container forwards appearance to the children it shows (their callbacks follow the container's). An
// animated transition ends on the main run loop after its duration by Clock::current() (instant
// animations end it on the next pass); without animation it ends inside the call. A completion never runs
// inside the call that started the transition. Each callback runs once per change: asking a controller
// that is on screen to appear again does nothing.
//
// Memory warnings (UIApplicationDidReceiveMemoryWarningNotification) reach didReceiveMemoryWarning of every
// controller under a visible window: the root, its children, and what they present. Main thread only.
// Make controllers with make_shared (or create()); parent and presenting links are weak.

#include "platform/ui/UIApplication.h"
#include "platform/ui/UIRectEdge.h"
#include "platform/ui/UIResponder.h"
#include "platform/ui/UIView.h"
#include "platform/ui/UIViewControllerTransitionCoordinator.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class UIViewController;
class UINavigationController;
class UINavigationItem;
class UITabBarController;
using UIViewControllerPtr = std::shared_ptr<UIViewController>;

enum UIModalTransitionStyle : int64_t {
    UIModalTransitionStyleCoverVertical = 0,
    UIModalTransitionStyleFlipHorizontal = 1,
    UIModalTransitionStyleCrossDissolve = 2,
    UIModalTransitionStylePartialCurl = 3,
};

enum UIModalPresentationStyle : int64_t {
    UIModalPresentationFullScreen = 0,
    UIModalPresentationPageSheet = 1,
    UIModalPresentationFormSheet = 2,
    UIModalPresentationCurrentContext = 3,
    UIModalPresentationCustom = 4,
    UIModalPresentationOverFullScreen = 5,
    UIModalPresentationOverCurrentContext = 6,
};

// A controller's layout guide: the distance from the top (or bottom) of its view to the nearest bar that
// covers it, measured when asked.
class UILayoutSupport : public Object {
public:
    UILayoutSupport(std::weak_ptr<UIViewController> controller, bool top)
        : m_controller(std::move(controller))
        , m_top(top) {}
    double length() const;
    bool isTopGuide() const { return m_top; }
    // The controller's view, whose strip the guide measures; null before the view is loaded.
    std::shared_ptr<UIView> owningView() const;

private:
    std::weak_ptr<UIViewController> m_controller;
    bool m_top{true};
};

class UIViewController : public UIResponder {
public:
    static UIViewControllerPtr create() { return std::make_shared<UIViewController>(); }
    UIViewController();
    ~UIViewController() override;

    // The view.
    UIViewPtr view();
    void setView(const UIViewPtr& view);
    UIViewPtr viewIfLoaded() const { return m_view; }
    bool isViewLoaded() const { return m_view != nullptr; }
    void loadViewIfNeeded() { view(); }
    // The default makes a plain view at the screen's bounds that resizes with its superview.
    virtual void loadView();
    virtual void viewDidLoad() {}
    virtual void viewWillAppear(bool /*animated*/) {}
    virtual void viewDidAppear(bool /*animated*/) {}
    virtual void viewWillDisappear(bool /*animated*/) {}
    virtual void viewDidDisappear(bool /*animated*/) {}
    virtual void viewWillLayoutSubviews() {}
    virtual void viewDidLayoutSubviews() {}
    virtual void didReceiveMemoryWarning() {}
    UIResponderPtr nextResponder() const override;

    // Appearance, for containers and windows. See the header for what each call promises.
    enum class Appearance { Disappeared, Appearing, Appeared, Disappearing };
    Appearance appearance() const { return m_appearance; }
    void beginAppearanceTransition(bool isAppearing, bool animated);
    void endAppearanceTransition();
    bool isBeingPresented() const { return m_beingPresented; }
    bool isBeingDismissed() const { return m_beingDismissed; }
    bool isMovingToParentViewController() const { return m_movingToParent; }
    bool isMovingFromParentViewController() const { return m_movingFromParent; }

    // Title and navigation item (setting the title also titles the navigation item).
    const std::optional<std::string>& title() const { return m_title; }
    virtual void setTitle(std::optional<std::string> title);
    std::shared_ptr<UINavigationItem> navigationItem();

    // Containment.
    UIViewControllerPtr parentViewController() const { return m_parent.lock(); }
    const std::vector<UIViewControllerPtr>& childViewControllers() const { return m_children; }
    // Calls the child's willMoveToParentViewController(this); the caller calls didMove when done.
    void addChildViewController(const UIViewControllerPtr& child);
    // Calls didMoveToParentViewController(nullptr); the caller calls willMove(nullptr) first.
    void removeFromParentViewController();
    virtual void willMoveToParentViewController(const UIViewControllerPtr& /*parent*/) {}
    virtual void didMoveToParentViewController(const UIViewControllerPtr& /*parent*/) {}
    // The nearest ancestor of that kind, or null.
    std::shared_ptr<UINavigationController> navigationController() const;
    std::shared_ptr<UITabBarController> tabBarController() const;

    // Presentation (UIViewController+Presentation.cpp). The presenter is this controller's outermost
    // container; a presenter that already presents something refuses (the completion does not run).
    void presentViewController(const UIViewControllerPtr& controller, bool animated,
                               std::function<void()> completion = {});
    // Dismisses what this controller (or its outermost container) presents, with everything that presents
    // further; when it presents nothing, the presenter of the outermost container dismisses it.
    void dismissViewControllerAnimated(bool animated, std::function<void()> completion = {});
    UIViewControllerPtr presentedViewController() const;
    UIViewControllerPtr presentingViewController() const;
    UIModalTransitionStyle modalTransitionStyle() const { return m_modalTransitionStyle; }
    void setModalTransitionStyle(int64_t style) {
        m_modalTransitionStyle = static_cast<UIModalTransitionStyle>(style);
    }
    UIModalPresentationStyle modalPresentationStyle() const { return m_modalPresentationStyle; }
    void setModalPresentationStyle(int64_t style) {
        m_modalPresentationStyle = static_cast<UIModalPresentationStyle>(style);
    }
    bool definesPresentationContext() const { return m_definesPresentationContext; }
    void setDefinesPresentationContext(bool defines) { m_definesPresentationContext = defines; }

    // Status bar and orientation.
    virtual UIStatusBarStyle preferredStatusBarStyle() const { return UIStatusBarStyleDefault; }
    virtual bool prefersStatusBarHidden() const { return false; }
    virtual UIStatusBarAnimation preferredStatusBarUpdateAnimation() const {
        return UIStatusBarAnimationFade;
    }
    virtual UIViewControllerPtr childViewControllerForStatusBarStyle() const { return nullptr; }
    virtual UIViewControllerPtr childViewControllerForStatusBarHidden() const { return nullptr; }
    // With controller-based status-bar appearance on (off by default, as the application's information
    // property list chooses), the key window's top controller's preferences become the application's
    // status-bar style and visibility whenever it appears or asks for an update.
    void setNeedsStatusBarAppearanceUpdate();
    static void setViewControllerBasedStatusBarAppearance(bool on);
    static bool viewControllerBasedStatusBarAppearance();
    virtual bool shouldAutorotate() const { return true; }
    virtual uint64_t supportedInterfaceOrientations() const {
        return UIInterfaceOrientationMaskAllButUpsideDown;
    }
    virtual UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const {
        return UIInterfaceOrientationPortrait;
    }
    UIInterfaceOrientation interfaceOrientation() const;
    // When the interface turns (UIApplication.h), each controller of the key window that is on screen
    // (appearing, shown or disappearing) hears first that its view will take the new size, then, with the
    // new bounds set, that the interface turns. Containers do not forward these: every controller gets
    // them directly.
    virtual void viewWillTransitionToSize(CGSize /*size*/,
                                          const UIViewControllerTransitionCoordinatorPtr& /*coordinator*/) {}
    virtual void willAnimateRotationToInterfaceOrientation(UIInterfaceOrientation /*orientation*/,
                                                           double /*duration*/) {}

    // Layout under bars and other flags.
    uint64_t edgesForExtendedLayout() const { return m_edgesForExtendedLayout; }
    void setEdgesForExtendedLayout(uint64_t edges) { m_edgesForExtendedLayout = edges; }
    bool extendedLayoutIncludesOpaqueBars() const { return m_extendedLayoutIncludesOpaqueBars; }
    void setExtendedLayoutIncludesOpaqueBars(bool on) { m_extendedLayoutIncludesOpaqueBars = on; }
    bool automaticallyAdjustsScrollViewInsets() const { return m_automaticallyAdjustsScrollViewInsets; }
    void setAutomaticallyAdjustsScrollViewInsets(bool on) { m_automaticallyAdjustsScrollViewInsets = on; }
    bool hidesBottomBarWhenPushed() const { return m_hidesBottomBarWhenPushed; }
    void setHidesBottomBarWhenPushed(bool on) { m_hidesBottomBarWhenPushed = on; }
    bool modalPresentationCapturesStatusBarAppearance() const { return m_capturesStatusBarAppearance; }
    void setModalPresentationCapturesStatusBarAppearance(bool on) { m_capturesStatusBarAppearance = on; }
    CGSize preferredContentSize() const { return m_preferredContentSize; }
    void setPreferredContentSize(CGSize size) { m_preferredContentSize = size; }
    std::shared_ptr<UILayoutSupport> topLayoutGuide();
    std::shared_ptr<UILayoutSupport> bottomLayoutGuide();

protected:
    // The children whose appearance follows this controller's (default: those whose views are in this
    // controller's view tree).
    virtual std::vector<UIViewControllerPtr> childViewControllersForAppearance() const;
    // Runs `finish` now (not animated) or when a transition animation of the standard duration ends.
    // Starting another transition first finishes the pending one, so callbacks never interleave.
    void runTransition(bool animated, std::function<void()> finish);
    void finishPendingTransition();
    void setMovingToParent(bool on) { m_movingToParent = on; }
    void setMovingFromParent(bool on) { m_movingFromParent = on; }

private:
    friend class UILayoutSupport;
    friend class UINavigationController;
    UIViewControllerPtr self();
    UIViewControllerPtr outermostContainer();
    void applyStatusBarAppearance();
    static void installMemoryWarningForwarding();

    UIViewPtr m_view;
    std::optional<std::string> m_title;
    std::shared_ptr<UINavigationItem> m_navigationItem;
    std::weak_ptr<UIViewController> m_parent;
    std::vector<UIViewControllerPtr> m_children;
    UIViewControllerPtr m_presented;
    std::weak_ptr<UIViewController> m_presenting;
    std::shared_ptr<UILayoutSupport> m_topLayoutGuide;
    std::shared_ptr<UILayoutSupport> m_bottomLayoutGuide;
    std::function<void()> m_pendingTransition;
    uint64_t m_transitionId{0};
    Appearance m_appearance{Appearance::Disappeared};
    bool m_appearanceAnimated{false};
    bool m_loadingView{false};
    bool m_beingPresented{false};
    bool m_beingDismissed{false};
    bool m_presenterDisappeared{false};
    bool m_movingToParent{false};
    bool m_movingFromParent{false};
    UIModalTransitionStyle m_modalTransitionStyle{UIModalTransitionStyleCoverVertical};
    UIModalPresentationStyle m_modalPresentationStyle{UIModalPresentationFullScreen};
    bool m_definesPresentationContext{false};
    uint64_t m_edgesForExtendedLayout{UIRectEdgeAll};
    bool m_extendedLayoutIncludesOpaqueBars{false};
    bool m_automaticallyAdjustsScrollViewInsets{true};
    bool m_hidesBottomBarWhenPushed{false};
    bool m_capturesStatusBarAppearance{false};
    CGSize m_preferredContentSize;
};

} // namespace platform
