#include "app/ui/AssociatedObjects.h"
#include "app/ui/UIView+LoadingPrompt.h"

using namespace platform;

namespace {

const char kLoadingViewKey = 0;
const char kPromptViewKey = 0;
// The loading overlay's task never ends by itself in practice: the screen hides it long before.
constexpr double kLoadingWait = 10000;
constexpr double kPromptWait = 2;
constexpr double kTextSize = 14;

void showOverlay(UIView& view, const KelProgressHUDPtr& hud, std::optional<std::string> text, int64_t mode,
                 double wait) {
    customHUD(view, hud, std::move(text), mode);
    view.addSubview(hud);
    std::weak_ptr<KelProgressHUD> weak = hud;
    hud->showAnimatedWhileWaiting(true, wait, [weak] {
        if (auto overlay = weak.lock())
            overlay->removeFromSuperview();
    });
}

// The view's overlay under the key, made on first use.
KelProgressHUDPtr overlay(UIView& view, const void* key) {
    auto hud = ::detail::associated<KelProgressHUD>(view, key);
    if (!hud) {
        hud = KelProgressHUD::create(view.sharedAs<UIView>());
        ::detail::setAssociated(view, key, hud);
    }
    return hud;
}

} // namespace

void showLoadingViewWithText(UIView& view, std::optional<std::string> text) {
    showOverlay(view, overlay(view, &kLoadingViewKey), std::move(text), HUDModeSpinner, kLoadingWait);
}

void hideLoadingView(UIView& view) {
    if (auto hud = loadingViewProperty(view))
        hud->removeFromSuperview();
}

void showPromptWithMessage(UIView& view, std::optional<std::string> message) {
    showOverlay(view, overlay(view, &kPromptViewKey), std::move(message), HUDModeText, kPromptWait);
}

KelProgressHUDPtr customHUD(UIView&, const KelProgressHUDPtr& hud, std::optional<std::string> text,
                            int64_t mode) {
    if (!hud)
        return hud;
    hud->setLabelText(std::move(text));
    hud->setMode(mode);
    hud->setLabelFont(UIFont::systemFontOfSize(kTextSize));
    hud->setLabelColor(UIColor::whiteColor());
    return hud;
}

KelProgressHUDPtr loadingViewProperty(const UIView& view) {
    return ::detail::associated<KelProgressHUD>(view, &kLoadingViewKey);
}

void setLoadingViewProperty(UIView& view, KelProgressHUDPtr hud) {
    ::detail::setAssociated(view, &kLoadingViewKey, std::move(hud));
}

KelProgressHUDPtr promptViewProperty(const UIView& view) {
    return ::detail::associated<KelProgressHUD>(view, &kPromptViewKey);
}

void setPromptViewProperty(UIView& view, KelProgressHUDPtr hud) {
    ::detail::setAssociated(view, &kPromptViewKey, std::move(hud));
}
