#pragma once
// The started library with its own parts (envelope builder, report rules, upload worker, imprint,
// crash capture) posting to two collectors on loopback, the primary and the fallback, on a manual
// clock. The machine has one Wi-Fi interface, so the report rules see a network.

#include "PipelineFixture.h"
#include "analytics/UAEndpoints.h"
#include "analytics/UsageAnalyticsJob.h"
#include "analytics/UsageAnalyticsUtility.h"
#include "platform/net/NetworkInterfaces.h"
#include "tests/peers/AnalyticsCollector.h"

#include <cstdlib>
#include <net/if.h>

namespace analyticstest {

class LibraryTest : public PipelineTest {
protected:
    LibraryTest()
        : PipelineTest(false) {}

    void SetUp() override {
        PipelineTest::SetUp();
        ::setenv(UAEndpoints::kCollectorURLVariable, primary.baseURL().c_str(), 1);
        ::setenv(UAEndpoints::kCollectorFallbackURLVariable, fallback.baseURL().c_str(), 1);
        platform::NetworkInterfaces::installListing([] {
            return std::optional(std::vector<platform::InterfaceAddress>{*platform::InterfaceAddress::make(
                "wlan0", "192.168.1.20", "255.255.255.0", IFF_UP | IFF_RUNNING)});
        });
    }
    void TearDown() override {
        finishUploads();
        PipelineTest::TearDown();
        UsageAnalyticsJob::setRandomSource({});
        platform::NetworkInterfaces::installListing({});
        ::unsetenv(UAEndpoints::kCollectorURLVariable);
        ::unsetenv(UAEndpoints::kCollectorFallbackURLVariable);
    }

    // Every upload queued so far has ended.
    void finishUploads() { internal()->sendLogQueue()->waitUntilAllOperationsAreFinished(); }
    std::vector<std::string> envelopeFiles() const { return UsageAnalyticsUtility::envelopeFiles(); }
    std::shared_ptr<UsageAnalyticsJob> job() const { return UsageAnalyticsJob::sharedInstance(); }

    liveapp::test::AnalyticsCollector primary;
    liveapp::test::AnalyticsCollector fallback;
};

} // namespace analyticstest
