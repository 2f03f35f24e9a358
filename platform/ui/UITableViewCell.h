#pragma once
// UITableViewCell: one row of a table. Its content goes in contentView (which fills the cell); the styles
// make the text label, and for the subtitle and value styles a detail label, there on first use, with an
// image view on the left when it has an image. A cell made with a reuse identifier goes back to its table's
// pool when it scrolls off or the table reloads, and prepareForReuse runs before it is handed out again.
// Selection shows the selected background colour of the selection style (none keeps the cell as it is).
// Main thread only.

#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIView.h"

#include <memory>
#include <string>

namespace platform {

class UITableViewCell;
using UITableViewCellPtr = std::shared_ptr<UITableViewCell>;

enum UITableViewCellStyle : int64_t {
    UITableViewCellStyleDefault = 0,
    UITableViewCellStyleValue1 = 1,
    UITableViewCellStyleValue2 = 2,
    UITableViewCellStyleSubtitle = 3,
};

enum UITableViewCellSelectionStyle : int64_t {
    UITableViewCellSelectionStyleNone = 0,
    UITableViewCellSelectionStyleBlue = 1,
    UITableViewCellSelectionStyleGray = 2,
    UITableViewCellSelectionStyleDefault = 3,
};

enum UITableViewCellAccessoryType : int64_t {
    UITableViewCellAccessoryNone = 0,
    UITableViewCellAccessoryDisclosureIndicator = 1,
    UITableViewCellAccessoryDetailDisclosureButton = 2,
    UITableViewCellAccessoryCheckmark = 3,
    UITableViewCellAccessoryDetailButton = 4,
};

class UITableViewCell : public UIView {
public:
    static UITableViewCellPtr create(UITableViewCellStyle style, std::string reuseIdentifier) {
        return std::make_shared<UITableViewCell>(style, std::move(reuseIdentifier));
    }
    UITableViewCell();
    explicit UITableViewCell(CGRect frame);
    UITableViewCell(UITableViewCellStyle style, std::string reuseIdentifier);

    UITableViewCellStyle style() const { return m_style; }
    const std::string& reuseIdentifier() const { return m_reuseIdentifier; }
    virtual void prepareForReuse();

    // Attached on first use (a view cannot adopt subviews while it is being constructed).
    const UIViewPtr& contentView();
    UILabelPtr textLabel();
    // Null for the default style, as the platform's.
    UILabelPtr detailTextLabel();
    UIImageViewPtr imageView();
    UIViewPtr backgroundView() const { return m_backgroundView; }
    void setBackgroundView(UIViewPtr view);
    UIViewPtr selectedBackgroundView() const { return m_selectedBackgroundView; }
    void setSelectedBackgroundView(UIViewPtr view);

    UITableViewCellAccessoryType accessoryType() const { return m_accessoryType; }
    void setAccessoryType(UITableViewCellAccessoryType type) { m_accessoryType = type; }
    UIViewPtr accessoryView() const { return m_accessoryView; }
    void setAccessoryView(UIViewPtr view);
    UITableViewCellSelectionStyle selectionStyle() const { return m_selectionStyle; }
    void setSelectionStyle(UITableViewCellSelectionStyle style) { m_selectionStyle = style; }
    UIEdgeInsets separatorInset() const { return m_separatorInset; }
    void setSeparatorInset(UIEdgeInsets insets) { m_separatorInset = insets; }

    bool isSelected() const { return m_selected; }
    void setSelected(bool selected) { setSelected(selected, false); }
    virtual void setSelected(bool selected, bool animated);
    bool isHighlighted() const { return m_highlighted; }
    void setHighlighted(bool highlighted) { setHighlighted(highlighted, false); }
    virtual void setHighlighted(bool highlighted, bool animated);

    void layoutSubviews() override;

private:
    void updateSelectionLook();

    UITableViewCellStyle m_style{UITableViewCellStyleDefault};
    std::string m_reuseIdentifier;
    UIViewPtr m_contentView;
    UILabelPtr m_textLabel;
    UILabelPtr m_detailTextLabel;
    UIImageViewPtr m_imageView;
    UIViewPtr m_backgroundView;
    UIViewPtr m_selectedBackgroundView;
    UIViewPtr m_accessoryView;
    UITableViewCellAccessoryType m_accessoryType{UITableViewCellAccessoryNone};
    UITableViewCellSelectionStyle m_selectionStyle{UITableViewCellSelectionStyleDefault};
    UIEdgeInsets m_separatorInset{0, 15, 0, 0};
    bool m_selected{false};
    bool m_highlighted{false};
};

} // namespace platform
