#include "LibraryFixture.h"
#include "analytics/UAHelper.h"
#include "analytics/UAPayloadBuild.h"
#include "analytics/UATRecordIO.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/JSONSerialization.h"

using analyticstest::LibraryTest;
using platform::Value;
using Config = UsageAnalyticsConfig;

namespace {

Value payload() {
    auto bytes = UAPayloadBuild::sharedInstance()->payloadData();
    return bytes ? platform::JSONSerialization::JSONObjectWithData(*bytes) : Value();
}

std::shared_ptr<UATImprint> imprintOf(std::vector<std::pair<std::string, std::optional<std::string>>> entries,
                                      int32_t version) {
    UATImprint::Properties properties;
    for (auto& [key, value] : entries)
        properties[key] = std::make_shared<UATImprintValue>(value, 5, "g");
    auto imprint = std::make_shared<UATImprint>(std::move(properties), version, "");
    imprint->setChecksum(UAPayloadBuild::generateImprintChecksum(*imprint));
    return imprint;
}

std::vector<std::shared_ptr<UATIdJournal>> journalsOf(const std::string& domain) {
    std::vector<std::shared_ptr<UATIdJournal>> found;
    for (const auto& journal :
         UAPayloadBuild::sharedInstance()->idTracking()->journals().value_or(UATIdTracking::Journals{})) {
        if (journal->domain() == domain)
            found.push_back(journal);
    }
    return found;
}

} // namespace

TEST_F(LibraryTest, UnderBackOffOnlySessionsAreReported) {
    start();
    finishUploads();
    const std::tuple<int, std::vector<int64_t>> levels[] = {{1, {30000}}, {2, {60000}}, {3, {}}};
    for (const auto& [level, durations] : levels) {
        UsageAnalytics::event("e");
        drain();
        internal()->errors.push_back(std::make_shared<UANError>());
        internal()->stopSession(30);
        Config::setConfigure(Value(std::to_string(level)), "uaDefcon");
        auto body = payload()["body"];
        EXPECT_FALSE(body.dictionary()->contains("ekv")) << level;
        EXPECT_FALSE(body.dictionary()->contains("error")) << level;
        EXPECT_FALSE(body.dictionary()->contains("cc")) << level;
        std::vector<int64_t> reported;
        for (const auto& session :
             body["sessions"].array() ? *body["sessions"].array() : platform::ValueArray{})
            reported.push_back(session["duration"].int64Or());
        EXPECT_EQ(reported, durations) << level;
        internal()->removeCacheData();
    }
}

TEST_F(LibraryTest, EventsAreGroupedByAnalyticsSession) {
    start();
    finishUploads();
    UsageAnalytics::eventLabelDurations("first", "red", 1500);
    UsageAnalytics::event("second", {{"k", "v"}});
    drain();
    auto ekv = payload()["body"]["ekv"];
    ASSERT_EQ(ekv.count(), 1u);
    const auto& entries = ekv[0][internal()->sessionID()];
    ASSERT_EQ(entries.count(), 2u);
    EXPECT_EQ(entries[0]["id"], Value("first"));
    EXPECT_EQ(entries[0]["first"], Value("red"));
    EXPECT_EQ(entries[0]["du"], Value(1500));
    EXPECT_EQ(entries[1]["k"], Value("v"));

    eventAt(0)->session_id = "an earlier session";
    ekv = payload()["body"]["ekv"];
    ASSERT_EQ(ekv.count(), 2u);
    EXPECT_EQ(ekv[0]["an earlier session"].count(), 1u);
    EXPECT_EQ(ekv[1][internal()->sessionID()].count(), 1u);
}

