#include "app/screens/LiveViewController.h"
#include "app/ui/UIView+AutoLayout.h"
#include "platform/foundation/Text.h"
#include "platform/ui/Selector.h"

#include <cmath>

using namespace platform;

const UIViewPtr& LiveViewController::previewView() {
    if (!m_previewView) {
        m_previewView = UIView::create();
        m_previewView->setBackgroundColor(UIColor::blackColor());
    }
    return m_previewView;
}

const std::shared_ptr<LiveControlPanel>& LiveViewController::controlPanel() {
    if (!m_controlPanel) {
        m_controlPanel = LiveControlPanel::create();
        m_controlPanel->setTouchDelegate(self());
    }
    return m_controlPanel;
}

void LiveViewController::setupSubviews() {
    view()->setBackgroundColor(UIColor::whiteColor());
    view()->addSubview(previewView());
    view()->addSubview(controlPanel());
    const auto& panel = controlPanel();
    panel->flashButton()->setSelected(false);
    panel->barrageButton()->setSelected(true);
    panel->facialSettingView()->setHidden(true);
    panel->expandBarrageView(true);
    panel->captureButton()->setCaptureState(4);
    addControlEvents();
    setupBarrageCollectionView();
}

void LiveViewController::setupConstraints() {
    autoPinEdgesToSuperviewEdges(previewView());
    autoPinEdgesToSuperviewEdges(controlPanel());
}

void LiveViewController::addControlEvents() {
    const auto& panel = controlPanel();
    auto screen = self();
    const std::pair<UIButtonPtr, Selector> actions[] = {
        {panel->backButton(), selector("backButtonPressed", &LiveViewController::backButtonPressed)},
        {panel->flashButton(), selector("flashButtonPressed", &LiveViewController::flashButtonPressed)},
        {panel->cameraButton(), selector("cameraButtonPressed", &LiveViewController::cameraButtonPressed)},
        {panel->barrageButton(), selector("barrageButtonPressed", &LiveViewController::barrageButtonPressed)},
        {panel->facialButton(), selector("facialButtonPressed", &LiveViewController::facialButtonPressed)},
        {panel->captureButton(), selector("captureButtonPressed", &LiveViewController::captureButtonPressed)},
    };
    for (const auto& [button, action] : actions)
        button->addTarget(screen, action, UIControlEventTouchUpInside);
    panel->facialSettingView()->setDelegate(screen);
}

void LiveViewController::updateViewerView() {
    // The count comes from the service as text; what is not a count of people shows as none.
    const int64_t viewers =
        m_liveRoomModel && m_liveRoomModel->view ? text::integerValue(*m_liveRoomModel->view) : 0;
    controlPanel()->personsView()->setPersonsAmount(uint64_t(std::max<int64_t>(viewers, 0)));
}

void LiveViewController::reloadBarrageView() {
    barrageCollectionView()->reloadData();
}

// ---- Controls --------------------------------------------------------------------------------

void LiveViewController::flashButtonPressed() {
    const auto& flash = controlPanel()->flashButton();
    const bool torch = !flash->isSelected();
    simpleSession()->setTorch(torch);
    flash->setSelected(torch);
}

void LiveViewController::cameraButtonPressed() {
    simpleSession()->switchCamera();
    const auto& flash = controlPanel()->flashButton();
    const bool back = simpleSession()->cameraState() == LiveCameraStateBack;
    flash->setEnabled(back);
    if (simpleSession()->cameraState() == LiveCameraStateFront)
        flash->setSelected(false);
}

void LiveViewController::barrageButtonPressed() {
    const auto& panel = controlPanel();
    panel->barrageButton()->setSelected(!panel->barrageButton()->isSelected());
    panel->barrageView()->setHidden(!panel->barrageButton()->isSelected());
}

void LiveViewController::facialButtonPressed() {
    const auto& facial = controlPanel()->facialButton();
    facial->setSelected(!facial->isSelected());
    if (facial->isSelected())
        simpleSession()->setBeatyEffect(0.7f, 0.6f, 0.5f);
    else
        simpleSession()->setBeatyEffect(0, 0, 0);
}

void LiveViewController::captureButtonPressed() {
    controlPanel()->captureButton()->setUserInteractionEnabled(false);
    operateSession();
}

void LiveViewController::facialSettingViewBeatyEffectSlider(FacialSettingView*, UISlider* bright,
                                                            UISlider* smooth, UISlider* pink) {
    if (bright && smooth && pink)
        simpleSession()->setBeatyEffect(float(bright->value()), float(smooth->value()), float(pink->value()));
}

void LiveViewController::liveControlPanelTapPoint(LiveControlPanel* panel, CGPoint point) {
    if (!panel)
        return;
    const CGSize size = panel->frame().size;
    const CGPoint focus = CGPointMake(point.x / size.width, point.y / size.height);
    // A panel without a size has no place to focus on.
    if (std::isfinite(focus.x) && std::isfinite(focus.y))
        simpleSession()->setFocusPointOfInterest(focus);
}

void LiveViewController::liveControlPanelZoom(LiveControlPanel*, double zoom, CGPoint centerPoint) {
    const float maxZoom = simpleSession()->getMaxZoomLevel();
    const double step = double((maxZoom - 1.0f) * 0.25f);
    const double factor = std::log2(zoom) * step + 1.0;
    simpleSession()->zoomVideo(float(factor), centerPoint);
}
