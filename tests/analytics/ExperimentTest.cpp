#include "AnalyticsDoubles.h"
#include "analytics/UAHelper.h"
#include "analytics/UsageAnalyticsConfig.h"

#include <gtest/gtest.h>

using analyticstest::Seams;
using platform::Value;
using Config = UsageAnalyticsConfig;

namespace {

// A signature whose probability at byte 6 is 0.7 (0xB3333 / 2^20) and at byte 12 is 0.25.
void storeSignature() {
    std::vector<uint8_t> signature(32, 0);
    signature[6] = 0xb3;
    signature[7] = 0x33;
    signature[8] = 0x30;
    signature[12] = 0x40;
    Config::setConfigure(Value(platform::Data(std::move(signature))), "uaSignature");
}

} // namespace

TEST(Experiments, ProbabilitiesComeFromTheSignature) {
    EXPECT_EQ(UAHelper::calcProbWithSigIndex(6), 0.0);
    storeSignature();
    EXPECT_NEAR(UAHelper::calcProbWithSigIndex(6), 0.7, 1e-6);
    EXPECT_EQ(UAHelper::calcProbWithSigIndex(12), 0.25);
    EXPECT_EQ(UAHelper::calcProbWithSigIndex(28), 0.0); // five bytes would run past the end
}

TEST(Experiments, WeightedGroupWithTheTestAppliedStoresThePolicy) {
    storeSignature();
    UAHelper::configureExperimentWithString("SIG7|0.5,0.5|SIG13|1|RPT|6,8");
    EXPECT_EQ(Config::integerWithKey("uaExperimentRPT"), 8);
    EXPECT_EQ(Config::configureWithKey("uaExperimentGroupInfo"), Value::dictionary({{"RPT", 2}}));
}

TEST(Experiments, MalformedDescriptionsAreLoggedAndOnlyRPTExperimentsTouchThePolicy) {
    Seams seams;
    seams.settings->log = true;
    storeSignature();
    Config::setConfigure(Value(6), "uaExperimentRPT");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"SIG7|0.5|SIG13", "UALOG: ERROR: experiment params invalid."},
        {"SIG7||SIG13|1|RPT|6", "UALOG: ERROR: experiment params invalid."},
        {"SIG9|0.5,0.5|SIG13|1|DOM|6,8", "UALOG: ERROR: unknow experiment group key"},
        {"SIG7|0.5,0.5|SIG13|1|DOM|6,8", "UALOG: ERROR: unknow experiment test key"},
    };
    for (const auto& [text, line] : cases) {
        seams.clearLines();
        UAHelper::configureExperimentWithString(text);
        EXPECT_EQ(seams.lines(), std::vector<std::string>{line}) << text;
    }
    // Only an "RPT" experiment touches the stored policy.
    EXPECT_EQ(Config::integerWithKey("uaExperimentRPT"), 6);
    UAHelper::configureExperimentWithString("SIG7|0.5,0.5|SIG13|0.1|RPT|6,8"); // 0.25 is not below 0.1
    EXPECT_TRUE(Config::configureWithKey("uaExperimentRPT").isNil());

    // A fixed group beyond the values removes the policy silently.
    seams.clearLines();
    Config::setConfigure(Value(6), "uaExperimentRPT");
    Config::setConfigure(Value::dictionary({{"RPT", 1}, {"OTHER", 3}}), "uaExperimentGroupInfo");
    UAHelper::configureExperimentWithString("FIXED|3|SIG13|0|RPT|6,8");
    EXPECT_TRUE(Config::configureWithKey("uaExperimentRPT").isNil());
    EXPECT_EQ(Config::configureWithKey("uaExperimentGroupInfo"), Value::dictionary({{"OTHER", 3}}));
    EXPECT_TRUE(seams.lines().empty());
}
