#include "app/ui/KelProgressHUD.h"

#include "app/ui/KelBarProgressView.h"
#include "app/ui/KelRoundProgressView.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/UIActivityIndicatorView.h"
#include "platform/ui/UIApplication.h"

using namespace platform;

void KelProgressHUDDelegate::hudWasHidden(KelProgressHUD*) {}

KelProgressHUDPtr KelProgressHUD::create(CGRect frame) {
    auto hud = std::make_shared<KelProgressHUD>(Token{}, frame);
    hud->setUp();
    return hud;
}

KelProgressHUDPtr KelProgressHUD::create(const UIViewPtr& view) {
    return create(view ? view->bounds() : CGRectZero);
}

KelProgressHUD::KelProgressHUD(Token, CGRect frame)
    : UIView(frame) {
    m_labelFont.set(UIFont::boldSystemFontOfSize(16));
    m_labelColor.set(UIColor::whiteColor());
    m_detailsLabelFont.set(UIFont::boldSystemFontOfSize(12));
    m_detailsLabelColor.set(UIColor::whiteColor());
    m_activityIndicatorColor.set(UIColor::whiteColor());
    setContentMode(UIViewContentModeCenter);
    setAutoresizingMask(UIViewAutoresizingFlexibleLeftMargin | UIViewAutoresizingFlexibleRightMargin |
                        UIViewAutoresizingFlexibleTopMargin | UIViewAutoresizingFlexibleBottomMargin);
    setOpaque(false);
    setBackgroundColor(UIColor::clearColor());
    setAlpha(0);
}

KelProgressHUD::~KelProgressHUD() {
    NotificationCenter::defaultCenter().removeObserver(this);
}

KelProgressHUDPtr KelProgressHUD::self() {
    return std::static_pointer_cast<KelProgressHUD>(shared_from_this());
}

void KelProgressHUD::setUp() {
    setUpLabels();
    updateIndicators();
    std::weak_ptr<KelProgressHUD> weak = self();
    NotificationCenter::defaultCenter().addObserver(
        self(), UIApplicationDidChangeStatusBarOrientationNotification, nullptr, [weak](const Notification&) {
            if (auto hud = weak.lock())
                hud->fitToSuperview();
        });
}

void KelProgressHUD::setUpLabels() {
    auto makeLabel = [this] {
        auto label = UILabel::create(bounds());
        label->setAdjustsFontSizeToFitWidth(false);
        label->setTextAlignment(NSTextAlignmentCenter);
        label->setOpaque(false);
        label->setBackgroundColor(UIColor::clearColor());
        addSubview(label);
        return label;
    };
    m_label = makeLabel();
    m_label->setTextColor(labelColor());
    m_label->setFont(labelFont());
    m_label->setText(labelText().value_or(""));
    m_detailsLabel = makeLabel();
    m_detailsLabel->setFont(detailsLabelFont());
    m_detailsLabel->setTextColor(detailsLabelColor());
    m_detailsLabel->setNumberOfLines(0);
    m_detailsLabel->setText(detailsLabelText().value_or(""));
}

void KelProgressHUD::installIndicator(UIViewPtr indicator) {
    if (auto old = m_indicator.get())
        old->removeFromSuperview();
    m_indicator.set(indicator);
    if (indicator)
        addSubview(indicator);
}

void KelProgressHUD::updateIndicators() {
    auto current = indicator();
    switch (mode()) {
    case HUDModeSpinner: {
        auto spinner = std::dynamic_pointer_cast<UIActivityIndicatorView>(current);
        if (!spinner) {
            spinner = UIActivityIndicatorView::create(UIActivityIndicatorViewStyleWhite);
            spinner->startAnimating();
            installIndicator(spinner);
        }
        spinner->setColor(activityIndicatorColor());
        break;
    }
    case HUDModePie:
    case HUDModeRing: {
        auto round = std::dynamic_pointer_cast<KelRoundProgressView>(current);
        if (!round) {
            round = std::make_shared<KelRoundProgressView>();
            installIndicator(round);
        }
        if (mode() == HUDModeRing)
            round->setAnnular(true);
        break;
    }
    case HUDModeBar:
        installIndicator(std::make_shared<KelBarProgressView>());
        break;
    case HUDModeCustomView:
        if (customView() != current)
            installIndicator(customView());
        break;
    case HUDModeText:
        installIndicator(nullptr);
        break;
    default:
        break;
    }
}

void KelProgressHUD::setMode(int64_t mode) {
    m_mode.set(mode);
    propertyChanged(Key::Mode);
}

void KelProgressHUD::setCustomView(UIViewPtr view) {
    m_customView.set(std::move(view));
    propertyChanged(Key::CustomView);
}

void KelProgressHUD::setLabelText(std::optional<std::string> text) {
    m_labelText.set(std::move(text));
    propertyChanged(Key::LabelText);
}

void KelProgressHUD::setDetailsLabelText(std::optional<std::string> text) {
    m_detailsLabelText.set(std::move(text));
    propertyChanged(Key::DetailsLabelText);
}

void KelProgressHUD::setLabelFont(UIFontPtr font) {
    m_labelFont.set(std::move(font));
    propertyChanged(Key::LabelFont);
}

void KelProgressHUD::setLabelColor(UIColorPtr color) {
    m_labelColor.set(std::move(color));
    propertyChanged(Key::LabelColor);
}

void KelProgressHUD::setDetailsLabelFont(UIFontPtr font) {
    m_detailsLabelFont.set(std::move(font));
    propertyChanged(Key::DetailsLabelFont);
}

void KelProgressHUD::setDetailsLabelColor(UIColorPtr color) {
    m_detailsLabelColor.set(std::move(color));
    propertyChanged(Key::DetailsLabelColor);
}

void KelProgressHUD::setActivityIndicatorColor(UIColorPtr color) {
    m_activityIndicatorColor.set(std::move(color));
    propertyChanged(Key::ActivityIndicatorColor);
}

void KelProgressHUD::setProgress(float progress) {
    m_progress.set(progress);
    propertyChanged(Key::Progress);
}

void KelProgressHUD::propertyChanged(Key key) {
    if (RunLoop::isMainThread()) {
        applyChange(key);
        return;
    }
    // The same channel as the end of the work, so a change made by the work is shown before it ends.
    DispatchQueue::main()->async([hud = self(), key] { hud->applyChange(key); });
}

void KelProgressHUD::applyChange(Key key) {
    switch (key) {
    case Key::Mode:
    case Key::CustomView:
    case Key::ActivityIndicatorColor:
        updateIndicators();
        break;
    case Key::LabelText:
        m_label->setText(labelText().value_or(""));
        break;
    case Key::LabelFont:
        m_label->setFont(labelFont());
        break;
    case Key::LabelColor:
        m_label->setTextColor(labelColor());
        break;
    case Key::DetailsLabelText:
        m_detailsLabel->setText(detailsLabelText().value_or(""));
        break;
    case Key::DetailsLabelFont:
        m_detailsLabel->setFont(detailsLabelFont());
        break;
    case Key::DetailsLabelColor:
        m_detailsLabel->setTextColor(detailsLabelColor());
        break;
    case Key::Progress:
        if (auto* indicator = dynamic_cast<KelProgressIndicator*>(m_indicator.get().get()))
            indicator->setProgress(progress());
        return;
    }
    setNeedsLayout();
    setNeedsDisplay();
}
