#pragma once
// UICollectionViewCell: an item of a collection view. Content goes in contentView, which fills the cell; the
// background view sits behind it and the selected background view shows over that while the cell is
// selected or highlighted. A reused cell comes back unselected and unhighlighted. Main thread only.

#include "platform/ui/UICollectionReusableView.h"

#include <memory>

namespace platform {

class UICollectionViewCell;
using UICollectionViewCellPtr = std::shared_ptr<UICollectionViewCell>;

class UICollectionViewCell : public UICollectionReusableView {
public:
    static UICollectionViewCellPtr create(CGRect frame) {
        return std::make_shared<UICollectionViewCell>(frame);
    }
    UICollectionViewCell();
    explicit UICollectionViewCell(CGRect frame);

    // Attached on first use (a view cannot adopt subviews while it is being constructed).
    const UIViewPtr& contentView();
    UIViewPtr backgroundView() const { return m_backgroundView; }
    void setBackgroundView(UIViewPtr view);
    UIViewPtr selectedBackgroundView() const { return m_selectedBackgroundView; }
    void setSelectedBackgroundView(UIViewPtr view);

    bool isSelected() const { return m_selected; }
    virtual void setSelected(bool selected);
    bool isHighlighted() const { return m_highlighted; }
    virtual void setHighlighted(bool highlighted);

    void prepareForReuse() override;
    void layoutSubviews() override;

private:
    void updateSelectionLook();

    UIViewPtr m_contentView;
    UIViewPtr m_backgroundView;
    UIViewPtr m_selectedBackgroundView;
    bool m_selected{false};
    bool m_highlighted{false};
};

} // namespace platform
