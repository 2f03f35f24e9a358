#include "app/screens/AnchorRoomView.h"

#include "app/screens/LocalizedText.h"
#include "app/screens/ScreenLook.h"
#include "app/ui/UIView+AutoLayout.h"

using namespace platform;

namespace {

constexpr double kArrowWidth = 6;
constexpr double kArrowHeight = 3;

} // namespace

// ---- CategoryButton ---------------------------------------------------------------------------

std::shared_ptr<CategoryButton> CategoryButton::create() {
    return std::make_shared<CategoryButton>();
}

CGRect CategoryButton::titleRectForContentRect(CGRect contentRect) {
    return CGRectMake(0, 0, contentRect.size.width - kArrowWidth, contentRect.size.height);
}

CGRect CategoryButton::imageRectForContentRect(CGRect contentRect) {
    const CGSize size = contentRect.size;
    return CGRectMake(size.width - kArrowWidth, (size.height - kArrowHeight) * 0.5, kArrowWidth,
                      kArrowHeight);
}

// ---- RoomTitleEditingButton -------------------------------------------------------------------

std::shared_ptr<RoomTitleEditingButton> RoomTitleEditingButton::create(CGRect frame) {
    auto button = std::make_shared<RoomTitleEditingButton>(frame);
    button->layer()->setCornerRadius(3);
    button->layer()->setMasksToBounds(true);
    button->setupSubviews();
    button->setupConstraints();
    return button;
}

const UILabelPtr& RoomTitleEditingButton::leftTitleLabel() {
    if (!m_leftTitleLabel) {
        m_leftTitleLabel = makeLabel(UIColor::whiteColor(), 13, NSTextAlignmentCenter);
        m_leftTitleLabel->setBackgroundColor(colorWithRGB(0, 138, 255));
    }
    return m_leftTitleLabel;
}

const UILabelPtr& RoomTitleEditingButton::editTitleLabel() {
    if (!m_editTitleLabel)
        m_editTitleLabel = makeLabel(UIColor::whiteColor(), 15, NSTextAlignmentLeft);
    return m_editTitleLabel;
}

const UIImageViewPtr& RoomTitleEditingButton::editingImageView() {
    if (!m_editingImageView) {
        m_editingImageView = UIImageView::create(UIImage::imageNamed("home_room_title_edit"));
        m_editingImageView->setBackgroundColor(UIColor::clearColor());
    }
    return m_editingImageView;
}

void RoomTitleEditingButton::setupSubviews() {
    addSubview(leftTitleLabel());
    addSubview(editTitleLabel());
    addSubview(editingImageView());
}

void RoomTitleEditingButton::setupConstraints() {
    autoPinEdgesToSuperviewEdgesWithInsets(leftTitleLabel(), UIEdgeInsetsZero, EdgeRight);
    autoSetDimension(leftTitleLabel(), DimensionWidth, 73);
    autoPinEdgeToSuperviewEdge(editingImageView(), EdgeRight, 6);
    autoAlignAxisToSuperviewAxis(editingImageView(), AxisHorizontal);
    autoSetDimensionsToSize(editingImageView(), CGSizeMake(12, 12));
    autoPinEdgeToSuperviewEdge(editTitleLabel(), EdgeTop);
    autoPinEdgeToSuperviewEdge(editTitleLabel(), EdgeBottom);
    autoPinEdge(editTitleLabel(), EdgeLeft, EdgeRight, leftTitleLabel(), 12);
    autoPinEdge(editTitleLabel(), EdgeRight, EdgeLeft, editingImageView(), -10);
}

// ---- AnchorRoomView ---------------------------------------------------------------------------

std::shared_ptr<AnchorRoomView> AnchorRoomView::create(CGRect frame) {
    auto view = std::make_shared<AnchorRoomView>(frame);
    view->setupSubviews();
    view->setupConstraints();
    return view;
}

const UIButtonPtr& AnchorRoomView::avatarButton() {
    if (!m_avatarButton) {
        m_avatarButton = UIButton::create();
        m_avatarButton->setImage(UIImage::imageNamed("user_avatar_placeholder"), UIControlStateNormal);
        const auto& layer = m_avatarButton->layer();
        layer->setBorderWidth(2);
        layer->setBorderColor(colorWithRGB(221, 221, 221)->CGColor());
        layer->setCornerRadius(33);
        layer->setMasksToBounds(true);
        m_avatarButton->setUserInteractionEnabled(false);
    }
    return m_avatarButton;
}

