#pragma once
// UITabBarController, the minimal one: children shown one at a time above a tab bar; the selected child's
// view fills the area above the bar, and only it follows the controller's appearance. Main thread only.

#include "platform/ui/UIViewController.h"

#include <memory>
#include <vector>

namespace platform {

class UITabBar : public UIView {
public:
    static constexpr double defaultHeight = 49;
    UITabBar();
    CGSize sizeThatFits(CGSize size) override;
};

class UITabBarController;
using UITabBarControllerPtr = std::shared_ptr<UITabBarController>;

class UITabBarController : public UIViewController {
public:
    static UITabBarControllerPtr create() { return std::make_shared<UITabBarController>(); }

    const std::vector<UIViewControllerPtr>& viewControllers() const { return m_controllers; }
    void setViewControllers(std::vector<UIViewControllerPtr> controllers, bool animated = false);
    UIViewControllerPtr selectedViewController() const;
    void setSelectedViewController(const UIViewControllerPtr& controller);
    // -1 (the platform's not-found) when there are no children.
    int64_t selectedIndex() const { return m_selectedIndex; }
    void setSelectedIndex(int64_t index);
    std::shared_ptr<UITabBar> tabBar();

    void loadView() override;
    void viewWillLayoutSubviews() override;

protected:
    std::vector<UIViewControllerPtr> childViewControllersForAppearance() const override;

private:
    void show(const UIViewControllerPtr& from, const UIViewControllerPtr& to);

    std::vector<UIViewControllerPtr> m_controllers;
    std::shared_ptr<UITabBar> m_tabBar;
    int64_t m_selectedIndex{-1};
};

} // namespace platform
