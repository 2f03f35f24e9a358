// Reads any bytes as what the analytics library takes from outside or from storage (the first byte
// chooses): a collector's reply, a stored imprint or a stored identifier tracking. Beyond not
// crashing, it holds the library to its promises: an imprint it stores always carries a checksum that
// holds, and what it reads never raises.
#include "analytics/UALinks.h"
#include "analytics/UANLog.h"
#include "analytics/UAPayloadBuild.h"
#include "analytics/UATRecordIO.h"
#include "analytics/UsageAnalyticsConfig.h"
#include "platform/foundation/Paths.h"

#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_analytics_replies: %s\n", what);
        std::abort();
    }
}

void storedImprintHolds() {
    auto stored = UsageAnalyticsConfig::dataWithKey("uaImprint");
    if (!stored)
        return;
    auto imprint = uadetail::recordFromData<UATImprint>(*stored);
    require(UAPayloadBuild::validateImprintChecksum(imprint), "a stored imprint's checksum does not hold");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/fuzz-analytics-XXXXXX";
    if (::mkdtemp(folder))
        platform::Paths::setHome(folder);
    uadetail::setLogSink([](std::string_view) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    platform::Data bytes(data + 1, size - 1);
    auto build = UAPayloadBuild::sharedInstance();
    switch (data[0] % 3) {
    case 0:
        UsageAnalyticsConfig::removeConfigureWithKey("uaImprint");
        build->verifyResponseData(bytes);
        storedImprintHolds();
        break;
    case 1:
        UsageAnalyticsConfig::setConfigure(platform::Value(bytes), "uaImprint");
        (void)UAPayloadBuild::imprintPropertyValueWithKey("defcon");
        (void)UAPayloadBuild::validateImprintChecksum(uadetail::recordFromData<UATImprint>(bytes));
        break;
    default:
        UsageAnalyticsConfig::setConfigure(platform::Value(bytes), "uaIDTracking");
        build->buildIdTracking();
        break;
    }
    return 0;
}
