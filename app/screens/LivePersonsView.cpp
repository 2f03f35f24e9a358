#include "app/screens/LivePersonsView.h"

#include "app/ui/UIView+AutoLayout.h"
#include "platform/foundation/Text.h"

#include <fmt/format.h>

using namespace platform;

std::shared_ptr<LivePersonsView> LivePersonsView::create(CGRect frame) {
    auto view = std::make_shared<LivePersonsView>(frame);
    view->addSubview(view->titleLabel());
    autoPinEdgeToSuperviewEdge(view->titleLabel(), EdgeTop, 0);
    autoPinEdgeToSuperviewEdge(view->titleLabel(), EdgeBottom, 0);
    autoPinEdgeToSuperviewEdge(view->titleLabel(), EdgeLeft, 38);
    autoPinEdgeToSuperviewEdge(view->titleLabel(), EdgeRight, 13);
    view->setPersonsAmount(0);
    return view;
}

LivePersonsView::LivePersonsView(CGRect frame)
    : UIImageView(frame) {
    setImage(UIImage::imageNamed("live_persons_background"));
}

const std::shared_ptr<UILabel>& LivePersonsView::titleLabel() {
    if (!m_titleLabel) {
        m_titleLabel = UILabel::create();
        m_titleLabel->setBackgroundColor(UIColor::clearColor());
        m_titleLabel->setTextAlignment(NSTextAlignmentCenter);
        m_titleLabel->setTextColor(UIColor::whiteColor());
        m_titleLabel->setFont(UIFont::systemFontOfSize(12));
    }
    return m_titleLabel;
}

uint64_t LivePersonsView::personsAmount() {
    return uint64_t(text::integerValue(titleLabel()->text()));
}

void LivePersonsView::setPersonsAmount(uint64_t personsAmount) {
    titleLabel()->setText(fmt::format("{}", personsAmount));
}
