// The hosts of the configuration: the resource file, and environment variables over it.

#include "app/core/AppConfiguration.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

class ConfigurationTest : public testing::Test {
protected:
    void TearDown() override {
        for (const char* variable :
             {AppConfiguration::kServiceURLVariable, AppConfiguration::kRTMPHostVariable,
              AppConfiguration::kProbeHost1Variable, AppConfiguration::kProbeHost2Variable})
            unsetenv(variable);
        platform::Paths::setResources({});
    }

    // Resources of this test's own, holding only a configuration file with these values.
    static void useConfiguration(platform::ValueDictionary values) {
        auto folder = platform::Paths::home() / "resources";
        std::filesystem::create_directories(folder);
        ASSERT_TRUE(platform::PropertyList::writeFile(platform::Value(std::move(values)),
                                                      folder / "AppConfiguration.plist"));
        platform::Paths::setResources(folder);
    }
};

TEST_F(ConfigurationTest, ShippedConfigurationPointsAtLoopback) {
    EXPECT_EQ(AppConfiguration::serviceURL(), "http://127.0.0.1:8080");
    EXPECT_EQ(AppConfiguration::rtmpHost(), "127.0.0.1:1935");
    EXPECT_FALSE(AppConfiguration::probeHost1().empty());
    EXPECT_FALSE(AppConfiguration::probeHost2().empty());
}

TEST_F(ConfigurationTest, EnvironmentWinsOverTheFile) {
    setenv(AppConfiguration::kServiceURLVariable, "http://127.0.0.1:9999", 1);
    setenv(AppConfiguration::kRTMPHostVariable, "127.0.0.1:2935", 1);
    setenv(AppConfiguration::kProbeHost1Variable, "probe-one.test", 1);
    setenv(AppConfiguration::kProbeHost2Variable, "probe-two.test", 1);
    EXPECT_EQ(AppConfiguration::serviceURL(), "http://127.0.0.1:9999");
    EXPECT_EQ(AppConfiguration::rtmpHost(), "127.0.0.1:2935");
    EXPECT_EQ(AppConfiguration::probeHost1(), "probe-one.test");
    EXPECT_EQ(AppConfiguration::probeHost2(), "probe-two.test");
}

TEST_F(ConfigurationTest, EmptyVariableLeavesTheFileValue) {
    setenv(AppConfiguration::kRTMPHostVariable, "", 1);
    EXPECT_EQ(AppConfiguration::rtmpHost(), "127.0.0.1:1935");
}

TEST_F(ConfigurationTest, ServiceURLGetsASchemeAndLosesTrailingSlashes) {
    setenv(AppConfiguration::kServiceURLVariable, "127.0.0.1:8081//", 1);
    EXPECT_EQ(AppConfiguration::serviceURL(), "http://127.0.0.1:8081");
}

TEST_F(ConfigurationTest, ValuesComeFromTheResourcesFile) {
    useConfiguration({{"ServiceURL", platform::Value("http://127.0.0.1:7000/")},
                      {"RTMPHost", platform::Value("127.0.0.1")}});
    EXPECT_EQ(AppConfiguration::serviceURL(), "http://127.0.0.1:7000");
    EXPECT_EQ(AppConfiguration::rtmpHost(), "127.0.0.1");
    EXPECT_EQ(AppConfiguration::probeHost1(), "");
}

TEST_F(ConfigurationTest, MissingFileGivesEmptyValues) {
    auto folder = platform::Paths::home() / "nothing";
    std::filesystem::create_directories(folder);
    platform::Paths::setResources(folder);
    EXPECT_EQ(AppConfiguration::serviceURL(), "");
    EXPECT_EQ(AppConfiguration::rtmpHost(), "");
}

} // namespace
