#pragma once
// LiveBarrageView: the barrage panel: the list of lines above a hairline and the expand/collapse strip
// (35 points high) at the bottom. Collapsed, the list and the hairline are hidden and only the strip
// shows. The list's data source and delegate are the broadcast screen's. Main thread only.

#include "app/screens/BarrageExpandedControlButton.h"
#include "platform/ui/UICollectionView.h"
#include "platform/ui/UIView.h"

#include <memory>

class LiveBarrageView : public platform::UIView {
public:
    static constexpr double kControlButtonHeight = 35;

    static std::shared_ptr<LiveBarrageView> create(platform::CGRect frame = platform::CGRectZero);
    explicit LiveBarrageView(platform::CGRect frame);

    const platform::UICollectionViewPtr& barrageCollectionView() { return m_barrageCollectionView; }
    const platform::UIViewPtr& seperatorView() { return m_seperatorView; }
    const std::shared_ptr<BarrageExpandedControlButton>& expandedControlButton() {
        return m_expandedControlButton;
    }

    bool isExpanded() const { return m_expanded; }
    void setExpanded(bool expanded);

private:
    void setupSubviews();
    void setupConstraints();

    platform::UICollectionViewPtr m_barrageCollectionView;
    platform::UIViewPtr m_seperatorView{platform::UIView::create()};
    std::shared_ptr<BarrageExpandedControlButton> m_expandedControlButton{
        BarrageExpandedControlButton::create()};
    bool m_expanded{false};
};
