#include "platform/ui/UINavigationBar.h"

#include "platform/graphics/Font.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIScreen.h"

#include <algorithm>

namespace platform {

namespace {
constexpr double sideMargin = 8;
constexpr double itemSpacing = 8;

double statusBarHeight() {
    return UIApplication::sharedApplication()->statusBarFrame().size.height;
}
} // namespace

UINavigationBar::UINavigationBar()
    : UIView(CGRectMake(0, 0, UIScreen::mainScreen()->bounds().size.width, defaultHeight)) {
    build();
}

UINavigationBar::UINavigationBar(CGRect frame)
    : UIView(frame) {
    build();
}

void UINavigationBar::build() {
    m_background = UIImageView::create();
    m_background->setContentMode(UIViewContentModeScaleToFill);
    m_titleLabel = UILabel::create();
    m_titleLabel->setTextAlignment(NSTextAlignmentCenter);
    setAutoresizingMask(UIViewAutoresizingFlexibleWidth);
}

UINavigationBarPtr UINavigationBar::self() {
    return std::static_pointer_cast<UINavigationBar>(shared_from_this());
}

void UINavigationBar::setItems(std::vector<UINavigationItemPtr> items, bool) {
    std::erase(items, nullptr);
    m_items = std::move(items);
    for (const auto& item : m_items)
        item->setNavigationBar(self());
    navigationItemChanged();
}

void UINavigationBar::pushNavigationItem(const UINavigationItemPtr& item, bool animated) {
    if (!item)
        return;
    auto items = m_items;
    items.push_back(item);
    setItems(std::move(items), animated);
}

UINavigationItemPtr UINavigationBar::popNavigationItemAnimated(bool animated) {
    if (m_items.empty())
        return nullptr;
    auto items = m_items;
    auto top = items.back();
    items.pop_back();
    setItems(std::move(items), animated);
    return top;
}

UINavigationItemPtr UINavigationBar::topItem() const {
    return m_items.empty() ? nullptr : m_items.back();
}

UINavigationItemPtr UINavigationBar::backItem() const {
    return m_items.size() < 2 ? nullptr : m_items[m_items.size() - 2];
}

void UINavigationBar::setBarStyle(int64_t style) {
    m_barStyle = static_cast<UIBarStyle>(style);
    setNeedsLayout();
}

void UINavigationBar::setTranslucent(bool translucent) {
    m_translucent = translucent;
    setNeedsLayout();
}

void UINavigationBar::setBarTintColor(UIColorPtr color) {
    m_barTintColor = std::move(color);
    setNeedsLayout();
}

UIImagePtr UINavigationBar::backgroundImageForBarMetrics(int64_t metrics) const {
    auto it = m_backgroundImages.find(metrics);
    return it == m_backgroundImages.end() ? nullptr : it->second;
}

void UINavigationBar::setBackgroundImage(UIImagePtr image, int64_t metrics) {
    m_backgroundImages[metrics] = std::move(image);
    setNeedsLayout();
}

void UINavigationBar::setShadowImage(UIImagePtr image) {
    m_shadowImage = std::move(image);
    setNeedsLayout();
}

void UINavigationBar::setTitleTextAttributes(NSAttributes attributes) {
    m_titleTextAttributes = std::move(attributes);
    setNeedsLayout();
}

void UINavigationBar::navigationItemChanged() {
    m_itemsDirty = true;
    setNeedsLayout();
}

void UINavigationBar::tintColorDidChange() {
    navigationItemChanged();
}

CGSize UINavigationBar::sizeThatFits(CGSize size) {
    return {size.width > 0 ? size.width : bounds().size.width, defaultHeight};
}

std::shared_ptr<UIView> UINavigationBar::viewForItem(const UIBarButtonItemPtr& item) {
    if (auto custom = item->customView())
        return custom;
    auto button = UIButton::buttonWithType(UIButtonTypeSystem);
    if (auto image = item->image())
        button->setImage(image, UIControlStateNormal);
    else
        button->setTitle(item->title(), UIControlStateNormal);
    if (auto tint = item->tintColor())
        button->setTintColor(tint);
    auto attributes = item->titleTextAttributesForState(UIControlStateNormal);
    if (auto font = attributes.get(NSFontAttributeName).objectAs<UIFont>())
        button->titleLabel()->setFont(font);
    if (auto color = attributes.get(NSForegroundColorAttributeName).objectAs<UIColor>())
        button->setTitleColor(color, UIControlStateNormal);
    button->setEnabled(item->isEnabled());
    std::weak_ptr<UIBarButtonItem> weakItem = item;
    button->addTarget(nullptr,
                      selector("sendAction",
                               [weakItem](Object*, Object*, UIEvent*) {
                                   if (auto strong = weakItem.lock())
                                       strong->sendAction();
                               }),
                      UIControlEventTouchUpInside);
    button->sizeToFit();
    return button;
}

void UINavigationBar::rebuildItemViews() {
    for (const auto& view : m_itemViews) {
        if (view->superview().get() == this)
            view->removeFromSuperview();
    }
    m_itemViews.clear();
    m_leftViews.clear();
    m_rightViews.clear();
    auto top = topItem();
    if (!top)
        return;
    auto collect = [this](const std::vector<UIBarButtonItemPtr>& items, auto& out) {
        for (const auto& item : items) {
            if (item->systemItem() == UIBarButtonSystemItemFixedSpace) {
                out.emplace_back(nullptr, item->width());
            } else if (item->systemItem() == UIBarButtonSystemItemFlexibleSpace) {
                continue;
            } else {
                auto view = viewForItem(item);
                m_itemViews.push_back(view);
                out.emplace_back(view, view->frame().size.width);
            }
        }
    };
    auto back = backItem();
    const bool showsBack = back && !top->hidesBackButton() &&
                           (top->leftBarButtonItems().empty() || top->leftItemsSupplementBackButton());
    if (showsBack) {
        auto backBarItem = back->backBarButtonItem();
        std::string title =
            backBarItem && backBarItem->title() ? *backBarItem->title() : back->title().value_or("Back");
        auto button = UIButton::buttonWithType(UIButtonTypeSystem);
        button->setTitle("\u2039 " + title, UIControlStateNormal);
        std::weak_ptr<UINavigationBar> weakBar = self();
        button->addTarget(nullptr,
                          selector("backButtonClicked",
                                   [weakBar](Object*, Object*, UIEvent*) {
                                       auto bar = weakBar.lock();
                                       if (bar && bar->onBackButton)
                                           bar->onBackButton();
                                   }),
                          UIControlEventTouchUpInside);
        button->sizeToFit();
        m_itemViews.push_back(button);
        m_leftViews.emplace_back(button, button->frame().size.width);
    }
    collect(top->leftBarButtonItems(), m_leftViews);
    collect(top->rightBarButtonItems(), m_rightViews);
    for (const auto& view : m_itemViews)
        addSubview(view);
}

void UINavigationBar::layoutSubviews() {
    UIView::layoutSubviews();
    CGRect bounds = this->bounds();
    const double statusHeight = statusBarHeight();

    // The background reaches up under the status bar.
    if (m_background->superview().get() != this)
        insertSubview(m_background, 0);
    m_background->setFrame(
        CGRectMake(0, -statusHeight, bounds.size.width, bounds.size.height + statusHeight));
    if (auto image = backgroundImageForBarMetrics(UIBarMetricsDefault)) {
        m_background->setImage(image);
        m_background->setBackgroundColor(nullptr);
    } else {
        m_background->setImage(nullptr);
        UIColorPtr color = m_barTintColor;
        if (!color)
            color = m_barStyle == UIBarStyleBlack ? UIColor::blackColor() : UIColor::colorWithWhite(0.97, 1);
        m_background->setBackgroundColor(m_translucent ? color->colorWithAlphaComponent(color->alpha() * 0.85)
                                                       : color);
    }

    if (m_itemsDirty) {
        m_itemsDirty = false;
        rebuildItemViews();
    }
    double x = sideMargin;
    for (const auto& [view, width] : m_leftViews) {
        if (view) {
            CGRect frame = view->frame();
            view->setFrame(CGRectMake(x, (bounds.size.height - frame.size.height) / 2, frame.size.width,
                                      frame.size.height));
        }
        x += width + (view ? itemSpacing : 0);
    }
    const double leftEnd = x;
    x = bounds.size.width - sideMargin;
    for (const auto& [view, width] : m_rightViews) {
        x -= width;
        if (view) {
            CGRect frame = view->frame();
            view->setFrame(CGRectMake(x, (bounds.size.height - frame.size.height) / 2, frame.size.width,
                                      frame.size.height));
            x -= itemSpacing;
        }
    }
    const double rightStart = x;

    auto top = topItem();
    auto titleView = top ? top->titleView() : nullptr;
    for (const auto& subview : std::vector(subviews())) {
        // A title view of an item no longer on top leaves the bar.
        if (subview != m_background && subview != m_titleLabel && subview != titleView &&
            std::find(m_itemViews.begin(), m_itemViews.end(), subview) == m_itemViews.end() &&
            std::any_of(m_items.begin(), m_items.end(),
                        [&](const auto& item) { return item->titleView() == subview; }))
            subview->removeFromSuperview();
    }
    if (titleView) {
        if (m_titleLabel->superview().get() == this)
            m_titleLabel->removeFromSuperview();
        if (titleView->superview().get() != this)
            addSubview(titleView);
        CGRect frame = titleView->frame();
        titleView->setFrame(CGRectMake((bounds.size.width - frame.size.width) / 2,
                                       (bounds.size.height - frame.size.height) / 2, frame.size.width,
                                       frame.size.height));
        return;
    }
    if (!top || !top->title()) {
        if (m_titleLabel->superview().get() == this)
            m_titleLabel->removeFromSuperview();
        return;
    }
    if (m_titleLabel->superview().get() != this)
        addSubview(m_titleLabel);
    m_titleLabel->setText(*top->title());
    auto font = m_titleTextAttributes.get(NSFontAttributeName).objectAs<UIFont>();
    m_titleLabel->setFont(font ? font : UIFont::boldSystemFontOfSize(17));
    auto color = m_titleTextAttributes.get(NSForegroundColorAttributeName).objectAs<UIColor>();
    m_titleLabel->setTextColor(
        color ? color : (m_barStyle == UIBarStyleBlack ? UIColor::whiteColor() : UIColor::blackColor()));
    CGSize size = m_titleLabel->sizeThatFits(CGSizeZero);
    const double room =
        std::max(0.0, std::min(bounds.size.width - 2 * leftEnd, 2 * rightStart - bounds.size.width));
    size.width = std::min(size.width, room > 0 ? room : bounds.size.width);
    m_titleLabel->setFrame(CGRectMake((bounds.size.width - size.width) / 2,
                                      (bounds.size.height - size.height) / 2, size.width, size.height));
}

} // namespace platform
