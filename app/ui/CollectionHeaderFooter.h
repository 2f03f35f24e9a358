#pragma once
// CollectionHeaderFooter: a section header or footer covered by an invisible button that reports taps
// through clickedHandler once the header is made clickable (it is not at first). CollectionCommonHeader:
// a ready header with a title on the left and an indicator (a text and an arrow) on the right; it is
// clickable and shows no arrow at first (the indicator text shows either way).
//
// create() runs the initialiser's steps, setupSubviews then setupConstraints, each the subclass's own:
// views adopt subviews only once shared. Register them with a collection view through create:
//
//     collectionView->registerClassForSupplementaryView(&CollectionCommonHeader::create, kind, identifier);
//
// Main thread only.

#include "platform/ui/UIButton.h"
#include "platform/ui/UICollectionReusableView.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"

#include <functional>
#include <memory>

class CollectionHeaderFooter : public platform::UICollectionReusableView {
public:
    using ClickedHandler = std::function<void(const std::shared_ptr<CollectionHeaderFooter>& header)>;

    // initWithFrame:
    static std::shared_ptr<CollectionHeaderFooter> create(platform::CGRect frame);
    using UICollectionReusableView::UICollectionReusableView;

    // Grey background and the full-size button, not interactive.
    virtual void setupSubviews();
    // The button fills the header.
    virtual void setupConstraints();

    const platform::UIButtonPtr& selectionButton() const { return m_selectionButton; }
    void setSelectionButton(platform::UIButtonPtr button) { m_selectionButton = std::move(button); }
    // The button's user-interaction flag.
    bool isClickable() const;
    void setClickable(bool clickable);
    const ClickedHandler& clickedHandler() const { return m_clickedHandler; }
    void setClickedHandler(ClickedHandler handler) { m_clickedHandler = std::move(handler); }

    void headerFooterClicked(platform::UIButton* sender);

protected:
    template <typename Header> static std::shared_ptr<Header> make(platform::CGRect frame) {
        auto header = std::make_shared<Header>(frame);
        header->setupSubviews();
        header->setupConstraints();
        return header;
    }

private:
    platform::UIButtonPtr m_selectionButton;
    ClickedHandler m_clickedHandler;
};

class CollectionCommonHeader : public CollectionHeaderFooter {
public:
    static std::shared_ptr<CollectionCommonHeader> create(platform::CGRect frame);
    using CollectionHeaderFooter::CollectionHeaderFooter;

    void setupSubviews() override;
    void setupConstraints() override;

    const platform::UILabelPtr& titleLabel() const { return m_titleLabel; }
    void setTitleLabel(platform::UILabelPtr label) { m_titleLabel = std::move(label); }
    const platform::UILabelPtr& indicatorTextLabel() const { return m_indicatorTextLabel; }
    void setIndicatorTextLabel(platform::UILabelPtr label) { m_indicatorTextLabel = std::move(label); }
    const platform::UIImageViewPtr& indicatorImageView() const { return m_indicatorImageView; }
    void setIndicatorImageView(platform::UIImageViewPtr view) { m_indicatorImageView = std::move(view); }
    bool isTextIndicatorHidden() const { return m_textIndicatorHidden; }
    // Hides or shows the arrow only.
    void setTextIndicatorHidden(bool hidden);

private:
    platform::UILabelPtr m_titleLabel;
    platform::UILabelPtr m_indicatorTextLabel;
    platform::UIImageViewPtr m_indicatorImageView;
    bool m_textIndicatorHidden{false};
};
