#include "AnalyticsDoubles.h"
#include "analytics/UACachedDB.h"
#include "analytics/UAEventMgr.h"
#include "analytics/UsageAnalyticsConfig.h"
#include "platform/foundation/Clock.h"
#include "tests/support/MainLoop.h"

#include <gtest/gtest.h>

using analyticstest::Seams;
using Config = UsageAnalyticsConfig;
using namespace std::chrono_literals;

namespace {

constexpr uint64_t kDay = 86400000;         // milliseconds
constexpr uint64_t kSomeDay = 19700 * kDay; // a midnight, UTC

class AggregatedCounters : public testing::Test {
protected:
    void SetUp() override {
        seams.settings->log = true;
        platform::Clock::install(clock);
        setUTC(kSomeDay + 3600000);
    }
    void TearDown() override {
        manager->saveCacheData();
        platform::Clock::install(nullptr);
    }

    void setUTC(uint64_t milliseconds) {
        clock->setWall(platform::WallTime(std::chrono::milliseconds(milliseconds)));
    }
    uint64_t utc() const {
        return static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(clock->wall().time_since_epoch()).count());
    }
    bool count(const std::vector<std::string>& path, int32_t value = 1,
               std::optional<std::string> label = {}) {
        return manager->aggregateEvent(path, value, utc(), label);
    }
    // Moves time on and lets the main loop's timers fire.
    void advance(platform::Duration by) {
        clock->advance(by);
        liveapp::test::pumpMainLoopOnce();
        liveapp::test::pumpMainLoopOnce();
    }
    int64_t rows(const char* table) { return UACachedDB::sharedInstance()->rowCountInTable(table); }

    Seams seams;
    std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
    std::shared_ptr<UAEventMgr> manager = UAEventMgr::sharedInstance();
};

} // namespace

TEST(AggregatedValue, KeepsTheEightMostRecentlyUsedLabelsInWindowsOf360SecondsOfTheUTCDay) {
    UAAggregatedValue value;
    for (const char* label : {"a", "b", "a", ""})
        value.addLabels(std::string(label));
    EXPECT_EQ(value.labels, (std::vector<std::string>{"b", "a"}));
    for (const char* label : {"1", "2", "3", "4", "5", "6", "7", "8", "9"})
        value.addLabels(std::string(label));
    EXPECT_EQ(value.labels, (std::vector<std::string>{"2", "3", "4", "5", "6", "7", "8", "9"}));
    value.setLabelsWithString("x!y!x");
    EXPECT_EQ(value.labels, (std::vector<std::string>{"y", "x"}));
    value.setLabelsWithString(std::nullopt);
    EXPECT_TRUE(value.labels.empty());

    // Windows are 360 seconds of the UTC day.
    EXPECT_EQ(UAEventMgr::twNumWithUTCMS(kSomeDay + 359999), 19700u * 240);
    EXPECT_EQ(UAEventMgr::twNumWithUTCMS(kSomeDay + 360000), 19700u * 240 + 1);
    EXPECT_EQ(UAEventMgr::twNumWithUTCMS(kSomeDay + kDay - 1), 19700u * 240 + 239);
}

