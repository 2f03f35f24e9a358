#include "platform/ui/UITableViewCell.h"

namespace platform {

namespace {
constexpr double kSideMargin = 15;
} // namespace

UITableViewCell::UITableViewCell()
    : UITableViewCell(UITableViewCellStyleDefault, {}) {}

UITableViewCell::UITableViewCell(CGRect frame)
    : UITableViewCell(UITableViewCellStyleDefault, {}) {
    setFrame(frame);
}

UITableViewCell::UITableViewCell(UITableViewCellStyle style, std::string reuseIdentifier)
    : UIView(CGRectMake(0, 0, 320, 44))
    , m_style(style)
    , m_reuseIdentifier(std::move(reuseIdentifier))
    , m_contentView(UIView::create(CGRectMake(0, 0, 320, 44))) {
    setBackgroundColor(UIColor::whiteColor());
    m_contentView->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
}

const UIViewPtr& UITableViewCell::contentView() {
    if (!m_contentView->superview()) {
        m_contentView->setFrame(bounds());
        addSubview(m_contentView);
    }
    return m_contentView;
}

void UITableViewCell::prepareForReuse() {
    setSelected(false, false);
    setHighlighted(false, false);
}

UILabelPtr UITableViewCell::textLabel() {
    if (!m_textLabel) {
        m_textLabel = UILabel::create();
        contentView()->addSubview(m_textLabel);
        setNeedsLayout();
    }
    return m_textLabel;
}

UILabelPtr UITableViewCell::detailTextLabel() {
    if (m_style == UITableViewCellStyleDefault)
        return nullptr;
    if (!m_detailTextLabel) {
        m_detailTextLabel = UILabel::create();
        m_detailTextLabel->setTextColor(UIColor::grayColor());
        if (m_style == UITableViewCellStyleValue1)
            m_detailTextLabel->setTextAlignment(NSTextAlignmentRight);
        contentView()->addSubview(m_detailTextLabel);
        setNeedsLayout();
    }
    return m_detailTextLabel;
}

UIImageViewPtr UITableViewCell::imageView() {
    if (!m_imageView) {
        m_imageView = UIImageView::create();
        contentView()->addSubview(m_imageView);
        setNeedsLayout();
    }
    return m_imageView;
}

void UITableViewCell::setBackgroundView(UIViewPtr view) {
    if (m_backgroundView)
        m_backgroundView->removeFromSuperview();
    m_backgroundView = std::move(view);
    if (m_backgroundView)
        insertSubview(m_backgroundView, 0);
    setNeedsLayout();
}

void UITableViewCell::setSelectedBackgroundView(UIViewPtr view) {
    if (m_selectedBackgroundView)
        m_selectedBackgroundView->removeFromSuperview();
    m_selectedBackgroundView = std::move(view);
    updateSelectionLook();
}

void UITableViewCell::setAccessoryView(UIViewPtr view) {
    if (m_accessoryView)
        m_accessoryView->removeFromSuperview();
    m_accessoryView = std::move(view);
    if (m_accessoryView)
        addSubview(m_accessoryView);
    setNeedsLayout();
}

void UITableViewCell::setSelected(bool selected, bool) {
    m_selected = selected;
    updateSelectionLook();
}

void UITableViewCell::setHighlighted(bool highlighted, bool) {
    m_highlighted = highlighted;
    updateSelectionLook();
}

void UITableViewCell::updateSelectionLook() {
    bool show = (m_selected || m_highlighted) && m_selectionStyle != UITableViewCellSelectionStyleNone;
    if (show && !m_selectedBackgroundView) {
        m_selectedBackgroundView = UIView::create();
        m_selectedBackgroundView->setBackgroundColor(UIColor::colorWithWhite(0.85, 1));
    }
    if (m_selectedBackgroundView) {
        if (show && !m_selectedBackgroundView->superview()) {
            m_selectedBackgroundView->setFrame(bounds());
            insertSubviewBelowSubview(m_selectedBackgroundView, contentView());
        } else if (!show) {
            m_selectedBackgroundView->removeFromSuperview();
        }
    }
    if (m_textLabel)
        m_textLabel->setHighlighted(show);
    if (m_detailTextLabel)
        m_detailTextLabel->setHighlighted(show);
}

void UITableViewCell::layoutSubviews() {
    CGRect b = bounds();
    if (m_backgroundView)
        m_backgroundView->setFrame(b);
    if (m_selectedBackgroundView)
        m_selectedBackgroundView->setFrame(b);
    double accessoryWidth = 0;
    if (m_accessoryView) {
        CGSize size = m_accessoryView->frame().size;
        accessoryWidth = size.width + kSideMargin;
        m_accessoryView->setFrame(CGRectMake(b.size.width - accessoryWidth, (b.size.height - size.height) / 2,
                                             size.width, size.height));
    }
    contentView()->setFrame(CGRectMake(0, 0, b.size.width - accessoryWidth, b.size.height));

    CGRect content = m_contentView->bounds();
    // A subview laid out by constraints keeps the frame the solve gave it.
    auto place = [](const UIViewPtr& view, CGRect frame) {
        if (view && view->translatesAutoresizingMaskIntoConstraints())
            view->setFrame(frame);
    };
    double x = kSideMargin;
    if (m_imageView && m_imageView->image()) {
        CGSize size = m_imageView->sizeThatFits(content.size);
        place(m_imageView, CGRectMake(x, (content.size.height - size.height) / 2, size.width, size.height));
        x += size.width + kSideMargin;
    }
    double width = std::max(0.0, content.size.width - x - kSideMargin);
    if (m_style == UITableViewCellStyleSubtitle && m_detailTextLabel) {
        double half = content.size.height / 2;
        place(m_textLabel, CGRectMake(x, 0, width, half));
        place(m_detailTextLabel, CGRectMake(x, half, width, half));
        return;
    }
    place(m_textLabel, CGRectMake(x, 0, width, content.size.height));
    place(m_detailTextLabel, CGRectMake(x, 0, width, content.size.height));
}

} // namespace platform
