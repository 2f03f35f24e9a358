#pragma once
// WalkThrough: drives the running application as a person would, in real time: it taps and types through
// login, the home screen (title, category, resolution, the first-live check), the broadcast screen (go
// live, watch the chat and the viewer count, stop, back) and logout. Each step makes its moves (touches
// and keys) at a person's pace, then waits for the state it should reach, polling every 50 ms with a
// deadline of tens of seconds; a step's first touch waits until no overlay covers the screen. It writes a PNG
// of every screen it reaches ("NN-step.png") and a short log of the steps, prompts, broadcast states, chat
// lines and viewer counts to the folder and to stdout.
//
// The result goes to `finished`: 0 when every step was reached, 1 with the step that was not named in
// the log. Main thread only; start it once the application has launched.

#include "platform/runloop/Timer.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct WalkThroughOptions {
    std::filesystem::path screensFolder;
    std::string account;
    std::string password;
    std::string captcha;
    std::string mobile;
    std::string roomTitle{"周末户外直播·试播"};
    std::string category{"音乐"};
    std::string resolution{"高清"};
    std::chrono::seconds stepDeadline{45};
};

// The options from the command line ("--walk-through <folder>", "--account", "--password", "--captcha",
// "--mobile", each followed by its value), each missing value from the environment (LIVEAPP_ACCOUNT,
// LIVEAPP_PASSWORD, LIVEAPP_CAPTCHA, LIVEAPP_MOBILE). Nothing without "--walk-through"; `problem` says
// what is wrong with the arguments when they cannot be used.
std::optional<WalkThroughOptions> walkThroughOptions(const std::vector<std::string>& arguments,
                                                     std::string* problem);

// One touch or one key; each finds what it touches when it is made.
using WalkMove = std::function<void()>;

struct WalkStep {
    std::string name;                             // the screen file's name: "03-home.png"
    std::string waitingFor;                       // what `reached` means, for the failure line
    std::function<std::vector<WalkMove>()> moves; // made when the step begins; may be empty
    std::function<bool()> reached;
};

class WalkThrough : public std::enable_shared_from_this<WalkThrough> {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    using Finished = std::function<void(int status)>;

    static std::shared_ptr<WalkThrough> create(WalkThroughOptions options, Finished finished);
    WalkThrough(PrivateTag, WalkThroughOptions options, Finished finished);
    ~WalkThrough();

    void start();
    const WalkThroughOptions& options() const { return m_options; }
    void log(const std::string& line);

private:
    enum class Phase { WaitingToAct, Moving, WaitingForState };

    void tick();
    void act(const WalkStep& step);
    void move();
    void check(const WalkStep& step);
    void observe();
    void finish(int status);
    double secondsSince(std::chrono::steady_clock::time_point then) const;

    WalkThroughOptions m_options;
    Finished m_finished;
    std::vector<WalkStep> m_steps;
    size_t m_index{0};
    Phase m_phase{Phase::WaitingToAct};
    std::chrono::steady_clock::time_point m_began;
    std::chrono::steady_clock::time_point m_stepBegan;
    std::vector<WalkMove> m_moves;
    size_t m_nextMove{0};
    std::chrono::steady_clock::time_point m_nextMoveAt;
    std::shared_ptr<platform::Timer> m_timer;
    std::FILE* m_logFile{nullptr};
    // What the log has said, so it says each change once.
    std::string m_lastPrompt;
    std::string m_lastScreen;
    int64_t m_lastState{-1};
    size_t m_chatLinesLogged{0};
    uint64_t m_lastViewers{0};
};

// The steps through the application's screens, in order.
std::vector<WalkStep> walkThroughSteps(WalkThrough& walk);