TEST_F(LibraryTest, ImprintsMergeDeleteAndCarryTheirChecksum) {
    UATImprint one;
    one.setProperty(UATImprint::Properties{{"a", std::make_shared<UATImprintValue>("x", 5, "g")}});
    one.setVersion(2);
    EXPECT_EQ(UAPayloadBuild::generateImprintChecksum(one), "911d9dedd89c06849a750c669efa2e58");

    UAPayloadBuild::updateImprint(*imprintOf({{"a", "x"}, {"b", "y"}, {"defcon", "5"}}, 1));
    EXPECT_EQ(Config::configureWithKey("uaDefcon"), Value("0"));
    EXPECT_EQ(job()->defcon(), 0);
    UAPayloadBuild::updateImprint(*imprintOf({{"b", std::nullopt}, {"c", "z"}, {"defcon", "2"}}, 3));
    EXPECT_EQ(UAPayloadBuild::imprintPropertyValueWithKey("a"), "x");
    EXPECT_EQ(UAPayloadBuild::imprintPropertyValueWithKey("b"), std::nullopt);
    EXPECT_EQ(UAPayloadBuild::imprintPropertyValueWithKey("c"), "z");
    EXPECT_EQ(job()->defcon(), 2);
    auto stored = uadetail::recordFromData<UATImprint>(*Config::dataWithKey("uaImprint"));
    EXPECT_EQ(stored->version(), 3);
    EXPECT_TRUE(UAPayloadBuild::validateImprintChecksum(stored));
    EXPECT_EQ(payload()["header"]["imprint"],
              Value(UAHelper::encodeBase64(*Config::dataWithKey("uaImprint"))));

    stored->setVersion(4); // no longer what the checksum covers
    Config::setConfigure(Value(uadetail::dataFromRecord(*stored)), "uaImprint");
    EXPECT_FALSE(payload()["header"].dictionary()->contains("imprint"));
}

TEST_F(LibraryTest, StoredAndReceivedBytesThatDoNotReadNeverCrash) {
    const auto garbage = Value(platform::Data(std::string_view("\x0b\x00\x01\x7f\xff\xff\xff", 7)));
    Config::setConfigure(garbage, "uaImprint");
    EXPECT_EQ(UAPayloadBuild::imprintPropertyValueWithKey("defcon"), std::nullopt);
    EXPECT_FALSE(payload()["header"].dictionary()->contains("imprint"));
    EXPECT_FALSE(UAPayloadBuild::sharedInstance()->verifyResponseData(*garbage.data()));
    Config::setConfigure(garbage, "uaIDTracking");
    UAPayloadBuild::sharedInstance()->buildIdTracking();
    EXPECT_TRUE(UAPayloadBuild::sharedInstance()->idTracking()->snapshots()->count("oid"));
    EXPECT_TRUE(seams.printed("Exception occurred: UATTransportException: ", true));
}

TEST_F(LibraryTest, IdentifierChangesAreJournalledUpTo19Times) {
    std::string utdid = "u1";
    platform::ClassInfo companion;
    companion.name = "UTDevice";
    companion.classMethods["utdid"] = [&utdid](const Value&) { return Value(utdid); };
    platform::ClassRegistry::shared().registerClass(companion);
    auto build = UAPayloadBuild::sharedInstance();
    Config::removeConfigureWithKey("uaIDTracking");
    build->buildIdTracking();
    ASSERT_EQ(journalsOf("utdid").size(), 1u);
    EXPECT_EQ(journalsOf("utdid")[0]->old_id(), std::nullopt);

    build->buildIdTracking(); // unchanged: an earlier launch's journals are gone, no new one
    EXPECT_TRUE(journalsOf("utdid").empty());
    utdid = "u2";
    build->buildIdTracking();
    ASSERT_EQ(journalsOf("utdid").size(), 1u);
    EXPECT_EQ(journalsOf("utdid")[0]->old_id(), "u1");
    EXPECT_EQ(journalsOf("utdid")[0]->new_id(), "u2");
    EXPECT_EQ(build->idTracking()->snapshots()->at("utdid")->version(), 2);
    EXPECT_EQ(Config::integerWithKey("uautdidVersionNum"), 2);

    Config::setConfigure(Value(20), "uautdidVersionNum");
    utdid = "u3";
    build->buildIdTracking();
    EXPECT_TRUE(journalsOf("utdid").empty());
    EXPECT_EQ(build->idTracking()->snapshots()->at("utdid")->identity(), "u2");
    platform::ClassRegistry::shared().unregisterClass("UTDevice");
}
