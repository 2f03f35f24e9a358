#include "app/ui/AssociatedObjects.h"
#include "app/ui/UIView+LoadingPrompt.h"
#include "app/ui/UIViewController+Loading_Prompt.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/runloop/RunLoop.h"

using namespace platform;

namespace {

const char kLoadingSuperViewKey = 0;

using ViewWork = std::function<void(UIViewController&, const UIViewPtr&)>;

// Queues the work on the main queue with the controller kept alive. The view is the given one, else the
// controller's: taken now on the main thread, or on the main queue when asked from another thread.
void onMainQueue(UIViewController& controller, UIViewPtr view, bool useControllerView, ViewWork work) {
    auto kept = std::static_pointer_cast<UIViewController>(controller.shared_from_this());
    if (useControllerView && RunLoop::isMainThread())
        view = kept->view();
    DispatchQueue::main()->async([kept, view, useControllerView, work = std::move(work)] {
        work(*kept, view || !useControllerView ? view : kept->view());
    });
}

} // namespace

void showLoading(UIViewController& controller) {
    showLoading(controller, std::nullopt);
}

void showLoading(UIViewController& controller, std::optional<std::string> text) {
    onMainQueue(controller, nullptr, true,
                [text](UIViewController& c, const UIViewPtr& view) { showLoadingWithText(c, text, view); });
}

void showLoadingInView(UIViewController& controller, UIViewPtr view) {
    showLoading(controller, std::nullopt, std::move(view));
}

void showLoading(UIViewController& controller, std::optional<std::string> text, UIViewPtr view) {
    onMainQueue(controller, std::move(view), false, [text](UIViewController& c, const UIViewPtr& inView) {
        showLoadingWithText(c, text, inView);
    });
}

void showLoadingWithText(UIViewController& controller, std::optional<std::string> text, UIViewPtr view) {
    setLoadingViewSuperView(controller, view);
    if (view)
        showLoadingViewWithText(*view, std::move(text));
}

void hideLoading(UIViewController& controller) {
    onMainQueue(controller, nullptr, false,
                [](UIViewController& c, const UIViewPtr&) { hideLoadingView(c); });
}

void hideLoadingView(UIViewController& controller) {
    if (auto view = loadingViewSuperView(controller))
        hideLoadingView(*view);
}

void promptMessage(UIViewController& controller, std::optional<std::string> message) {
    onMainQueue(controller, nullptr, true,
                [message](UIViewController& c, const UIViewPtr& view) { showPromptView(c, message, view); });
}

void promptMessage(UIViewController& controller, std::optional<std::string> message, UIViewPtr view) {
    onMainQueue(controller, std::move(view), false, [message](UIViewController& c, const UIViewPtr& inView) {
        showPromptView(c, message, inView);
    });
}

void showPromptView(UIViewController&, std::optional<std::string> message, UIViewPtr view) {
    if (view)
        showPromptWithMessage(*view, std::move(message));
}

void showNoNetworkView(UIViewController&) {}

void showNoNetworkViewInView(UIViewController&, UIViewPtr) {}

UIViewPtr loadingViewSuperView(const UIViewController& controller) {
    return ::detail::associated<UIView>(controller, &kLoadingSuperViewKey);
}

void setLoadingViewSuperView(UIViewController& controller, UIViewPtr view) {
    ::detail::setAssociated(controller, &kLoadingSuperViewKey, std::move(view));
}
