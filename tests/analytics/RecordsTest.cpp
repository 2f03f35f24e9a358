#include "AnalyticsDoubles.h"
#include "analytics/UAClasses.h"
#include "analytics/UANEkv.h"
#include "analytics/UANError.h"
#include "analytics/UANEvent.h"
#include "analytics/UANTerminate.h"

#include <gtest/gtest.h>

using analyticstest::Seams;
using platform::Value;
using platform::ValueDictionary;

namespace {

template <class T> std::shared_ptr<T> roundTrip(const std::shared_ptr<T>& record) {
    uadetail::registerAnalyticsClasses();
    auto data = platform::KeyedArchiver::archivedDataWithRootObject(record);
    return std::dynamic_pointer_cast<T>(platform::KeyedUnarchiver::unarchiveObjectWithData(data));
}

} // namespace

TEST(AnalyticsRecords, EventAttributesCutLongLabelsWithAWarningAndGameAttributesAreCheckedForThePayload) {
    Seams seams;
    auto event = std::make_shared<UANEvent>();
    event->ts = 1700000000.75;
    event->event_id = "buy";
    event->label = std::string(300, 'l');
    event->acc = 0;
    event->du = 5;
    event->session_id = "S";
    auto attributes = event->attributes();
    EXPECT_TRUE(
        seams.printed("(Warning) Halvek event label (" + std::string(300, 'l') + ") max bytes length > 256"));
    EXPECT_EQ(attributes.get("label"), Value(std::string(256, 'l')));
    EXPECT_EQ(attributes.get("ts"), Value(1700000000));
    EXPECT_EQ(attributes.get("tag"), Value("buy"));
    EXPECT_FALSE(attributes.contains("acc"));

    // Game attributes take any value but are checked again for the payload.
    auto game = UANEkv::create("g", std::nullopt, ValueDictionary{{"n", 1}, {"t", "x"}}, true);
    EXPECT_EQ(game->values.size(), 2u);
    // The payload applies the text rules again, with the 64-byte wording.
    game->type = "ekv";
    EXPECT_FALSE(game->attributes().contains("n"));
    EXPECT_TRUE(
        seams.printed("UALOG: (ERROR) Halvek event's keys and values must be string ,key's max length 64 and "
                      "value's max length 256"));
}

TEST(AnalyticsRecords, RecordsPrintThemselvesOnlyWhileLogging) {
    Seams seams;
    auto event = std::make_shared<UANEvent>();
    event->event_id = "e";
    event->label = "l";
    event->du = 5;
    event->session_id = "S";
    event->outputUALog();
    EXPECT_TRUE(seams.lines().empty());
    seams.settings->log = true;
    event->outputUALog();
    auto ekv = UANEkv::create("i", "k", ValueDictionary{{"a", "b"}}, false);
    ekv->session_id = "S";
    ekv->du = 7;
    ekv->outputUALog();
    auto error = std::make_shared<UANError>();
    error->context = "c";
    error->outputUALog();
    UANTerminate terminate(30);
    terminate.session_id = "S";
    terminate.outputUALog();
    EXPECT_EQ(seams.lines(), (std::vector<std::string>{
                                 "UALOG: event: session_id=S, event=e, label=l, du=5",
                                 "UALOG: ekv: session_id=S, id=i, duration=7,key=k,values={\n    a = b;\n}",
                                 "UALOG: error: session_id=(null), context=c",
                                 "UALOG: session: session_id=S, duration=30.000000",
                             }));
}

TEST(AnalyticsRecords, ArchivesKeepEveryField) {
    auto ekv = UANEkv::create("id", "key", ValueDictionary{{"a", "b"}}, true);
    ekv->du = 9;
    ekv->sendingFlag = true;
    auto back = roundTrip(ekv);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->type, "gkv");
    EXPECT_EQ(back->key, "key");
    EXPECT_EQ(back->du, 9);
    EXPECT_TRUE(back->sendingFlag);
    EXPECT_TRUE(back->isEqual(*ekv));
    EXPECT_EQ(back->hash(), ekv->hash());

    auto terminate = std::make_shared<UANTerminate>(12.5);
    terminate->pageViews = {Value::array({"p", 2})};
    terminate->latitude = 1;
    terminate->longitude = 2;
    terminate->gps_time = 1700000000000;
    auto session = roundTrip(terminate);
    EXPECT_EQ(session->duration, 12.5);
    EXPECT_EQ(Value(session->pageViews), Value(terminate->pageViews));
    EXPECT_TRUE(session->hasGPSInfo());
    EXPECT_FALSE(session->isEqual(*roundTrip(std::make_shared<UANTerminate>(1))));
}
