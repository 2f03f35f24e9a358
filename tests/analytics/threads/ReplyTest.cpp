// Replies are applied on the upload queue (the imprint, the back-off level, the identifier tracking)
// while the main thread builds payloads that read them; built under ThreadSanitizer, any unguarded
// access is reported.
#include "../AnalyticsDoubles.h"
#include "analytics/UAPayloadBuild.h"
#include "analytics/UATRecordIO.h"
#include "analytics/UATResponse.h"
#include "platform/dispatch/OperationQueue.h"

#include <atomic>
#include <gtest/gtest.h>

TEST(AnalyticsThreads, RepliesAreAppliedWhilePayloadsAreBuilt) {
    analyticstest::Seams seams(false);
    auto build = UAPayloadBuild::sharedInstance();
    UATImprint::Properties properties{{"defcon", std::make_shared<UATImprintValue>("0", 1, "g")},
                                      {"report_interval", std::make_shared<UATImprintValue>("120", 1, "g")}};
    auto imprint = std::make_shared<UATImprint>(properties, 1, "");
    imprint->setChecksum(UAPayloadBuild::generateImprintChecksum(*imprint));
    auto reply = uadetail::dataFromRecord(UATResponse(1, "ok", imprint));

    auto queue = platform::OperationQueue::create();
    std::atomic<int> applied{0};
    queue->addOperationWithBlock([&] {
        for (int i = 0; i < 50; ++i)
            applied += build->verifyResponseData(reply) ? 1 : 0;
    });
    int built = 0;
    while (queue->operationCount() > 0 || built < 20) {
        built += build->payloadData() ? 1 : 0;
        build->buildIdTracking();
    }
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(applied.load(), 50);
    EXPECT_EQ(UAPayloadBuild::imprintPropertyValueWithKey("report_interval"), "120");
}
