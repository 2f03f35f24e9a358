#include "app/screens/LiveControlPanel.h"

#include "app/core/CommonData.h"
#include "app/ui/NSLayoutConstraint+AutoLayout.h"
#include "app/ui/UIView+AutoLayout.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/ui/Selector.h"

#include <chrono>

using namespace platform;

namespace {

UIButtonPtr iconButton(const char* normal, const char* selected = nullptr) {
    auto button = UIButton::create();
    button->setBackgroundImage(UIImage::imageNamed(normal), UIControlStateNormal);
    if (selected)
        button->setBackgroundImage(UIImage::imageNamed(selected), UIControlStateSelected);
    return button;
}

UIImageViewPtr clearImageView(const char* image) {
    auto view = UIImageView::create(UIImage::imageNamed(image));
    view->setBackgroundColor(UIColor::clearColor());
    return view;
}

UIColorPtr halfBlack() {
    return UIColor::colorWithWhite(0, 0.5);
}

void roundCorners(const UIViewPtr& view) {
    view->layer()->setCornerRadius(16);
    view->setClipsToBounds(true);
}

// The middle of the chosen resolution, where every zoom is centred.
CGPoint resolutionCentre() {
    auto preset = CommonData::sharedInstance()->resolutionData();
    return preset ? CGPointMake(preset->resolutionWidth() * 0.5, preset->resolutionHeight() * 0.5)
                  : CGPointZero;
}

} // namespace

LiveControlPanel::LiveControlPanel(CGRect frame)
    : UIView(frame)
    , m_backButton(iconButton("live_navigation_back"))
    , m_flashButton(iconButton("live_flash_off", "live_flash_on"))
    , m_cameraButton(iconButton("live_camera_trans"))
    , m_barrageButton(iconButton("live_barrage_off", "live_barrage_on"))
    , m_facialButton(iconButton("live_facial_off", "live_facial_on"))
    , m_captureButton(CaptureButton::create())
    , m_logoImageView(clearImageView("live_logo"))
    , m_focusImageView(clearImageView("live_focus")) {
    setBackgroundColor(UIColor::clearColor());
    m_captureButton->titleLabel()->setFont(UIFont::systemFontOfSize(15));
    roundCorners(m_captureButton);
}

std::shared_ptr<LiveControlPanel> LiveControlPanel::create(CGRect frame) {
    auto panel = std::make_shared<LiveControlPanel>(frame);
    panel->m_personsView = LivePersonsView::create();
    panel->m_personsView->setBackgroundColor(UIColor::clearColor());
    roundCorners(panel->m_personsView);
    panel->m_facialSettingView = FacialSettingView::create();
    panel->m_facialSettingView->setBackgroundColor(halfBlack());
    panel->m_barrageView = LiveBarrageView::create();
    panel->m_barrageView->setBackgroundColor(halfBlack());
    panel->m_barrageView->expandedControlButton()->addTarget(
        panel,
        selector("barrageViewControlButtonPressed", &LiveControlPanel::barrageViewControlButtonPressed),
        UIControlEventTouchUpInside);
    panel->m_touchesView = ZoomTouchesView::create();
    panel->m_touchesView->setBackgroundColor(UIColor::clearColor());
    panel->installTouchHandlers();
    panel->setupSubviews();
    panel->setupConstraints();
    return panel;
}

void LiveControlPanel::installTouchHandlers() {
    std::weak_ptr<LiveControlPanel> weak = std::static_pointer_cast<LiveControlPanel>(sharedAs<UIView>());
    m_touchesView->setTapTouchesHandler([weak](ZoomTouchesView*, CGPoint point) {
        auto panel = weak.lock();
        if (!panel)
            return;
        panel->handleTapPoint(point);
        if (auto delegate = panel->touchDelegate())
            delegate->liveControlPanelTapPoint(panel.get(), point);
    });
    m_touchesView->setZoomTouchesHandler([weak](ZoomTouchesView*, double zoom, CGPoint) {
        auto panel = weak.lock();
        if (!panel)
            return;
        if (auto delegate = panel->touchDelegate())
            delegate->liveControlPanelZoom(panel.get(), zoom, resolutionCentre());
    });
}

void LiveControlPanel::setupSubviews() {
    for (const UIViewPtr& view : std::initializer_list<UIViewPtr>{
             m_touchesView, m_backButton, m_flashButton, m_cameraButton, m_barrageButton, m_facialButton,
             m_captureButton, m_logoImageView, m_personsView, m_barrageView, m_facialSettingView,
             m_focusImageView})
        addSubview(view);
    m_focusImageView->setAlpha(0);
}