TEST_F(AggregatedCounters, EventsFoldIntoOneCounterPerKey) {
    manager->loadCacheData();
    EXPECT_TRUE(count({"level", "", "win"}, 5, "x"));
    EXPECT_TRUE(count({"level", "win"}, -2, "y"));
    const auto& counter = *manager->agCachedDict().at("level!win");
    EXPECT_EQ(counter.count, 2);
    EXPECT_EQ(counter.valueSum, 3);
    EXPECT_EQ(counter.tsSum, static_cast<int64_t>(2 * utc()));
    EXPECT_EQ(counter.labels, (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(manager->agMemoryLatestTS(), static_cast<double>(utc()));
}

TEST_F(AggregatedCounters, BeyondTheQuotaEventsFallBackToACountedParentOrAreRefused) {
    manager->loadCacheData();
    ASSERT_TRUE(count({"p", "q"}));
    for (int i = 0; i < 511; ++i)
        ASSERT_TRUE(count({"k" + std::to_string(i)}));
    EXPECT_TRUE(count({"p", "q", "new"}));
    EXPECT_EQ(manager->agCachedDict().at("p!q")->count, 2);
    EXPECT_FALSE(manager->agCachedDict().count("p!q!new"));
    EXPECT_TRUE(count({"k3"})); // a counted key is always taken

    EXPECT_FALSE(count({"x", "y", "z"}));
    EXPECT_TRUE(seams.printed("UALOG: x!y!z ag event max quota."));
    EXPECT_TRUE(seams.printed("UALOG: WARNING x!y!z ag event overflow."));
    EXPECT_EQ(Config::integerWithKey("agOverflowCount"), 1);
    EXPECT_EQ(Config::unsignedWithKey("agOverflowFirstTS"), utc());
    EXPECT_FALSE(count({"solo"}));
    EXPECT_EQ(Config::integerWithKey("agOverflowCount"), 2);
}

TEST_F(AggregatedCounters, SnapshotsOnceAMinuteThenMovedAtTheWindowBoundary) {
    setUTC(kSomeDay + 160000); // 200 seconds before a boundary
    manager->loadCacheData();
    EXPECT_TRUE(manager->hasCacheTimer());
    EXPECT_EQ(manager->agCachedCounter(), 3);
    count({"a"});
    advance(60s);
    EXPECT_EQ(rows("agCachedTable"), 1);
    EXPECT_EQ(Config::doubleWithKey("agCachedLatestTS"), static_cast<double>(kSomeDay + 160000));
    EXPECT_EQ(Config::unsignedWithKey("agCachedTW"), 19700u * 240);
    count({"a"});
    advance(60s);
    advance(60s);
    EXPECT_FALSE(manager->hasCacheTimer()); // three ticks, then it stops
    EXPECT_EQ(rows("agTable"), 0);

    advance(20s); // the boundary
    EXPECT_EQ(rows("agTable"), 1);
    EXPECT_EQ(rows("agCachedTable"), 0);
    EXPECT_TRUE(manager->agCachedDict().empty());
    EXPECT_FALSE(Config::doubleWithKey("agCachedLatestTS"));
    EXPECT_TRUE(manager->hasCacheTimer());
    EXPECT_EQ(manager->agCachedCounter(), 5);
    platform::ValueDictionary container;
    manager->loadAGEvents(container);
    EXPECT_EQ(container.get("a")[0]["count"], platform::Value(2));
}

TEST_F(AggregatedCounters, NoSnapshotTimerInTheLast90SecondsOfAWindow) {
    setUTC(kSomeDay + 310000); // 50 seconds before a boundary
    manager->loadCacheData();
    EXPECT_FALSE(manager->hasCacheTimer());
}

TEST_F(AggregatedCounters, ASnapshotResumesInItsWindowAndMovesOnInALaterOne) {
    manager->loadCacheData();
    count({"a"}, 4);
    manager->saveCacheData();
    manager->loadCacheData(); // same window
    ASSERT_TRUE(manager->agCachedDict().count("a"));
    EXPECT_EQ(manager->agCachedDict().at("a")->valueSum, 4);
    manager->saveCacheData();

    setUTC(utc() + 400000);
    manager->loadCacheData();
    EXPECT_TRUE(manager->agCachedDict().empty());
    EXPECT_EQ(rows("agTable"), 1);
    EXPECT_EQ(manager->agMemoryLatestTS(), 0);
}

TEST_F(AggregatedCounters, OverflowIsReportedWithThePayloadAndTheManifestResetNextDay) {
    manager->loadCacheData();
    for (int i = 0; i < 512; ++i)
        count({"k" + std::to_string(i)});
    count({"refused"});
    uint64_t firstRefusal = utc();
    platform::ValueDictionary ag, meta;
    manager->loadAGEvents(ag);
    manager->loadVeMetaEvents(meta);
    EXPECT_EQ(meta.get("__ag_of"), platform::Value::array({platform::Value::dictionary(
                                       {{"value", 1}, {"ts", static_cast<int64_t>(firstRefusal)}})}));
    EXPECT_EQ(manager->agMFDict().size(), 512u); // same day: the manifest stays

    manager->clearEventsWithMeta(true);
    manager->saveCacheData();
    setUTC(utc() + kDay);
    manager->loadCacheData();
    EXPECT_TRUE(count({"k7"})); // still in the manifest
    manager->loadAGEvents(ag);
    EXPECT_EQ(manager->agMFDict().keys(), std::vector<std::string>{"k7"});
    EXPECT_TRUE(Config::configureWithKey("agOverflowFirstTS").isNil());
}
