#include "app/screens/AnchorNotCertifiedView.h"

#include "app/core/AppConfiguration.h"
#include "app/screens/LocalizedText.h"
#include "app/screens/ScreenLook.h"
#include "app/ui/UIView+AutoLayout.h"
#include "platform/ui/UIScreen.h"

using namespace platform;

namespace {

UILabelPtr makeNoticeLabel(UIColorPtr color, double fontSize, const std::string& text) {
    auto label = makeLabel(std::move(color), fontSize, NSTextAlignmentCenter);
    label->setText(detail::localizedText(text));
    return label;
}

} // namespace

std::shared_ptr<AnchorNotCertifiedView> AnchorNotCertifiedView::create(CGRect frame) {
    auto view = std::make_shared<AnchorNotCertifiedView>(frame);
    view->setupSubviews();
    view->setupConstraints();
    return view;
}

const UILabelPtr& AnchorNotCertifiedView::stateLabel() {
    if (!m_stateLabel)
        m_stateLabel = makeNoticeLabel(colorWithRGB(231, 60, 50), 18, "主播未认证");
    return m_stateLabel;
}

const UILabelPtr& AnchorNotCertifiedView::websiteCertifiedLabel() {
    if (!m_websiteCertifiedLabel)
        m_websiteCertifiedLabel = makeNoticeLabel(colorWithRGB(153, 153, 153), 15, "请访问官网认证主播");
    return m_websiteCertifiedLabel;
}

const UILabelPtr& AnchorNotCertifiedView::websiteLabel() {
    if (!m_websiteLabel)
        m_websiteLabel = makeNoticeLabel(colorWithRGB(153, 153, 153), 13, AppConfiguration::serviceURL());
    return m_websiteLabel;
}

void AnchorNotCertifiedView::setupSubviews() {
    addSubview(stateLabel());
    addSubview(websiteCertifiedLabel());
    addSubview(websiteLabel());
}

void AnchorNotCertifiedView::setupConstraints() {
    autoPinEdgeToSuperviewEdge(stateLabel(), EdgeTop, 0.4 * UIScreen::mainScreen()->bounds().size.height);
    UIViewPtr above;
    for (const auto& [label, gap] : {std::pair{stateLabel(), 0.0}, std::pair{websiteCertifiedLabel(), 15.0},
                                     std::pair{websiteLabel(), 5.0}}) {
        autoPinEdgeToSuperviewEdge(label, EdgeLeft);
        autoPinEdgeToSuperviewEdge(label, EdgeRight);
        autoSetDimension(label, DimensionHeight, 20);
        if (above)
            autoPinEdge(label, EdgeTop, EdgeBottom, above, gap);
        above = label;
    }
}
