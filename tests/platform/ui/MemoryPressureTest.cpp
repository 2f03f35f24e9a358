#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/MemoryPressureSource.h"
#include "platform/ui/UIApplication.h"
#include "tests/support/UIFixture.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace platform;
namespace fs = std::filesystem;

namespace {

// Reports when the test says so, from a thread of its own as the kernel's source does.
class FedMemoryPressure final : public MemoryPressureSource {
public:
    void start(Report report) override {
        std::lock_guard lock(m_mutex);
        m_report = std::move(report);
        ++starts;
    }
    void stop() override {
        std::lock_guard lock(m_mutex);
        m_report = nullptr;
        ++stops;
    }
    void feed() {
        std::thread([this] {
            std::lock_guard lock(m_mutex);
            if (m_report)
                m_report();
        }).join();
    }
    int starts{0};
    int stops{0};

private:
    std::mutex m_mutex;
    Report m_report;
};

class MemoryPressureTest : public liveapp::test::UIFixture {
protected:
    void TearDown() override {
        MemoryPressureSource::install(MemoryPressureSource::silent());
        UIFixture::TearDown();
    }
};

TEST_F(MemoryPressureTest, ThePressureReportedWhileTheApplicationRunsArrivesAsAMemoryWarningOnMain) {
    auto source = std::make_shared<FedMemoryPressure>();
    MemoryPressureSource::install(source);
    source->feed(); // before the application runs: nobody listens
    std::vector<bool> warningsOnMain;
    auto observer = NotificationCenter::defaultCenter().addObserverForName(
        UIApplicationDidReceiveMemoryWarningNotification, nullptr,
        [&](const Notification&) { warningsOnMain.push_back(RunLoop::isMainThread()); });
    auto app = UIApplication::sharedApplication();
    DispatchQueue::main()->async([&] {
        EXPECT_EQ(source->starts, 1);
        source->feed();
        DispatchQueue::main()->async([&] { app->simulateTerminate(); });
    });
    EXPECT_EQ(UIApplicationMain(std::make_shared<UIApplicationDelegate>()), 0);
    EXPECT_EQ(warningsOnMain, std::vector<bool>{true});
    EXPECT_EQ(source->stops, 1);
    source->feed(); // after: stopped
    pump();
    EXPECT_EQ(warningsOnMain.size(), 1u);
    NotificationCenter::defaultCenter().removeObserver(observer.get());
}

class KernelMemoryPressureTest : public testing::Test {
protected:
    KernelMemoryPressureTest() {
        files.pressure = (root / "pressure").string();
        files.cgroup = (root / "cgroup").string();
        files.mountInfo = (root / "mountinfo").string();
    }
    void write(const fs::path& path, const std::string& text) {
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text;
    }
    std::string read(const fs::path& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    const fs::path root{fs::path(std::getenv("LIVEAPP_HOME")) / "kernel"};
    KernelMemoryPressure::Files files;
};

TEST_F(KernelMemoryPressureTest, WatchesTheStallTriggerFirstThenTheCgroupsEventsElseNothing) {
    using Mechanism = KernelMemoryPressure::Mechanism;
    const std::string mountInfo = "24 1 0:22 / /proc rw,nosuid - proc proc rw\n"
                                  "35 25 0:30 / " +
                                  (root / "cg").string() + " rw,nosuid - cgroup2 cgroup2 rw\n";
    struct Case {
        const char* name;
        bool pressureFile;
        std::string cgroup;
        Mechanism expected;
        std::string eventsPath;
    };
    const std::vector<Case> cases{
        {"stall trigger", true, "0::/app.slice\n", Mechanism::PressureStall, ""},
        {"cgroup events", false, "1:name=systemd:/\n0::/app.slice\n", Mechanism::CgroupEvents,
         (root / "cg/app.slice/memory.events").string()},
        {"root cgroup", false, "0::/\n", Mechanism::None, ""},
        {"no cgroup v2", false, "4:memory:/app\n", Mechanism::None, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root);
        write(root / "mountinfo", mountInfo);
        write(root / "cgroup", c.cgroup);
        write(root / "cg/app.slice/memory.events", "low 0\nhigh 0\nmax 0\noom 0\noom_kill 0\n");
        if (c.pressureFile)
            write(root / "pressure", "");
        KernelMemoryPressure source(files);
        source.start([] { ADD_FAILURE() << "no pressure was fed"; });
        EXPECT_EQ(source.mechanism(), c.expected);
        if (c.expected == Mechanism::CgroupEvents) {
            EXPECT_EQ(source.cgroupEventsPath(), c.eventsPath);
        }
        source.stop();
        source.stop();
        if (c.pressureFile) { // the trigger as the kernel reads it, with its terminating NUL
            EXPECT_EQ(read(root / "pressure"), std::string("some 150000 1000000", 20));
        }
    }
}

TEST_F(KernelMemoryPressureTest, OnlyTheHighAndMaxCountsMeasureAShortage) {
    EXPECT_EQ(KernelMemoryPressure::shortageCount("low 7\nhigh 3\nmax 2\noom 9\noom_kill 1\n"), 5u);
    EXPECT_EQ(KernelMemoryPressure::shortageCount("low 7\noom 9\n"), 0u);
    EXPECT_EQ(KernelMemoryPressure::shortageCount(""), 0u);
}

TEST_F(KernelMemoryPressureTest, WhereNothingCanBeWatchedItSaysSoOnceAndReportsNothing) {
    testing::internal::CaptureStderr();
    KernelMemoryPressure source(files); // none of its files exist
    for (int i = 0; i < 2; ++i) {
        source.start([] { ADD_FAILURE() << "nothing to report from"; });
        EXPECT_EQ(source.mechanism(), KernelMemoryPressure::Mechanism::None);
    }
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("no memory warnings"), std::string::npos) << log;
    EXPECT_EQ(log.find("no memory warnings"), log.rfind("no memory warnings")) << "logged once";
}

TEST_F(KernelMemoryPressureTest, TheMachinesOwnStallTriggerIsAcceptedAndStopsCleanly) {
    KernelMemoryPressure source;
    if (::access("/proc/pressure/memory", W_OK) != 0)
        GTEST_SKIP() << "this machine offers no memory pressure trigger";
    source.start([] {});
    EXPECT_EQ(source.mechanism(), KernelMemoryPressure::Mechanism::PressureStall)
        << "a trigger the kernel takes, privileged or not";
    source.stop();
}

} // namespace
