#pragma once
// A started analytics library on a manual clock: the report, envelope and crash links are doubles, the
// settings are the real ones with logging on, and drain() lets the main thread handle everything sent
// so far.

#include "AnalyticsDoubles.h"
#include "analytics/UANEkv.h"
#include "analytics/UANError.h"
#include "analytics/UANEvent.h"
#include "analytics/UANTerminate.h"
#include "analytics/UsageAnalytics.h"
#include "analytics/UsageAnalyticsApp.h"
#include "analytics/UsageAnalyticsConfig.h"
#include "analytics/UsageAnalyticsInternal.h"
#include "analytics/UsageAnalyticsSession.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/UIApplication.h"
#include "tests/support/MainLoop.h"

#include <gtest/gtest.h>

namespace analyticstest {

inline constexpr const char* kAppKey = "9d4e2b7a1c3f5e8d0a6b4c2e";

class PipelineTest : public testing::Test {
protected:
    PipelineTest() = default;
    // With `doubleParts` false the library's own envelope builder, report rules, upload worker, imprint
    // and crash capture answer instead of the doubles.
    explicit PipelineTest(bool doubleParts)
        : seams(false, doubleParts) {}

    void SetUp() override {
        platform::Clock::install(clock);
        UsageAnalyticsApp::setLogEnabled(true);
    }
    void TearDown() override {
        drain();
        internal()->sendLogQueue()->waitUntilAllOperationsAreFinished();
        platform::Clock::install(nullptr);
    }

    // Starts as the application does, and lets the first analytics session begin.
    void start(const std::string& key = kAppKey) {
        UsageAnalytics::setCrashReportEnabled(true);
        UsageAnalytics::setAppVersion("1.0");
        auto config = UAAnalyticsConfig::sharedInstance();
        config->setAppKey(key);
        config->setEPolicy(0);
        UsageAnalytics::startWithConfigure(config);
        drain();
    }

    // Everything queued for the main thread so far has run when this returns, and what that queued in
    // turn (a start queues the session's begin, which queues its activation).
    void drain() {
        for (int round = 0; round < 3; ++round) {
            bool done = false;
            platform::DispatchQueue::main()->async([&] { done = true; });
            ASSERT_TRUE(liveapp::test::pumpMainLoopUntil([&] { return done; }));
        }
    }

    void advance(double seconds) {
        clock->advance(
            std::chrono::duration_cast<platform::Duration>(std::chrono::duration<double>(seconds)));
    }

    std::shared_ptr<UsageAnalyticsInternal> internal() const {
        return UsageAnalyticsInternal::sharedInstance();
    }
    std::shared_ptr<UsageAnalyticsSession> session() const { return UsageAnalyticsSession::sharedInstance(); }
    std::shared_ptr<UsageAnalyticsApp> app() const { return UsageAnalyticsApp::sharedInstance(); }

    std::shared_ptr<UANEvent> eventAt(size_t i) const {
        return std::dynamic_pointer_cast<UANEvent>(internal()->events.at(i));
    }
    std::shared_ptr<UANEkv> ekvAt(size_t i) const {
        return std::dynamic_pointer_cast<UANEkv>(internal()->ekv.at(i));
    }
    template <class T> std::shared_ptr<T> last(const UsageAnalyticsInternal::Records& records) const {
        return records.empty() ? nullptr : std::dynamic_pointer_cast<T>(records.back());
    }

    Seams seams{false};
    std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
};

} // namespace analyticstest
