#pragma once
// ParametersSettingView: a panel of three equal cells showing the stream's bit rate, resolution and
// frame rate, each an icon, a value and a caption, with thin separators between the cells. It has no
// actions and no data source: its holder fills the value labels. ParameterSettingItemButton is one
// cell; its item (0 bit rate, 1 resolution, anything else frame rate) picks its icon. Make both with
// create(). Main thread only.

#include "platform/ui/UIButton.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIView.h"

#include <cstdint>
#include <memory>

class ParameterSettingItemButton : public platform::UIButton {
public:
    static std::shared_ptr<ParameterSettingItemButton> create(platform::CGRect frame = platform::CGRectZero);
    using UIButton::UIButton;

    const platform::UIImageViewPtr& itemImageView();
    void setItemImageView(platform::UIImageViewPtr view) { m_itemImageView = std::move(view); }
    const platform::UILabelPtr& itemValueLabel();
    void setItemValueLabel(platform::UILabelPtr label) { m_itemValueLabel = std::move(label); }
    const platform::UILabelPtr& itemTitleLabel();
    void setItemTitleLabel(platform::UILabelPtr label) { m_itemTitleLabel = std::move(label); }
    uint64_t settingItem() const { return m_settingItem; }
    // Stores the item and shows its icon.
    void setSettingItem(uint64_t item);

    void setupSubviews();
    void setupConstraints();

private:
    platform::UIImageViewPtr m_itemImageView;
    platform::UILabelPtr m_itemValueLabel;
    platform::UILabelPtr m_itemTitleLabel;
    uint64_t m_settingItem{0};
};

class ParametersSettingView : public platform::UIView {
public:
    static std::shared_ptr<ParametersSettingView> create(platform::CGRect frame = platform::CGRectZero);
    using UIView::UIView;

    const std::shared_ptr<ParameterSettingItemButton>& bitRateItemButton();
    const std::shared_ptr<ParameterSettingItemButton>& resolutionRateItemButton();
    const std::shared_ptr<ParameterSettingItemButton>& frameRateItemButton();
    const platform::UIViewPtr& seperatorView1();
    const platform::UIViewPtr& seperatorView2();
    void setBitRateItemButton(std::shared_ptr<ParameterSettingItemButton> button);
    void setResolutionRateItemButton(std::shared_ptr<ParameterSettingItemButton> button);
    void setFrameRateItemButton(std::shared_ptr<ParameterSettingItemButton> button);
    void setSeperatorView1(platform::UIViewPtr view) { m_seperatorView1 = std::move(view); }
    void setSeperatorView2(platform::UIViewPtr view) { m_seperatorView2 = std::move(view); }

    void setupSubviews();
    void setupConstraints();

private:
    std::shared_ptr<ParameterSettingItemButton> m_bitRateItemButton;
    std::shared_ptr<ParameterSettingItemButton> m_resolutionRateItemButton;
    std::shared_ptr<ParameterSettingItemButton> m_frameRateItemButton;
    platform::UIViewPtr m_seperatorView1;
    platform::UIViewPtr m_seperatorView2;
};
