#include "platform/ui/UIButton.h"

#include "platform/graphics/Font.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"

#include <algorithm>
#include <cmath>

namespace platform {

namespace {
constexpr double defaultFontSize = 15;
} // namespace

UIButtonPtr UIButton::buttonWithType(int64_t type) {
    auto button = std::make_shared<UIButton>();
    button->m_type = static_cast<UIButtonType>(type);
    button->updateContent();
    return button;
}

UIButton::UIButton() = default;

UIButton::UIButton(CGRect frame)
    : UIControl(frame) {}

UIButton::~UIButton() = default;

template <typename T> T UIButton::lookUp(const std::map<uint64_t, T>& table, uint64_t state) {
    if (auto it = table.find(state); it != table.end() && it->second)
        return it->second;
    // Selected and highlighted at once falls back to selected before normal, as on the platform.
    if ((state & UIControlStateSelected) && state != UIControlStateSelected) {
        if (auto it = table.find(UIControlStateSelected); it != table.end() && it->second)
            return it->second;
    }
    if (auto it = table.find(UIControlStateNormal); it != table.end())
        return it->second;
    return T{};
}

void UIButton::setTitle(std::optional<std::string> title, uint64_t state) {
    m_titles[state] = std::move(title);
    updateContent();
}

std::optional<std::string> UIButton::titleForState(uint64_t state) const {
    return lookUp(m_titles, state);
}

void UIButton::setTitleColor(UIColorPtr color, uint64_t state) {
    m_titleColors[state] = std::move(color);
    updateContent();
}

UIColorPtr UIButton::titleColorForState(uint64_t state) const {
    if (auto color = lookUp(m_titleColors, state))
        return color;
    if (m_type == UIButtonTypeCustom)
        return UIColor::whiteColor();
    if (state & UIControlStateDisabled)
        return UIColor::colorWithWhite(0.5, 0.5);
    auto tint = tintColor();
    if (!tint)
        tint = UIColor::colorWithRed(0, 122 / 255.0, 1, 1);
    return (state & UIControlStateHighlighted) ? tint->colorWithAlphaComponent(0.2) : tint;
}

void UIButton::setTitleShadowColor(UIColorPtr color, uint64_t state) {
    m_titleShadowColors[state] = std::move(color);
    updateContent();
}

UIColorPtr UIButton::titleShadowColorForState(uint64_t state) const {
    return lookUp(m_titleShadowColors, state);
}

void UIButton::setImage(UIImagePtr image, uint64_t state) {
    m_images[state] = std::move(image);
    updateContent();
}

UIImagePtr UIButton::imageForState(uint64_t state) const {
    return lookUp(m_images, state);
}

void UIButton::setBackgroundImage(UIImagePtr image, uint64_t state) {
    m_backgroundImages[state] = std::move(image);
    updateContent();
}

UIImagePtr UIButton::backgroundImageForState(uint64_t state) const {
    return lookUp(m_backgroundImages, state);
}

void UIButton::setAttributedTitle(NSAttributedStringPtr title, uint64_t state) {
    m_attributedTitles[state] = std::move(title);
    updateContent();
}

NSAttributedStringPtr UIButton::attributedTitleForState(uint64_t state) const {
    return lookUp(m_attributedTitles, state);
}

std::shared_ptr<UILabel> UIButton::titleLabel() {
    if (!m_titleLabel) {
        m_titleLabel = UILabel::create();
        m_titleLabel->setFont(UIFont::systemFontOfSize(defaultFontSize));
        m_titleLabel->setLineBreakMode(NSLineBreakByTruncatingMiddle);
        updateContent();
    }
    return m_titleLabel;
}

std::shared_ptr<UIImageView> UIButton::imageView() {
    if (!m_imageView) {
        m_imageView = UIImageView::create();
        m_imageView->setContentMode(UIViewContentModeCenter);
        updateContent();
    }
    return m_imageView;
}

void UIButton::setContentEdgeInsets(UIEdgeInsets insets) {
    m_contentEdgeInsets = insets;
    setNeedsLayout();
}

void UIButton::setTitleEdgeInsets(UIEdgeInsets insets) {
    m_titleEdgeInsets = insets;
    setNeedsLayout();
}

void UIButton::setImageEdgeInsets(UIEdgeInsets insets) {
    m_imageEdgeInsets = insets;
    setNeedsLayout();
}

void UIButton::stateDidChange() {
    updateContent();
}

void UIButton::tintColorDidChange() {
    updateContent();
}

void UIButton::updateContent() {
    const uint64_t current = state();
    auto title = titleForState(current);
    auto attributed = attributedTitleForState(current);
    const bool hasTitle = attributed ? attributed->length() > 0 : (title && !title->empty());
    if (hasTitle || m_titleLabel) {
        if (!m_titleLabel) {
            titleLabel();
            return; // titleLabel() came back here with the label made
        }
        if (attributed) {
            m_titleLabel->setAttributedText(attributed);
        } else {
            m_titleLabel->setAttributedText(nullptr);
            m_titleLabel->setText(title.value_or(""));
            m_titleLabel->setTextColor(titleColorForState(current));
            m_titleLabel->setShadowColor(titleShadowColorForState(current));
        }
    }
    auto image = imageForState(current);
    if (image && !m_imageView) {
        imageView();
        return;
    }
    if (m_imageView)
        m_imageView->setImage(image);
    auto background = backgroundImageForState(current);
    if (background && !m_backgroundView) {
        m_backgroundView = UIImageView::create();
        m_backgroundView->setContentMode(UIViewContentModeScaleToFill);
    }
    if (m_backgroundView)
        m_backgroundView->setImage(background);

    // Only what has something to show is in the tree, in a fixed order.
    auto self = std::static_pointer_cast<UIView>(weak_from_this().lock());
    if (!self)
        return;
    int64_t index = 0;
    auto place = [&](const std::shared_ptr<UIView>& view, bool shown) {
        if (!view)
            return;
        if (!shown) {
            if (view->superview() == self)
                view->removeFromSuperview();
            return;
        }
        if (view->superview() != self || subviews().size() <= static_cast<size_t>(index) ||
            subviews()[index] != view)
            insertSubview(view, index);
        ++index;
    };
    place(m_backgroundView, background != nullptr);
    place(m_imageView, image != nullptr);
    place(m_titleLabel, hasTitle);
    setNeedsLayout();
}

CGRect UIButton::backgroundRectForBounds(CGRect bounds) {
    return bounds;
}

CGRect UIButton::contentRectForBounds(CGRect bounds) {
    return UIEdgeInsetsInsetRect(bounds, m_contentEdgeInsets);
}

CGSize UIButton::imageSize() const {
    auto image = imageForState(state());
    return image ? image->size() : CGSizeZero;
}

CGSize UIButton::titleSize(double maxWidth) {
    auto title = currentTitle();
    auto attributed = currentAttributedTitle();
    if (!m_titleLabel || (!attributed && (!title || title->empty())))
        return CGSizeZero;
    CGSize size = m_titleLabel->sizeThatFits(CGSizeMake(std::max(0.0, maxWidth), 0));
    if (maxWidth > 0)
        size.width = std::min(size.width, maxWidth);
    return size;
}

// Places content of `size` after `leading` points of the content rectangle by the content alignment,
// then moves it by its edge insets (half the difference of opposite insets when centred).
CGRect UIButton::place(CGRect contentRect, CGSize size, double leading, UIEdgeInsets insets) const {
    CGRect rect{CGPointZero, size};
    switch (contentHorizontalAlignment()) {
    case UIControlContentHorizontalAlignmentLeft:
        rect.origin.x = contentRect.origin.x + leading + insets.left - insets.right;
        break;
    case UIControlContentHorizontalAlignmentRight:
        rect.origin.x = CGRectGetMaxX(contentRect) - size.width - leading + insets.left - insets.right;
        break;
    case UIControlContentHorizontalAlignmentFill:
        rect.origin.x = contentRect.origin.x + leading + insets.left;
        rect.size.width = std::max(0.0, contentRect.size.width - leading - insets.left - insets.right);
        break;
    default:
        rect.origin.x = contentRect.origin.x + leading + (insets.left - insets.right) / 2;
        break;
    }
    switch (contentVerticalAlignment()) {
    case UIControlContentVerticalAlignmentTop:
        rect.origin.y = contentRect.origin.y + insets.top - insets.bottom;
        break;
    case UIControlContentVerticalAlignmentBottom:
        rect.origin.y = CGRectGetMaxY(contentRect) - size.height + insets.top - insets.bottom;
        break;
    case UIControlContentVerticalAlignmentFill:
        rect.origin.y = contentRect.origin.y + insets.top;
        rect.size.height = std::max(0.0, contentRect.size.height - insets.top - insets.bottom);
        break;
    default:
        rect.origin.y = contentRect.origin.y + (contentRect.size.height - size.height) / 2 +
                        (insets.top - insets.bottom) / 2;
        break;
    }
    return rect;
}

CGRect UIButton::imageRectForContentRect(CGRect contentRect) {
    CGSize image = imageSize();
    if (image.width <= 0 || image.height <= 0)
        return CGRectMake(contentRect.origin.x, contentRect.origin.y + contentRect.size.height / 2, 0, 0);
    CGSize title = titleSize(contentRect.size.width - image.width);
    // Image and title sit side by side, image first; the pair is aligned as one block.
    double leading = 0;
    switch (contentHorizontalAlignment()) {
    case UIControlContentHorizontalAlignmentRight:
        leading = title.width;
        break;
    case UIControlContentHorizontalAlignmentCenter:
        leading = (contentRect.size.width - image.width - title.width) / 2;
        break;
    default:
        break;
    }
    CGRect rect = place(contentRect, image, 0, m_imageEdgeInsets);
    if (contentHorizontalAlignment() == UIControlContentHorizontalAlignmentCenter)
        rect.origin.x =
            contentRect.origin.x + leading + (m_imageEdgeInsets.left - m_imageEdgeInsets.right) / 2;
    else if (contentHorizontalAlignment() == UIControlContentHorizontalAlignmentRight)
        rect.origin.x -= leading;
    return rect;
}

CGRect UIButton::titleRectForContentRect(CGRect contentRect) {
    CGSize image = imageSize();
    CGSize title = titleSize(contentRect.size.width - image.width);
    if (title.width <= 0 || title.height <= 0)
        return CGRectMake(contentRect.origin.x + image.width,
                          contentRect.origin.y + contentRect.size.height / 2, 0, 0);
    double leading = 0;
    switch (contentHorizontalAlignment()) {
    case UIControlContentHorizontalAlignmentLeft:
    case UIControlContentHorizontalAlignmentFill:
        leading = image.width;
        break;
    case UIControlContentHorizontalAlignmentCenter:
        leading = (contentRect.size.width - image.width - title.width) / 2 + image.width;
        break;
    default:
        break;
    }
    return place(contentRect, title, leading, m_titleEdgeInsets);
}

void UIButton::layoutSubviews() {
    UIControl::layoutSubviews();
    CGRect bounds = this->bounds();
    if (m_backgroundView && m_backgroundView->superview())
        m_backgroundView->setFrame(backgroundRectForBounds(bounds));
    CGRect content = contentRectForBounds(bounds);
    if (m_imageView && m_imageView->superview())
        m_imageView->setFrame(imageRectForContentRect(content));
    if (m_titleLabel && m_titleLabel->superview())
        m_titleLabel->setFrame(titleRectForContentRect(content));
}

CGSize UIButton::sizeThatFits(CGSize) {
    CGSize image = imageSize();
    CGSize title = titleSize(0);
    CGSize size{image.width + title.width, std::max(image.height, title.height)};
    if (auto background = currentBackgroundImage()) {
        size.width = std::max(size.width, background->size().width);
        size.height = std::max(size.height, background->size().height);
    }
    size.width += m_contentEdgeInsets.left + m_contentEdgeInsets.right;
    size.height += m_contentEdgeInsets.top + m_contentEdgeInsets.bottom;
    return {std::ceil(size.width), std::ceil(size.height)};
}

CGSize UIButton::intrinsicContentSize() {
    return sizeThatFits(CGSizeZero);
}

} // namespace platform
