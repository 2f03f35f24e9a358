#pragma once
// UIWindow: the root of a view tree, shown on the screen. Setting a root view controller puts its view in
// the window at the window's bounds (resizing with it); while the window is visible, the old root's view
// disappears and the new one's appears with the controllers' appearance callbacks
// (beginAppearanceTransition/endAppearanceTransition). makeKeyAndVisible shows the window and makes it the
// application's key window. The rendering half (UIWindow+Rendering.cpp) draws the whole tree into an image
// or a PNG file, laying it out first. Main thread only.

#include "platform/foundation/Data.h"
#include "platform/graphics/Image.h"
#include "platform/ui/UIView.h"

#include <filesystem>
#include <memory>
#include <optional>

namespace platform {

class UIWindow;
class UIViewController;
using UIWindowPtr = std::shared_ptr<UIWindow>;

using UIWindowLevel = double;
inline constexpr UIWindowLevel UIWindowLevelNormal = 0;
inline constexpr UIWindowLevel UIWindowLevelStatusBar = 1000;
inline constexpr UIWindowLevel UIWindowLevelAlert = 2000;

inline constexpr const char* UIWindowDidBecomeVisibleNotification = "UIWindowDidBecomeVisibleNotification";
inline constexpr const char* UIWindowDidBecomeHiddenNotification = "UIWindowDidBecomeHiddenNotification";
inline constexpr const char* UIWindowDidBecomeKeyNotification = "UIWindowDidBecomeKeyNotification";
inline constexpr const char* UIWindowDidResignKeyNotification = "UIWindowDidResignKeyNotification";

class UIWindow : public UIView {
public:
    static UIWindowPtr create() { return std::make_shared<UIWindow>(); }
    static UIWindowPtr create(CGRect frame) { return std::make_shared<UIWindow>(frame); }
    UIWindow(); // hidden, at the screen's bounds
    explicit UIWindow(CGRect frame);
    ~UIWindow() override;

    std::shared_ptr<UIViewController> rootViewController() const { return m_rootViewController; }
    virtual void setRootViewController(const std::shared_ptr<UIViewController>& controller);

    void makeKeyAndVisible();
    void makeKeyWindow();
    bool isKeyWindow() const;
    virtual void becomeKeyWindow() {}
    virtual void resignKeyWindow() {}
    // A window is visible when it is not hidden; showing and hiding a window with a root controller makes
    // that controller appear and disappear.
    void setHidden(bool hidden) override;
    UIWindowLevel windowLevel() const { return m_windowLevel; }
    void setWindowLevel(UIWindowLevel level) { m_windowLevel = level; }
    UIResponderPtr nextResponder() const override;
    // The root, or the last controller presented over it that fills the screen: the one whose
    // orientations the interface follows.
    std::shared_ptr<UIViewController> topFullScreenController() const;

    // Rendering: lays out the tree, then draws it at the screen's scale (or the given one) over an opaque
    // black background, as the screen would show it.
    UIImagePtr renderImage(double scale = 0);
    std::optional<Data> renderPNG(double scale = 0);
    bool writePNG(const std::filesystem::path& path, double scale = 0);

    // Windows that are visible, back to front by level (the application's windows list).
    static std::vector<UIWindowPtr> visibleWindows();

private:
    void setRootVisible(bool visible);

    std::shared_ptr<UIViewController> m_rootViewController;
    UIWindowLevel m_windowLevel{UIWindowLevelNormal};
};

} // namespace platform
