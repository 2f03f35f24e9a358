#pragma once
// A controller that writes its life-cycle callbacks into a shared log as "<name>.<callback>", so tests
// can check the order of callbacks across several controllers.

#include "platform/ui/UIViewController.h"

#include <memory>
#include <string>
#include <vector>

namespace liveapp::test {

using CallbackLog = std::shared_ptr<std::vector<std::string>>;

inline CallbackLog makeLog() {
    return std::make_shared<std::vector<std::string>>();
}

class RecordingController : public platform::UIViewController {
public:
    RecordingController(std::string name, CallbackLog log)
        : m_name(std::move(name))
        , m_log(std::move(log)) {}
    void loadView() override {
        record("loadView");
        UIViewController::loadView();
    }
    void viewDidLoad() override { record("viewDidLoad"); }
    void viewWillAppear(bool) override { record("viewWillAppear"); }
    void viewDidAppear(bool) override { record("viewDidAppear"); }
    void viewWillDisappear(bool) override { record("viewWillDisappear"); }
    void viewDidDisappear(bool) override { record("viewDidDisappear"); }
    void didReceiveMemoryWarning() override { record("didReceiveMemoryWarning"); }
    void viewWillLayoutSubviews() override { record("viewWillLayoutSubviews"); }
    void viewDidLayoutSubviews() override { record("viewDidLayoutSubviews"); }

    // Only the appearance callbacks, for order checks.
    static std::vector<std::string> appearanceLog(const CallbackLog& log) {
        std::vector<std::string> out;
        for (const auto& entry : *log) {
            if (entry.find("Appear") != std::string::npos || entry.find("Disappear") != std::string::npos)
                out.push_back(entry);
        }
        return out;
    }

private:
    void record(const std::string& what) { m_log->push_back(m_name + "." + what); }

    std::string m_name;
    CallbackLog m_log;
};

inline std::shared_ptr<RecordingController> recording(std::string name, const CallbackLog& log) {
    return std::make_shared<RecordingController>(std::move(name), log);
}

} // namespace liveapp::test
