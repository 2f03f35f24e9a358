#include "app/walkthrough/WalkThrough.h"

#include "app/walkthrough/ScreenReading.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIWindow.h"

#include <algorithm>
#include <cstdlib>
#include <fmt/format.h>

using namespace platform;

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(50);
// A touch or a key about every fifth of a second, as a person types on a phone.
constexpr auto kMovePace = std::chrono::milliseconds(180);

} // namespace

std::optional<WalkThroughOptions> walkThroughOptions(const std::vector<std::string>& arguments,
                                                     std::string* problem) {
    WalkThroughOptions options;
    bool asked = false;
    const std::pair<const char*, std::string*> named[] = {
        {"--account", &options.account},
        {"--password", &options.password},
        {"--captcha", &options.captcha},
        {"--mobile", &options.mobile},
    };
    for (size_t index = 0; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        const bool hasValue = index + 1 < arguments.size();
        if (argument == "--walk-through" && hasValue) {
            asked = true;
            options.screensFolder = arguments[++index];
            continue;
        }
        auto match =
            std::find_if(std::begin(named), std::end(named), [&](auto& n) { return argument == n.first; });
        if (match == std::end(named) || !hasValue) {
            *problem = "unknown or incomplete argument: " + argument;
            return std::nullopt;
        }
        *match->second = arguments[++index];
    }
    if (!asked)
        return std::nullopt;
    const std::pair<std::string*, const char*> fromEnvironment[] = {
        {&options.account, "LIVEAPP_ACCOUNT"},
        {&options.password, "LIVEAPP_PASSWORD"},
        {&options.captcha, "LIVEAPP_CAPTCHA"},
        {&options.mobile, "LIVEAPP_MOBILE"},
    };
    for (const auto& [value, variable] : fromEnvironment) {
        if (value->empty())
            if (const char* set = std::getenv(variable))
                *value = set;
        if (value->empty()) {
            *problem = fmt::format("the walk-through needs {} (or its option)", variable);
            return std::nullopt;
        }
    }
    return options;
}

std::shared_ptr<WalkThrough> WalkThrough::create(WalkThroughOptions options, Finished finished) {
    return std::make_shared<WalkThrough>(PrivateTag{}, std::move(options), std::move(finished));
}

WalkThrough::WalkThrough(PrivateTag, WalkThroughOptions options, Finished finished)
    : m_options(std::move(options))
    , m_finished(std::move(finished)) {}

WalkThrough::~WalkThrough() {
    NotificationCenter::defaultCenter().removeObserver(this);
    if (m_timer)
        m_timer->invalidate();
    if (m_logFile)
        std::fclose(m_logFile);
}

void WalkThrough::start() {
    std::error_code error;
    std::filesystem::create_directories(m_options.screensFolder, error);
    m_logFile = std::fopen((m_options.screensFolder / "walk-through.log").c_str(), "w");
    m_steps = walkThroughSteps(*this);
    // The kernel's memory pressure can come from any process on the machine, and a warning ends
    // publishing as the user's stop would: the log says so where it happens.
    NotificationCenter::defaultCenter().addObserver(shared_from_this(),
                                                    UIApplicationDidReceiveMemoryWarningNotification, nullptr,
                                                    [weak = weak_from_this()](const Notification&) {
                                                        if (auto walk = weak.lock())
                                                            walk->log("memory warning");
                                                    });
    m_began = m_stepBegan = std::chrono::steady_clock::now();
    log(fmt::format("walk-through: {} steps, screens in {}", m_steps.size(),
                    m_options.screensFolder.string()));
    m_timer = Timer::scheduledTimerWithTimeInterval(kPollInterval, true, [weak = weak_from_this()](Timer&) {
        if (auto walk = weak.lock())
            walk->tick();
    });
    RunLoop::main()->addTimer(m_timer, RunLoop::commonModes);
}

