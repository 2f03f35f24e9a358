#include "platform/ui/UIViewController.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UITabBarController.h"
#include "platform/ui/UIWindow.h"

#include <algorithm>
#include <mutex>

namespace platform {

namespace {
// The platform's duration of push, pop, present and dismiss.
constexpr double transitionDuration = 0.35;
bool g_viewControllerBasedStatusBarAppearance = false;

void collectTree(const UIViewControllerPtr& controller, std::vector<UIViewControllerPtr>& out) {
    if (!controller || std::find(out.begin(), out.end(), controller) != out.end())
        return;
    out.push_back(controller);
    for (const auto& child : controller->childViewControllers())
        collectTree(child, out);
    // A child's presented controller belongs to its outermost container, so asking the root is enough.
    if (!controller->parentViewController())
        collectTree(controller->presentedViewController(), out);
}
} // namespace

UIViewController::UIViewController() {
    installMemoryWarningForwarding();
}

UIViewController::~UIViewController() = default;

void UIViewController::installMemoryWarningForwarding() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The token is kept by the center for the life of the process.
        NotificationCenter::defaultCenter().addObserverForName(
            UIApplicationDidReceiveMemoryWarningNotification, nullptr, [](const Notification&) {
                std::vector<UIViewControllerPtr> controllers;
                for (const auto& window : UIWindow::visibleWindows())
                    collectTree(window->rootViewController(), controllers);
                for (const auto& controller : controllers)
                    controller->didReceiveMemoryWarning();
            });
    });
}

UIViewControllerPtr UIViewController::self() {
    return std::static_pointer_cast<UIViewController>(shared_from_this());
}

UIViewPtr UIViewController::view() {
    if (m_view || m_loadingView)
        return m_view;
    m_loadingView = true;
    loadView();
    if (!m_view)
        UIViewController::loadView();
    m_loadingView = false;
    m_view->setViewDelegate(self());
    viewDidLoad();
    return m_view;
}

void UIViewController::setView(const UIViewPtr& view) {
    if (m_view && m_view != view && m_view->viewDelegate().get() == this)
        m_view->setViewDelegate(nullptr);
    m_view = view;
    if (m_view && !m_loadingView)
        m_view->setViewDelegate(self());
}

void UIViewController::loadView() {
    auto view = UIView::create(UIScreen::mainScreen()->bounds());
    view->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    setView(view);
}

UIResponderPtr UIViewController::nextResponder() const {
    if (m_view) {
        if (auto superview = m_view->superview())
            return superview;
    }
    return m_parent.lock();
}

std::vector<UIViewControllerPtr> UIViewController::childViewControllersForAppearance() const {
    std::vector<UIViewControllerPtr> children;
    if (!m_view)
        return children;
    for (const auto& child : m_children) {
        auto childView = child->viewIfLoaded();
        if (childView && childView->isDescendantOfView(m_view))
            children.push_back(child);
    }
    return children;
}

void UIViewController::beginAppearanceTransition(bool isAppearing, bool animated) {
    auto keepAlive = self();
    if (isAppearing) {
        if (m_appearance == Appearance::Appeared || m_appearance == Appearance::Appearing)
            return;
        loadViewIfNeeded();
        m_appearance = Appearance::Appearing;
        m_appearanceAnimated = animated;
        viewWillAppear(animated);
    } else {
        if (m_appearance == Appearance::Disappeared || m_appearance == Appearance::Disappearing)
            return;
        m_appearance = Appearance::Disappearing;
        m_appearanceAnimated = animated;
        viewWillDisappear(animated);
    }
    for (const auto& child : childViewControllersForAppearance())
        child->beginAppearanceTransition(isAppearing, animated);
}

void UIViewController::endAppearanceTransition() {
    auto keepAlive = self();
    if (m_appearance == Appearance::Appearing) {
        m_appearance = Appearance::Appeared;
        viewDidAppear(m_appearanceAnimated);
        applyStatusBarAppearance();
    } else if (m_appearance == Appearance::Disappearing) {
        m_appearance = Appearance::Disappeared;
        viewDidDisappear(m_appearanceAnimated);
    } else {
        return;
    }
    for (const auto& child : childViewControllersForAppearance())
        child->endAppearanceTransition();
}

void UIViewController::runTransition(bool animated, std::function<void()> finish) {
    finishPendingTransition();
    if (!animated) {
        finish();
        return;
    }
    m_pendingTransition = std::move(finish);
    const uint64_t id = ++m_transitionId;
    std::weak_ptr<UIViewController> weak = self();
    UIView::animateWithDuration(
        transitionDuration, [] {},
        [weak, id](bool) {
            auto strong = weak.lock();
            if (strong && strong->m_transitionId == id)
                strong->finishPendingTransition();
        });
}

void UIViewController::finishPendingTransition() {
    if (!m_pendingTransition)
        return;
    auto finish = std::move(m_pendingTransition);
    m_pendingTransition = nullptr;
    finish();
}

