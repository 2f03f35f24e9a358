// The upload queue's thread reads the settings and session flags (and begins background tasks) while
// the main thread changes them; built under ThreadSanitizer, any unguarded access is reported.
#include "../AnalyticsDoubles.h"
#include "analytics/UsageAnalytics.h"
#include "analytics/UsageAnalyticsApp.h"
#include "analytics/UsageAnalyticsSession.h"
#include "platform/dispatch/OperationQueue.h"
#include "tests/support/MainLoop.h"

#include <atomic>
#include <gtest/gtest.h>

TEST(AnalyticsThreads, TheUploadQueueReadsWhatTheMainThreadChanges) {
    analyticstest::Seams seams(false); // the real settings; no envelopes or uploads
    auto app = UsageAnalyticsApp::sharedInstance();
    auto session = UsageAnalyticsSession::sharedInstance();
    auto queue = platform::OperationQueue::create();
    queue->setMaxConcurrentOperationCount(1);
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    queue->addOperationWithBlock([&] {
        while (!stop) {
            if (app->backgroundTaskEnabled() && !session->appInBackGround())
                app->activeBackgroundTask();
            if (!app->appid().empty() && app->logSendInterval() >= 90)
                ++rounds;
        }
    });
    for (int i = 0; i < 50 || rounds < 100; ++i) {
        UsageAnalytics::setBackgroundTaskEnabled(i % 2 == 0);
        UsageAnalytics::setLogEnabled(i % 3 == 0);
        UsageAnalytics::setLogSendInterval(90 + i % 50);
        app->setAppid("key" + std::to_string(i));
        i % 2 ? session->appActivate(nullptr) : session->appInactivate(nullptr);
        liveapp::test::pumpMainLoopOnce();
    }
    stop = true;
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_GE(rounds.load(), 100);
}