void LiveControlPanel::setupConstraints() {
    autoPinEdgesToSuperviewEdges(m_touchesView);
    setupButtonRowConstraints();

    autoPinEdgeToSuperviewEdge(m_captureButton, EdgeTop, 12);
    autoPinEdgeToSuperviewEdge(m_captureButton, EdgeRight, 12);
    autoSetDimensionsToSize(m_captureButton, CGSizeMake(98, 32));
    autoPinEdgeToSuperviewEdge(m_logoImageView, EdgeBottom, 13);
    autoPinEdgeToSuperviewEdge(m_logoImageView, EdgeRight, 15);
    autoSetDimensionsToSize(m_logoImageView, CGSizeMake(80, 32));
    autoAlignAxis(m_personsView, AxisHorizontal, m_logoImageView);
    autoPinEdge(m_personsView, EdgeRight, EdgeLeft, m_logoImageView, -15);
    autoSetDimensionsToSize(m_personsView, CGSizeMake(98, 32));

    autoPinEdgeToSuperviewEdge(m_barrageView, EdgeBottom, 12);
    autoPinEdgeToSuperviewEdge(m_barrageView, EdgeLeft, 12);
    autoPinEdge(m_barrageView, EdgeRight, EdgeRight, m_barrageButton);
    m_barrageViewWithExpandedConstraint = autoPinEdge(m_barrageView, EdgeTop, EdgeBottom, m_backButton, 18);
    auto collapsed = autoCreateConstraintsWithoutInstalling(
        [&] { autoPinEdge(m_barrageView, EdgeTop, EdgeTop, m_barrageView->expandedControlButton()); });
    m_barrageViewWithoutExpandedConstraint = collapsed && !collapsed->empty() ? collapsed->front() : nullptr;

    autoPinEdge(m_facialSettingView, EdgeLeft, EdgeRight, m_barrageView, 15);
    autoPinEdge(m_facialSettingView, EdgeTop, EdgeTop, m_barrageView);
    autoMatchDimensionWithMultiplier(m_facialSettingView, DimensionWidth, DimensionWidth, m_barrageView, 2);
    autoMatchDimensionWithMultiplier(m_facialSettingView, DimensionHeight, DimensionHeight, m_barrageView,
                                     0.5);

    // The marker is moved by its centre, so it keeps its frame rather than taking constraints.
    m_focusImageView->sizeToFit();
}

void LiveControlPanel::setupButtonRowConstraints() {
    autoPinEdgeToSuperviewEdge(m_backButton, EdgeTop, 12);
    autoPinEdgeToSuperviewEdge(m_backButton, EdgeLeft, 12);
    autoSetDimensionsToSize(m_backButton, CGSizeMake(38, 38));
    UIViewPtr previous = m_backButton;
    for (const UIViewPtr& button :
         std::initializer_list<UIViewPtr>{m_flashButton, m_cameraButton, m_barrageButton, m_facialButton}) {
        autoPinEdge(button, EdgeLeft, EdgeRight, previous, 15);
        autoMatchDimension(button, DimensionWidth, DimensionWidth, m_backButton);
        autoMatchDimension(button, DimensionHeight, DimensionHeight, m_backButton);
        autoAlignAxis(button, AxisHorizontal, m_backButton);
        previous = button;
    }
}

void LiveControlPanel::handleTapPoint(CGPoint point) {
    m_focusImageView->setCenter(point);
    m_focusImageView->setAlpha(1);
    DispatchQueue::main()->after(
        std::chrono::duration_cast<Duration>(std::chrono::duration<double>(kFocusFadeDelay)),
        [marker = std::weak_ptr<UIImageView>(m_focusImageView)] {
            if (auto view = marker.lock())
                view->setAlpha(0);
        });
}

void LiveControlPanel::expandBarrageView(bool expanded) {
    m_barrageView->setExpanded(expanded);
    const auto& on = expanded ? m_barrageViewWithExpandedConstraint : m_barrageViewWithoutExpandedConstraint;
    const auto& off = expanded ? m_barrageViewWithoutExpandedConstraint : m_barrageViewWithExpandedConstraint;
    if (off)
        off->setActive(false);
    if (on)
        on->setActive(true);
}

void LiveControlPanel::barrageViewControlButtonPressed() {
    expandBarrageView(!m_barrageView->isExpanded());
}