void WalkThrough::log(const std::string& line) {
    const std::string stamped = fmt::format("[{:6.2f}] {}\n", secondsSince(m_began), line);
    std::fputs(stamped.c_str(), stdout);
    std::fflush(stdout);
    if (m_logFile) {
        std::fputs(stamped.c_str(), m_logFile);
        std::fflush(m_logFile);
    }
}

double WalkThrough::secondsSince(std::chrono::steady_clock::time_point then) const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - then).count();
}

void WalkThrough::tick() {
    if (m_index >= m_steps.size())
        return;
    observe();
    const WalkStep& step = m_steps[m_index];
    switch (m_phase) {
    case Phase::WaitingToAct:
        return act(step);
    case Phase::Moving:
        return move();
    case Phase::WaitingForState:
        return check(step);
    }
}

void WalkThrough::act(const WalkStep& step) {
    m_moves = step.moves ? step.moves() : std::vector<WalkMove>();
    // A person waits for a prompt to fade before touching again: the overlay takes the touches.
    if (!m_moves.empty() && walkthrough::overlayCovering()) {
        if (secondsSince(m_stepBegan) < m_options.stepDeadline.count())
            return;
        log(fmt::format("FAILED at step {}: an overlay still covers the screen", step.name));
        return finish(1);
    }
    m_nextMove = 0;
    m_nextMoveAt = std::chrono::steady_clock::now();
    m_phase = Phase::Moving;
    move();
}

void WalkThrough::move() {
    if (m_nextMove < m_moves.size()) {
        if (std::chrono::steady_clock::now() < m_nextMoveAt)
            return;
        m_moves[m_nextMove++]();
        m_nextMoveAt = std::chrono::steady_clock::now() + kMovePace;
        return;
    }
    m_phase = Phase::WaitingForState;
    m_stepBegan = std::chrono::steady_clock::now();
}

void WalkThrough::check(const WalkStep& step) {
    if (step.reached()) {
        if (auto window = UIApplication::sharedApplication()->keyWindow())
            window->writePNG(m_options.screensFolder / (step.name + ".png"));
        log(fmt::format("step {} reached after {:.2f} s", step.name, secondsSince(m_stepBegan)));
        ++m_index;
        m_phase = Phase::WaitingToAct;
        m_stepBegan = std::chrono::steady_clock::now();
        if (m_index == m_steps.size()) {
            log(fmt::format("walk-through finished: {} steps in {:.1f} s", m_steps.size(),
                            secondsSince(m_began)));
            finish(0);
        }
        return;
    }
    if (secondsSince(m_stepBegan) > m_options.stepDeadline.count()) {
        if (auto window = UIApplication::sharedApplication()->keyWindow())
            window->writePNG(m_options.screensFolder / (step.name + "-failed.png"));
        log(fmt::format("FAILED at step {}: no {} within {} s", step.name, step.waitingFor,
                        m_options.stepDeadline.count()));
        finish(1);
    }
}

void WalkThrough::observe() {
    const std::string screen = walkthrough::screenName();
    if (screen != m_lastScreen)
        log("screen: " + (m_lastScreen = screen));
    const std::string prompt = walkthrough::promptShown();
    if (prompt != m_lastPrompt && !prompt.empty())
        log("prompt: " + prompt);
    m_lastPrompt = prompt;
    auto live = walkthrough::liveScreen();
    if (!live)
        return;
    const int64_t state = walkthrough::sessionState(*live);
    if (state != m_lastState)
        log(fmt::format("broadcast state: {}", m_lastState = state));
    const auto lines = walkthrough::chatLines(*live);
    if (lines.size() < m_chatLinesLogged)
        m_chatLinesLogged = 0;
    for (size_t index = m_chatLinesLogged; index < lines.size(); ++index)
        log("chat: " + lines[index]);
    m_chatLinesLogged = lines.size();
    const uint64_t viewers = walkthrough::viewers(*live);
    if (viewers != m_lastViewers)
        log(fmt::format("viewers: {}", m_lastViewers = viewers));
}

void WalkThrough::finish(int status) {
    m_index = m_steps.size();
    if (m_timer)
        m_timer->invalidate();
    if (m_finished)
        m_finished(status);
}
