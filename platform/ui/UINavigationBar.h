#pragma once
// UINavigationBar: the bar across the top of a navigation controller. It shows the top item's title (or
// title view) between the left items (or a back button naming the item below) and the right items, over
// its background: the background image for the default metrics when one is set, else the bar tint colour
// (slightly see-through when translucent), else the platform's light grey. The background reaches up
// under the status bar. Its own layer takes extra sublayers (insertSublayer) like any view's.
// Main thread only.

#include "platform/graphics/AttributedString.h"
#include "platform/graphics/Image.h"
#include "platform/ui/UINavigationItem.h"
#include "platform/ui/UIView.h"

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace platform {

class UILabel;
class UIImageView;
class UINavigationBar;
using UINavigationBarPtr = std::shared_ptr<UINavigationBar>;

enum UIBarMetrics : int64_t {
    UIBarMetricsDefault = 0,
    UIBarMetricsCompact = 1,
    UIBarMetricsDefaultPrompt = 101,
    UIBarMetricsCompactPrompt = 102,
};

enum UIBarStyle : int64_t {
    UIBarStyleDefault = 0,
    UIBarStyleBlack = 1,
};

class UINavigationBar : public UIView {
public:
    static constexpr double defaultHeight = 44;

    static UINavigationBarPtr create() { return std::make_shared<UINavigationBar>(); }
    UINavigationBar();
    explicit UINavigationBar(CGRect frame);

    // The items, bottom to top; the top one is shown, the one below it names the back button.
    const std::vector<UINavigationItemPtr>& items() const { return m_items; }
    void setItems(std::vector<UINavigationItemPtr> items, bool animated = false);
    void pushNavigationItem(const UINavigationItemPtr& item, bool animated = false);
    UINavigationItemPtr popNavigationItemAnimated(bool animated = false);
    UINavigationItemPtr topItem() const;
    UINavigationItemPtr backItem() const;

    UIBarStyle barStyle() const { return m_barStyle; }
    void setBarStyle(int64_t style);
    bool isTranslucent() const { return m_translucent; }
    virtual void setTranslucent(bool translucent);
    UIColorPtr barTintColor() const { return m_barTintColor; }
    virtual void setBarTintColor(UIColorPtr color);
    UIImagePtr backgroundImageForBarMetrics(int64_t metrics) const;
    virtual void setBackgroundImage(UIImagePtr image, int64_t metrics);
    UIImagePtr shadowImage() const { return m_shadowImage; }
    void setShadowImage(UIImagePtr image);
    const NSAttributes& titleTextAttributes() const { return m_titleTextAttributes; }
    void setTitleTextAttributes(NSAttributes attributes);

    // The view showing the top item's title (a label, or the item's title view), the background, and the
    // views made for the bar items (for rendering and tests).
    std::shared_ptr<UILabel> titleLabel() const { return m_titleLabel; }
    std::shared_ptr<UIImageView> backgroundView() const { return m_background; }
    // A tap on the back button: the bar asks this to pop (the navigation controller sets it).
    std::function<void()> onBackButton;

    // For UINavigationItem: an item the bar shows has changed.
    void navigationItemChanged();

    CGSize sizeThatFits(CGSize size) override;
    void layoutSubviews() override;
    void tintColorDidChange() override;

private:
    void build();
    void rebuildItemViews();
    std::shared_ptr<UIView> viewForItem(const UIBarButtonItemPtr& item);
    UINavigationBarPtr self();

    std::vector<UINavigationItemPtr> m_items;
    UIBarStyle m_barStyle{UIBarStyleDefault};
    bool m_translucent{true};
    UIColorPtr m_barTintColor;
    std::map<int64_t, UIImagePtr> m_backgroundImages;
    UIImagePtr m_shadowImage;
    NSAttributes m_titleTextAttributes;
    std::shared_ptr<UIImageView> m_background;
    std::shared_ptr<UILabel> m_titleLabel;
    std::vector<std::shared_ptr<UIView>> m_itemViews;
    std::vector<std::pair<std::shared_ptr<UIView>, double>> m_leftViews; // view (null: a space) and width
    std::vector<std::pair<std::shared_ptr<UIView>, double>> m_rightViews;
    bool m_itemsDirty{true};
};

} // namespace platform
