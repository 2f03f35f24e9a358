#include "app/walkthrough/ScreenReading.h"

#include "app/ui/KelProgressHUD.h"
#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIWindow.h"

#include <algorithm>

using namespace platform;

namespace walkthrough {

namespace {

UIViewControllerPtr topOfStack() {
    auto window = UIApplication::sharedApplication()->keyWindow();
    auto stack =
        window ? std::dynamic_pointer_cast<UINavigationController>(window->rootViewController()) : nullptr;
    return stack ? stack->topViewController() : nullptr;
}

// A prompt overlay is a text-only overlay that has not faded out.
std::string visiblePrompt(const UIViewPtr& view) {
    if (!view || view->isHidden())
        return {};
    if (auto hud = std::dynamic_pointer_cast<KelProgressHUD>(view)) {
        auto text = hud->labelText();
        if (hud->mode() == HUDModeText && hud->alpha() > 0.5 && text)
            return *text;
    }
    for (const auto& subview : view->subviews())
        if (auto text = visiblePrompt(subview); !text.empty())
            return text;
    return {};
}

// Chat and gift lines; the connection and live-state lines are the application's own.
bool isViewerLine(const std::shared_ptr<ChatModel>& line) {
    const int64_t type = line->chatRoomType();
    return type >= 0 && type != 1000001 && type != 1000002;
}

bool anyOverlay(const UIViewPtr& view) {
    if (!view || view->isHidden())
        return false;
    if (std::dynamic_pointer_cast<KelProgressHUD>(view))
        return true;
    const auto& subviews = view->subviews();
    return std::any_of(subviews.begin(), subviews.end(), anyOverlay);
}

} // namespace

std::shared_ptr<LoginViewController> loginScreen() {
    return std::dynamic_pointer_cast<LoginViewController>(topOfStack());
}

std::shared_ptr<HomeViewController> homeScreen() {
    auto home = std::dynamic_pointer_cast<HomeViewController>(topOfStack());
    return home && !home->presentedViewController() ? home : nullptr;
}

std::shared_ptr<LiveViewController> liveScreen() {
    auto top = topOfStack();
    auto live = top ? std::dynamic_pointer_cast<LiveViewController>(top->presentedViewController()) : nullptr;
    return live && live->viewIfLoaded() && live->viewIfLoaded()->window() ? live : nullptr;
}

std::string screenName() {
    if (liveScreen())
        return "broadcast";
    if (homeScreen())
        return "home";
    return loginScreen() ? "login" : "";
}

std::string promptShown() {
    return visiblePrompt(UIApplication::sharedApplication()->keyWindow());
}

bool overlayCovering() {
    return anyOverlay(UIApplication::sharedApplication()->keyWindow());
}

UIAlertViewPtr dialogShown() {
    auto window = UIApplication::sharedApplication()->keyWindow();
    if (!window)
        return nullptr;
    for (const auto& view : window->subviews())
        if (auto alert = std::dynamic_pointer_cast<UIAlertView>(view); alert && alert->isVisible())
            return alert;
    return nullptr;
}

int64_t sessionState(LiveViewController& live) {
    return int64_t(live.simpleSession()->rtmpSessionState());
}

std::vector<std::string> chatLines(LiveViewController& live) {
    std::vector<std::string> texts;
    for (const auto& line : live.barrageDataSource())
        if (isViewerLine(line))
            texts.push_back(line->attributedString()->string());
    return texts;
}

bool joinedChatRoom(LiveViewController& live) {
    const auto lines = live.barrageDataSource();
    return std::any_of(lines.begin(), lines.end(),
                       [](const auto& line) { return line->chatRoomType() == -100; });
}

size_t chatLinesDrawn(LiveViewController& live) {
    // The list redraws every half second: count only the lines it has taken in.
    const auto lines = live.barrageDataSource();
    const auto drawn = size_t(std::max<int64_t>(live.barrageCollectionView()->numberOfItemsInSection(0), 0));
    return size_t(std::count_if(lines.begin(), lines.begin() + std::min(drawn, lines.size()), isViewerLine));
}

uint64_t viewers(LiveViewController& live) {
    return live.controlPanel()->personsView()->personsAmount();
}

void tap(const UIViewPtr& view) {
    auto window = view ? view->window() : nullptr;
    if (!window)
        return;
    const CGRect frame = view->convertRectToView(view->bounds(), window);
    TouchSimulator::tapAt(window, CGPointMake(CGRectGetMidX(frame), CGRectGetMidY(frame)));
}

} // namespace walkthrough
