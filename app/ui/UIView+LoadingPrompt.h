#pragma once
// UIView(LoadingPrompt): one loading overlay and one prompt overlay per view, each a KelProgressHUD made on
// first use and kept with the view for reuse (out of the view tree between uses). The loading overlay
// (spinner, optional text) stays until hideLoadingView; the prompt overlay (text only) hides itself 2
// seconds after each prompt, when the earliest wait still running ends. Both show system 14 text in white
// over the overlay's default box. Main thread only; UIViewController+Loading_Prompt.h is what screens
// call from anywhere.

#include "app/ui/KelProgressHUD.h"

#include <optional>
#include <string>

// Shows the loading overlay over the view (brought to the front when it is there already).
void showLoadingViewWithText(platform::UIView& view, std::optional<std::string> text);
// Takes the loading overlay off the view at once, without fading; nothing when there is none.
void hideLoadingView(platform::UIView& view);
// Shows the prompt overlay with the message; it hides and leaves the view 2 seconds later.
void showPromptWithMessage(platform::UIView& view, std::optional<std::string> message);
// The overlays' look: the text and mode, system font 14, white; answers the overlay.
KelProgressHUDPtr customHUD(platform::UIView& view, const KelProgressHUDPtr& hud,
                            std::optional<std::string> text, int64_t mode);

KelProgressHUDPtr loadingViewProperty(const platform::UIView& view);
void setLoadingViewProperty(platform::UIView& view, KelProgressHUDPtr hud);
KelProgressHUDPtr promptViewProperty(const platform::UIView& view);
void setPromptViewProperty(platform::UIView& view, KelProgressHUDPtr hud);
