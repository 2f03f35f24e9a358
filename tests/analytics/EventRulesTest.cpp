#include "PipelineFixture.h"
#include "analytics/UAEventMgr.h"
#include "analytics/UsageAnalyticsEvent.h"

using analyticstest::PipelineTest;
using platform::Value;
using platform::ValueDictionary;

namespace {

ValueDictionary numbered(int count, const char* prefix = "k") {
    ValueDictionary attributes;
    for (int i = 0; i < count; ++i)
        attributes.set(prefix + std::to_string(i), "v" + std::to_string(i));
    return attributes;
}

} // namespace

TEST_F(PipelineTest, EventIdsAreCheckedWithTheirWarningAndDurationsMustStayBelowTwoHours) {
    start();
    const std::string warning128 =
        "UALOG: (Warning) event_id (" + std::string(129, 'x') + ") max bytes length > 128";
    UsageAnalytics::event(std::string(128, 'x'));
    UsageAnalytics::event(std::string(129, 'x'));
    UsageAnalytics::event("   ");
    UsageAnalytics::event("");
    drain();
    ASSERT_EQ(internal()->events.size(), 1u);
    EXPECT_TRUE(seams.printed(warning128));
    EXPECT_TRUE(seams.printed("UALOG: (Warning) event_id (   ) max bytes length > 128"));
    EXPECT_FALSE(seams.printed("UALOG: (Warning) event_id () max bytes length > 128"));

    // Durations must stay below two hours.
    internal()->removeCacheData();
    UsageAnalytics::eventDurations("plain", 7200000);
    UsageAnalytics::eventDurations("plain", 7199999);
    UsageAnalytics::eventLabelDurations("labelled", "l", 0);
    UsageAnalytics::eventLabelDurations("labelled", "l", 7200000);
    UsageAnalytics::eventLabelDurations("labelled", "l", 1);
    UsageAnalytics::eventAttributesDurations("attributed", {{"a", "b"}}, 7199999);
    UsageAnalytics::eventLabelAcc("counted", "", 3);
    drain();
    ASSERT_EQ(internal()->events.size(), 3u);
    auto plain = eventAt(0);
    EXPECT_EQ(plain->du, 7199999);
    EXPECT_EQ(plain->attributes().get("du"), Value(7199999));
    EXPECT_EQ(eventAt(1)->label, "l");
    EXPECT_FALSE(eventAt(2)->label);
    EXPECT_EQ(eventAt(2)->acc, 3);
    ASSERT_EQ(internal()->ekv.size(), 1u);
    EXPECT_EQ(ekvAt(0)->du, 7199999);
}

TEST_F(PipelineTest, AttributeEventsKeepTenAttributesAndTheCounter) {
    start();
    UsageAnalytics::event("twelve", numbered(12));
    UsageAnalytics::eventAttributesCounter("counted", numbered(12), 7);
    UsageAnalytics::event("reserved", {{"ts", "1"}, {"a", "b"}});
    UsageAnalytics::event("mixed", {{"n", 5}, {"t", "text"}, {std::string(130, 'k'), std::string(300, 'v')}});
    UsageAnalyticsEvent::gameEvent("game", {{"n", 5}});
    drain();
    ASSERT_EQ(internal()->ekv.size(), 4u);
    auto keys = [&](size_t i) { return ekvAt(i)->values.keys(); };
    EXPECT_EQ(keys(0), numbered(10).keys());
    auto counted = keys(1);
    ASSERT_EQ(counted.size(), 11u);
    EXPECT_EQ(counted.front(), "__ct__");
    EXPECT_EQ(ekvAt(1)->values.get("__ct__"), Value("7"));
    EXPECT_TRUE(seams.printed("UALOG: (ERROR) 关键字id, ts, du是TovrinSDK保留字段，不能作为key使用。"));
    EXPECT_TRUE(
        seams.printed("UALOG: (ERROR) Halvek event's keys and values must be string ,key's max length 128 "
                      "and value's max length 256"));
    auto mixed = ekvAt(2);
    EXPECT_EQ(mixed->values.keys(), (std::vector<std::string>{"t", std::string(128, 'k')}));
    EXPECT_EQ(mixed->values.get(std::string(128, 'k')), Value(std::string(256, 'v')));
    auto game = ekvAt(3);
    EXPECT_EQ(game->type, "gkv");
    EXPECT_EQ(game->values.get("n"), Value(5));
    EXPECT_EQ(game->attributes(),
              (ValueDictionary{{"id", "game"}, {"n", 5}, {"ts", static_cast<int32_t>(game->ts)}}));
}

