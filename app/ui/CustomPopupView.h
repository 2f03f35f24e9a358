#pragma once
// CustomPopupView: a modal chooser over the whole key window: a dimmed layer (this button) with a
// LiveParameterChoicingView card in its middle, 50 points in from each side, 259/290 as tall as wide. A tap
// on a row reports the choice to choicingHandler and then dismisses; a tap on the dimmed layer dismisses
// without a choice. Dismissing fades the card and the layer and takes the popup off the window 0.3 s after
// it starts. At most one popup (tag 257) is on the key window: creating one removes a previous one at once,
// whatever it is doing.
//
// The window keeps a shown popup alive; the card's handler holds the popup weakly, so a popup taken off
// the window and dropped by its caller is released. Main thread only.

#include "app/ui/LiveParameterChoicingView.h"
#include "platform/ui/UIButton.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class CustomPopupView : public platform::UIButton {
public:
    static constexpr int64_t popupTag = 257;
    using ChoicingHandler = LiveParameterChoicingView::CheckedHandler;

    // initWithTitle:dataSource:checkedIndex:
    static std::shared_ptr<CustomPopupView> create(std::optional<std::string> title, platform::Value items,
                                                   uint64_t checkedIndex);
    // initWithFrame: tag 257 and the dimmed background; used by create.
    explicit CustomPopupView(platform::CGRect frame);

    // Removes, without animation, a popup of this class tagged 257 from the key window.
    static void removePrevious();
    // On the key window (nothing without one), in front, with the card's entry animation.
    void show();
    void showPopViewWithAnimation();
    void dismiss();
    // The card is added and placed by show; these two are not used by the popup's own operations.
    void setupSubviews();
    void setupConstraints() {}

    // Made on first read.
    const std::shared_ptr<LiveParameterChoicingView>& parameterChoicingView();
    const ChoicingHandler& choicingHandler() const { return m_choicingHandler; }
    void setChoicingHandler(ChoicingHandler handler) { m_choicingHandler = std::move(handler); }

private:
    std::shared_ptr<LiveParameterChoicingView> m_parameterChoicingView;
    ChoicingHandler m_choicingHandler;
};
