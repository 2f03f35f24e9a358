#pragma once
// The anchor card across the top of the home screen: the avatar, the nickname, the room number, the
// category button, the room title row and the logout button. The card holds no logic: the home screen
// fills its texts and connects its actions. CategoryButton lays its title from its left edge and a small
// arrow at its right end; RoomTitleEditingButton is the tappable title row (a blue caption, the title
// and an edit icon). Subviews are made by their getters on first use; create() adds and lays them out.
// Main thread only.

#include "platform/ui/UIButton.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIView.h"

#include <memory>

class CategoryButton : public platform::UIButton {
public:
    static std::shared_ptr<CategoryButton> create();
    using UIButton::UIButton;

    // From the content rectangle's size only: the title in (0, 0, w − 6, h), the 6 × 3 arrow at
    // (w − 6, (h − 3) / 2).
    platform::CGRect titleRectForContentRect(platform::CGRect contentRect) override;
    platform::CGRect imageRectForContentRect(platform::CGRect contentRect) override;
};

class RoomTitleEditingButton : public platform::UIButton {
public:
    static std::shared_ptr<RoomTitleEditingButton> create(platform::CGRect frame = platform::CGRectZero);
    using UIButton::UIButton;

    const platform::UILabelPtr& leftTitleLabel();
    const platform::UILabelPtr& editTitleLabel();
    const platform::UIImageViewPtr& editingImageView();

    void setupSubviews();
    void setupConstraints();

private:
    platform::UILabelPtr m_leftTitleLabel;
    platform::UILabelPtr m_editTitleLabel;
    platform::UIImageViewPtr m_editingImageView;
};

class AnchorRoomView : public platform::UIView {
public:
    static constexpr const char* kUnsetCategoryTitle = "直播分类：请选择房间类别 ";

    static std::shared_ptr<AnchorRoomView> create(platform::CGRect frame = platform::CGRectZero);
    using UIView::UIView;

    const platform::UIButtonPtr& avatarButton();
    const platform::UILabelPtr& anchorNameLabel();
    const platform::UILabelPtr& roomNumberLabel();
    const std::shared_ptr<CategoryButton>& roomCategoryButton();
    const std::shared_ptr<RoomTitleEditingButton>& roomTitleButton();
    const platform::UIButtonPtr& logoutButton();

    void setupSubviews();
    void setupConstraints();

private:
    platform::UIButtonPtr m_avatarButton;
    platform::UILabelPtr m_anchorNameLabel;
    platform::UILabelPtr m_roomNumberLabel;
    std::shared_ptr<CategoryButton> m_roomCategoryButton;
    std::shared_ptr<RoomTitleEditingButton> m_roomTitleButton;
    platform::UIButtonPtr m_logoutButton;
};