const UILabelPtr& AnchorRoomView::anchorNameLabel() {
    if (!m_anchorNameLabel)
        m_anchorNameLabel = makeLabel(UIColor::whiteColor(), 18, NSTextAlignmentLeft);
    return m_anchorNameLabel;
}

const UILabelPtr& AnchorRoomView::roomNumberLabel() {
    if (!m_roomNumberLabel)
        m_roomNumberLabel = makeLabel(UIColor::whiteColor(), 13, NSTextAlignmentLeft);
    return m_roomNumberLabel;
}

const std::shared_ptr<CategoryButton>& AnchorRoomView::roomCategoryButton() {
    if (!m_roomCategoryButton) {
        m_roomCategoryButton = CategoryButton::create();
        m_roomCategoryButton->setBackgroundColor(UIColor::clearColor());
        m_roomCategoryButton->setContentHorizontalAlignment(UIControlContentHorizontalAlignmentLeft);
        m_roomCategoryButton->titleLabel()->setFont(UIFont::systemFontOfSize(13));
        m_roomCategoryButton->setTitle(kUnsetCategoryTitle, UIControlStateNormal);
        m_roomCategoryButton->setImage(UIImage::imageNamed("home_category_arrow"), UIControlStateNormal);
    }
    return m_roomCategoryButton;
}

const std::shared_ptr<RoomTitleEditingButton>& AnchorRoomView::roomTitleButton() {
    if (!m_roomTitleButton) {
        m_roomTitleButton = RoomTitleEditingButton::create();
        m_roomTitleButton->setBackgroundColor(colorWithRGB(102, 102, 102));
    }
    return m_roomTitleButton;
}

const UIButtonPtr& AnchorRoomView::logoutButton() {
    if (!m_logoutButton) {
        m_logoutButton = UIButton::create();
        m_logoutButton->setTitle(detail::localizedText("退出"), UIControlStateNormal);
        m_logoutButton->setTitleColor(UIColor::whiteColor(), UIControlStateNormal);
        m_logoutButton->titleLabel()->setFont(UIFont::systemFontOfSize(15));
        m_logoutButton->setBackgroundColor(UIColor::clearColor());
    }
    return m_logoutButton;
}

void AnchorRoomView::setupSubviews() {
    addSubview(avatarButton());
    addSubview(anchorNameLabel());
    addSubview(roomNumberLabel());
    addSubview(roomCategoryButton());
    addSubview(roomTitleButton());
    addSubview(logoutButton());
}

void AnchorRoomView::setupConstraints() {
    const auto& avatar = avatarButton();
    autoPinEdgeToSuperviewEdge(avatar, EdgeLeft, 12);
    autoSetDimensionsToSize(avatar, CGSizeMake(66, 66));
    autoConstrainAttributeWithOffset(avatar, AxisHorizontal, AxisHorizontal, sharedAs<UIView>(), -10);
    autoPinEdge(anchorNameLabel(), EdgeLeft, EdgeRight, avatar, 12);
    autoPinEdge(anchorNameLabel(), EdgeTop, EdgeTop, avatar, -5);
    autoPinEdge(roomNumberLabel(), EdgeLeft, EdgeLeft, anchorNameLabel());
    autoPinEdge(roomNumberLabel(), EdgeTop, EdgeBottom, anchorNameLabel());
    autoPinEdge(roomCategoryButton(), EdgeLeft, EdgeLeft, roomNumberLabel());
    autoPinEdge(roomCategoryButton(), EdgeTop, EdgeBottom, roomNumberLabel());
    autoMatchDimension(roomCategoryButton(), DimensionHeight, DimensionHeight, roomNumberLabel());
    autoPinEdgeToSuperviewEdge(roomTitleButton(), EdgeLeft);
    autoPinEdgeToSuperviewEdge(roomTitleButton(), EdgeRight);
    autoPinEdgeToSuperviewEdge(roomTitleButton(), EdgeBottom, 21);
    autoSetDimension(roomTitleButton(), DimensionHeight, 23);
    autoPinEdgeToSuperviewEdge(logoutButton(), EdgeTop, 20);
    autoPinEdgeToSuperviewEdge(logoutButton(), EdgeRight, 0);
    autoSetDimensionsToSize(logoutButton(), CGSizeMake(68, 42));
}
