#include "app/ui/CustomPopupView.h"

#include "app/ui/UIView+AutoLayout.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIWindow.h"

using namespace platform;

namespace {
// The card's width over its height.
constexpr double cardAspect = 290.0 / 259.0;
} // namespace

CustomPopupView::CustomPopupView(CGRect frame)
    : UIButton(frame) {
    setTag(popupTag);
    setBackgroundColor(UIColor::colorWithRed(0, 0, 0, 0.4));
}

std::shared_ptr<CustomPopupView> CustomPopupView::create(std::optional<std::string> title, Value items,
                                                         uint64_t checkedIndex) {
    removePrevious();
    auto popup = std::make_shared<CustomPopupView>(CGRectZero);
    popup->addTarget(popup, selector("dismiss", &CustomPopupView::dismiss), UIControlEventTouchUpInside);
    auto& card = popup->parameterChoicingView();
    card->titleLabel()->setText(title.value_or(""));
    card->setDataSource(std::move(items));
    card->setCheckedIndex(checkedIndex);
    std::weak_ptr<CustomPopupView> weak = popup;
    card->setCheckedHandler([weak](LiveParameterChoicingView* view, const Value& choices, uint64_t index) {
        auto self = weak.lock();
        if (!self)
            return;
        if (self->m_choicingHandler)
            self->m_choicingHandler(view, choices, index);
        self->dismiss();
    });
    return popup;
}

void CustomPopupView::removePrevious() {
    auto window = UIApplication::sharedApplication()->keyWindow();
    auto previous = window ? window->viewWithTag(popupTag) : nullptr;
    if (previous && previous->superview() && std::dynamic_pointer_cast<CustomPopupView>(previous))
        previous->removeFromSuperview();
}

const std::shared_ptr<LiveParameterChoicingView>& CustomPopupView::parameterChoicingView() {
    if (!m_parameterChoicingView)
        m_parameterChoicingView = LiveParameterChoicingView::create();
    return m_parameterChoicingView;
}

void CustomPopupView::setupSubviews() {
    addSubview(parameterChoicingView());
}

void CustomPopupView::show() {
    auto window = UIApplication::sharedApplication()->keyWindow();
    if (!window)
        return;
    auto self = sharedAs<UIView>();
    window->addSubview(self);
    window->bringSubviewToFront(self);
    for (int64_t edge : {EdgeTop, EdgeLeft, EdgeBottom, EdgeRight})
        autoPinEdgeToSuperviewEdge(self, edge);
    auto& card = parameterChoicingView();
    addSubview(card);
    autoPinEdgeToSuperviewEdge(card, EdgeLeft, 50);
    autoPinEdgeToSuperviewEdge(card, EdgeRight, 50);
    autoAlignAxisToSuperviewAxis(card, AxisHorizontal);
    autoMatchDimensionWithMultiplier(card, DimensionWidth, DimensionHeight, card, cardAspect);
    showPopViewWithAnimation();
}

void CustomPopupView::showPopViewWithAnimation() {
    auto card = parameterChoicingView();
    card->setAlpha(0);
    card->setTransform(CGAffineTransformMakeScale(1.2, 1.2));
    std::weak_ptr<LiveParameterChoicingView> weakCard = card;
    UIView::animateWithDuration(
        0, 0, 0,
        [card] {
            card->setAlpha(0.1);
            card->setTransform(CGAffineTransformMakeScale(1, 1));
        },
        [weakCard](bool) {
            auto card = weakCard.lock();
            if (!card)
                return;
            UIView::animateWithDuration(
                0.25, 0, 0,
                [card] {
                    card->setTransform(CGAffineTransformMakeScale(1, 1));
                    card->setAlpha(1);
                },
                nullptr);
        });
}

void CustomPopupView::dismiss() {
    std::weak_ptr<CustomPopupView> weak = sharedAs<CustomPopupView>();
    auto card = parameterChoicingView();
    UIView::animateWithDuration(
        0.2, 0.05, 0,
        [this, card] {
            card->setAlpha(0);
            setAlpha(0.5);
        },
        [weak](bool) {
            if (!weak.lock())
                return;
            UIView::animateWithDuration(
                0.05, 0, 0,
                [weak] {
                    if (auto self = weak.lock())
                        self->setAlpha(0);
                },
                [weak](bool) {
                    if (auto self = weak.lock())
                        self->removeFromSuperview();
                });
        });
}