void UIViewController::setTitle(std::optional<std::string> title) {
    m_title = std::move(title);
    navigationItem()->setTitle(m_title);
}

std::shared_ptr<UINavigationItem> UIViewController::navigationItem() {
    if (!m_navigationItem)
        m_navigationItem = UINavigationItem::create(m_title);
    return m_navigationItem;
}

void UIViewController::addChildViewController(const UIViewControllerPtr& child) {
    if (!child || child.get() == this)
        return;
    if (child->parentViewController().get() == this)
        return;
    if (child->parentViewController())
        child->removeFromParentViewController();
    child->willMoveToParentViewController(self());
    m_children.push_back(child);
    child->m_parent = self();
}

void UIViewController::removeFromParentViewController() {
    auto parent = m_parent.lock();
    if (!parent)
        return;
    auto keepAlive = self();
    std::erase(parent->m_children, keepAlive);
    m_parent.reset();
    didMoveToParentViewController(nullptr);
}

std::shared_ptr<UINavigationController> UIViewController::navigationController() const {
    for (auto parent = m_parent.lock(); parent; parent = parent->parentViewController()) {
        if (auto navigation = std::dynamic_pointer_cast<UINavigationController>(parent))
            return navigation;
    }
    return nullptr;
}

std::shared_ptr<UITabBarController> UIViewController::tabBarController() const {
    for (auto parent = m_parent.lock(); parent; parent = parent->parentViewController()) {
        if (auto tabs = std::dynamic_pointer_cast<UITabBarController>(parent))
            return tabs;
    }
    return nullptr;
}

UIInterfaceOrientation UIViewController::interfaceOrientation() const {
    return UIApplication::sharedApplication()->statusBarOrientation();
}

void UIViewController::setViewControllerBasedStatusBarAppearance(bool on) {
    g_viewControllerBasedStatusBarAppearance = on;
}

bool UIViewController::viewControllerBasedStatusBarAppearance() {
    return g_viewControllerBasedStatusBarAppearance;
}

void UIViewController::setNeedsStatusBarAppearanceUpdate() {
    applyStatusBarAppearance();
}

void UIViewController::applyStatusBarAppearance() {
    if (!g_viewControllerBasedStatusBarAppearance)
        return;
    auto app = UIApplication::sharedApplication();
    auto window = app->keyWindow();
    if (!window || !window->rootViewController())
        return;
    // The controller that decides: the top of the presentation chain, then down the containers that
    // name a child for the status bar.
    auto top = window->rootViewController();
    while (auto presented = top->presentedViewController())
        top = presented;
    auto styleOwner = top;
    while (auto child = styleOwner->childViewControllerForStatusBarStyle())
        styleOwner = child;
    auto hiddenOwner = top;
    while (auto child = hiddenOwner->childViewControllerForStatusBarHidden())
        hiddenOwner = child;
    app->setStatusBarStyle(styleOwner->preferredStatusBarStyle());
    app->setStatusBarHidden(hiddenOwner->prefersStatusBarHidden());
}

std::shared_ptr<UILayoutSupport> UIViewController::topLayoutGuide() {
    if (!m_topLayoutGuide)
        m_topLayoutGuide = std::make_shared<UILayoutSupport>(self(), true);
    return m_topLayoutGuide;
}

std::shared_ptr<UILayoutSupport> UIViewController::bottomLayoutGuide() {
    if (!m_bottomLayoutGuide)
        m_bottomLayoutGuide = std::make_shared<UILayoutSupport>(self(), false);
    return m_bottomLayoutGuide;
}

std::shared_ptr<UIView> UILayoutSupport::owningView() const {
    auto controller = m_controller.lock();
    return controller ? controller->viewIfLoaded() : nullptr;
}

double UILayoutSupport::length() const {
    auto controller = m_controller.lock();
    if (!controller || !controller->isViewLoaded())
        return 0;
    auto view = controller->viewIfLoaded();
    auto app = UIApplication::sharedApplication();
    if (m_top) {
        if (!(controller->edgesForExtendedLayout() & UIRectEdgeTop))
            return 0;
        double barBottom = app->isStatusBarHidden() ? 0 : CGRectGetMaxY(app->statusBarFrame());
        auto navigation = controller->navigationController();
        if (navigation && !navigation->isNavigationBarHidden()) {
            auto bar = navigation->navigationBar();
            if (bar->window())
                barBottom =
                    std::max(barBottom, CGRectGetMaxY(bar->convertRectToView(bar->bounds(), nullptr)));
            else
                barBottom += bar->bounds().size.height;
        }
        double viewTop = view->window() ? view->convertPointToView(CGPointZero, nullptr).y : 0;
        return std::max(0.0, barBottom - viewTop);
    }
    if (!(controller->edgesForExtendedLayout() & UIRectEdgeBottom))
        return 0;
    auto tabs = controller->tabBarController();
    if (!tabs || controller->hidesBottomBarWhenPushed())
        return 0;
    auto bar = tabs->tabBar();
    return bar->isHidden() ? 0 : bar->bounds().size.height;
}

} // namespace platform