TEST_F(PipelineTest, ComputedEventPathsAndLabelsAreCheckedOrReplaced) {
    start();
    const std::string longLabel(200, 'l');
    UsageAnalytics::event(platform::ValueArray{"a", "b c"}, 1, "");
    UsageAnalytics::event(platform::ValueArray{"a b", "c"}, 1, "");
    UsageAnalytics::event(platform::ValueArray{"b", "0123456789abcdefXYZ"}, 2, longLabel);
    UsageAnalytics::event(platform::ValueArray{"c", "1", "2", "3", "4", "5", "6", "7", "8"}, 1, "bad label");
    UsageAnalytics::event(platform::ValueArray{}, 1, "");
    UsageAnalytics::event(platform::ValueArray{"d", 5}, 1, "");
    drain();
    const auto& counters = UAEventMgr::sharedInstance()->agCachedDict();
    std::vector<std::string> keys;
    for (const auto& entry : counters)
        keys.push_back(entry.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"a!__cc!illegal", "b!0123456789abcdef", "c!__cc!illegal"}));
    EXPECT_EQ(counters.at("b!0123456789abcdef")->labels, std::vector<std::string>{std::string(160, 'l')});
    EXPECT_EQ(counters.at("c!__cc!illegal")->labels, std::vector<std::string>{"__illegal"});
    EXPECT_TRUE(seams.printed("UALOG: (WARNING) b c is illegal in (\n    a,\n    b c\n)."));
    EXPECT_TRUE(seams.printed("UALOG: (ERROR) a b path is invalid."));
    EXPECT_TRUE(seams.printed("UALOG: (WARNING) 0123456789abcdefXYZ length overflow(16), will be trimming."));
    EXPECT_TRUE(seams.printed("UALOG:(ERROR) event's path is empty."));
    EXPECT_TRUE(seams.printed("UALOG:(ERROR) keypath's item must be NSString."));

    platform::UIApplication::sharedApplication()->simulateLaunch();
    platform::UIApplication::sharedApplication()->simulateResignActive();
    UsageAnalytics::event(platform::ValueArray{"e"}, 1, "");
    EXPECT_TRUE(seams.printed("UALOG:(WARNING) (\n    e\n) event not support in background mode."));
}

TEST_F(PipelineTest, PagesOfAtLeastASecondAreKept) {
    start();
    UsageAnalytics::logPageView("zero", 0);
    UsageAnalytics::logPageView("given", 3);
    UsageAnalytics::beginLogPageView("short");
    UsageAnalytics::beginLogPageView("long");
    drain();
    advance(0.5);
    UsageAnalytics::endLogPageView("short");
    UsageAnalytics::endLogPageView("never begun");
    drain();
    advance(2);
    UsageAnalytics::endLogPageView("long");
    drain();
    EXPECT_EQ(Value(internal()->pageItems),
              Value::array({Value::array({"given", 3}), Value::array({"long", 2})}));
    EXPECT_TRUE(internal()->pageItemsHash.empty());
    internal()->stopSession(1);
    EXPECT_EQ(last<UANTerminate>(internal()->terminates)->attributes().get("activities").count(), 2u);
    EXPECT_TRUE(internal()->pageItems.empty());
}
