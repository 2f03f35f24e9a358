#pragma once
// UIViewController(Loading_Prompt): what screens call for feedback: the loading overlay and the prompt
// (UIView+LoadingPrompt.h). Every call may come from any thread; each is carried out later on the main
// queue, in the order of the calls (also when made on the main thread). A call from the main thread takes
// the controller's view at once; one from another thread takes it on the main queue, so no thread but the
// main one ever loads a view. hideLoading removes the overlay from the view the last loading call used.

#include "platform/ui/UIViewController.h"

#include <optional>
#include <string>

void showLoading(platform::UIViewController& controller);
void showLoading(platform::UIViewController& controller, std::optional<std::string> text);
void showLoadingInView(platform::UIViewController& controller, platform::UIViewPtr view);
void showLoading(platform::UIViewController& controller, std::optional<std::string> text,
                 platform::UIViewPtr view);
// showLoadingWithText:inView: (main thread): remembers the view and shows the overlay in it.
void showLoadingWithText(platform::UIViewController& controller, std::optional<std::string> text,
                         platform::UIViewPtr view);
void hideLoading(platform::UIViewController& controller);
// hideLoadingView (main thread).
void hideLoadingView(platform::UIViewController& controller);
void promptMessage(platform::UIViewController& controller, std::optional<std::string> message);
void promptMessage(platform::UIViewController& controller, std::optional<std::string> message,
                   platform::UIViewPtr view);
// showPromptView:inView: (main thread).
void showPromptView(platform::UIViewController& controller, std::optional<std::string> message,
                    platform::UIViewPtr view);
// Show nothing.
void showNoNetworkView(platform::UIViewController& controller);
void showNoNetworkViewInView(platform::UIViewController& controller, platform::UIViewPtr view);

// The view of the last loading call.
platform::UIViewPtr loadingViewSuperView(const platform::UIViewController& controller);
void setLoadingViewSuperView(platform::UIViewController& controller, platform::UIViewPtr view);
