#pragma once
// BarrageExpandedControlButton: the barrage's expand/collapse strip: an arrow and a text centred in an
// 83-point-wide group, "收起弹幕" with the down arrow while expanded, "展开弹幕" with the up arrow while
// collapsed. The group lets touches through to the button. Main thread only.

#include "platform/ui/UIButton.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"

#include <memory>

class BarrageExpandedControlButton : public platform::UIButton {
public:
    static std::shared_ptr<BarrageExpandedControlButton>
    create(platform::CGRect frame = platform::CGRectZero);
    explicit BarrageExpandedControlButton(platform::CGRect frame)
        : UIButton(frame) {}

    const platform::UIViewPtr& imageTitleBackgroundView() { return m_imageTitleBackgroundView; }
    const platform::UIImageViewPtr& expandStateImageView() { return m_expandStateImageView; }
    const std::shared_ptr<platform::UILabel>& expandStateLabel() { return m_expandStateLabel; }

    bool isExpanded() const { return m_expanded; }
    void setExpanded(bool expanded);

private:
    void setupSubviews();

    platform::UIViewPtr m_imageTitleBackgroundView{platform::UIView::create()};
    platform::UIImageViewPtr m_expandStateImageView{platform::UIImageView::create()};
    std::shared_ptr<platform::UILabel> m_expandStateLabel{platform::UILabel::create()};
    bool m_expanded{false};
};
