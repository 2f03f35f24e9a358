#include "PythonRecords.h"
#include "analytics/UAClasses.h"
#include "analytics/UAEnvelope.h"
#include "analytics/UATBinaryProtocol.h"
#include "analytics/UATIdTracking.h"
#include "analytics/UATMemoryBuffer.h"
#include "analytics/UATResponse.h"

#include <functional>
#include <gtest/gtest.h>

using analyticstest::PythonRecords;
using platform::Data;
using platform::Value;

namespace {

template <class R> Data serialized(const R& record) {
    auto buffer = std::make_shared<UATMemoryBuffer>();
    UATBinaryProtocol protocol(buffer);
    record.write(protocol);
    return buffer->getBuffer();
}

template <class R> std::shared_ptr<R> parsed(const Data& bytes) {
    auto record = std::make_shared<R>();
    UATBinaryProtocol protocol(std::make_shared<UATMemoryBuffer>(bytes));
    record->read(protocol);
    return record;
}

template <class R> std::string failureOf(const R& record) {
    try {
        record.validate();
    } catch (const UATProtocolException& e) {
        return e.name() + ": " + e.reason();
    }
    return "valid";
}

std::string hexOf(std::string_view text) {
    std::string out;
    for (unsigned char c : text)
        out += fmt::format("{:02x}", c);
    return out;
}

std::shared_ptr<UAEnvelope> fullEnvelope() {
    return std::make_shared<UAEnvelope>("V1.0", "9d4e2b7a1c3f5e8d0a6b4c2e", "sig", 3, 1700000000, 512,
                                        Data(std::string_view("\x78\x9c\x00", 3)), "gu", "ck", 1);
}

} // namespace

TEST(WireRecords, EnvelopeWithEveryFieldIsDecodedFieldByFieldByTheIndependentReader) {
    if (!PythonRecords::available())
        GTEST_SKIP() << "no /usr/bin/python3";
    auto decoded = PythonRecords::decode(serialized(*fullEnvelope()));
    const auto& fields = *decoded["fields"].array();
    ASSERT_EQ(fields.size(), 10u);
    auto text = [](std::string_view bytes) { return Value::dictionary({{"hex", hexOf(bytes)}}); };
    const std::string entity("\x78\x9c\x00", 3);
    const std::vector<std::pair<int, Value>> expected = {
        {11, text("V1.0")},     {11, text("9d4e2b7a1c3f5e8d0a6b4c2e")},
        {11, text("sig")},      {8, Value(3)},
        {8, Value(1700000000)}, {8, Value(512)},
        {11, text(entity)},     {11, text("gu")},
        {11, text("ck")},       {8, Value(1)}};
    for (size_t i = 0; i < fields.size(); ++i) {
        EXPECT_EQ(fields[i]["id"].int64Or(), static_cast<int64_t>(i + 1));
        EXPECT_EQ(fields[i]["type"].int64Or(), expected[i].first) << i;
        EXPECT_EQ(fields[i]["value"], expected[i].second) << i;
    }
}

TEST(WireRecords, OptionalAndMissingFieldsAreLeftOut) {
    auto envelope = fullEnvelope();
    envelope->unsetCodex();
    auto bytes = serialized(*envelope);
    EXPECT_EQ(failureOf(*envelope), "valid");
    auto back = parsed<UAEnvelope>(bytes);
    EXPECT_FALSE(back->codexIsSet());
    EXPECT_EQ(back->entity(), fullEnvelope()->entity());
    EXPECT_EQ(back->ts_secs(), 1700000000);

    UATResponse reply;
    reply.setResp_code(1);
    reply.setMsg(std::nullopt); // set, but nothing to write
    EXPECT_EQ(serialized(reply).toVector(), (std::vector<uint8_t>{8, 0, 1, 0, 0, 0, 1, 0}));
}

// Every record checks its required fields the same way; the envelope's are walked through, and one
// field each of the imprint, the reply and the tracking records.
TEST(WireRecords, ValidateNamesTheFirstMissingRequiredFieldInIdOrder) {
    UAEnvelope envelope;
    const std::vector<std::pair<std::string, std::function<void()>>> steps = {{"version", [&] { envelope.setVersion("V1.0"); }},
                                                                              {"address", [&] { envelope.setAddress("a"); }},
                                                                              {"signature", [&] { envelope.setSignature("s"); }},
                                                                              {"serial_num", [&] { envelope.setSerial_num(1); }},
                                                                              {"ts_secs", [&] { envelope.setTs_secs(1); }},
                                                                              {"length", [&] { envelope.setLength(1); }},
                                                                              {"entity", [&] { envelope.setEntity(Data()); }},
                                                                              {"guid", [&] { envelope.setGuid("g"); }},
                                                                              {"checksum", [&] { envelope.setChecksum("c"); }}};
    for (const auto& [field, fill] : steps) {
        EXPECT_EQ(failureOf(envelope), "UATProtocolException: Required field '" + field + "' is not set.");
        fill();
    }
    EXPECT_EQ(failureOf(envelope), "valid");
    UATImprint imprint;
    imprint.setProperty(UATImprint::Properties{});
    imprint.setChecksum("c");
    EXPECT_EQ(failureOf(imprint), "UATProtocolException: Required field 'version' is not set.");
}

TEST(WireRecords, ReplyFromTheIndependentWriterSkipsMistypedAndUnknownFields) {
    if (!PythonRecords::available())
        GTEST_SKIP() << "no /usr/bin/python3";
    // Field 1 comes as a string, field 7 is unknown (a list of structs), then a msg and an imprint.
    auto bytes = PythonRecords::encode(R"({"fields": [
        {"id": 1, "type": 11, "value": {"hex": "3432"}},
        {"id": 7, "type": 15, "value": {"element": 12, "items": [
            {"fields": [{"id": 1, "type": 8, "value": 5}]}, {"fields": []}]}},
        {"id": 2, "type": 11, "value": {"hex": "6f6b"}},
        {"id": 3, "type": 12, "value": {"fields": [
            {"id": 1, "type": 13, "value": {"key": 11, "value": 12, "entries": [
                [{"hex": "636f646578"}, {"fields": [
                    {"id": 1, "type": 11, "value": {"hex": "31"}},
                    {"id": 2, "type": 10, "value": 1700000000123},
                    {"id": 3, "type": 11, "value": {"hex": "67"}}]}]]}},
            {"id": 2, "type": 8, "value": 4},
            {"id": 3, "type": 11, "value": {"hex": "63"}}]}}]})");
    auto reply = parsed<UATResponse>(bytes);
    EXPECT_FALSE(reply->resp_codeIsSet());
    EXPECT_EQ(failureOf(*reply), "UATProtocolException: Required field 'resp_code' is not set.");
    EXPECT_EQ(reply->msg(), "ok");
    ASSERT_TRUE(reply->imprint());
    EXPECT_EQ(failureOf(*reply->imprint()), "valid");
    const auto& codex = reply->imprint()->property()->at("codex");
    EXPECT_EQ(codex->value(), "1");
    EXPECT_EQ(codex->ts(), 1700000000123);
}

TEST(WireRecords, NestedRecordsSurviveTheWireAndTheIndependentReaderAndEmptySnapshotsAreAnEmptyMap) {
    UATIdTracking::Snapshots snapshots;
    snapshots["oid"] = std::make_shared<UATIdSnapshot>("abc", 1700000000000, 2);
    UATIdTracking::Journals journals{std::make_shared<UATIdJournal>("oid", std::nullopt, "abc", 5)};
    UATIdTracking tracking(snapshots, journals, "sum");
    auto back = parsed<UATIdTracking>(serialized(tracking));
    EXPECT_EQ(back->description(), tracking.description());
    // Set without a value: written without it, so it reads back unset.
    EXPECT_TRUE(tracking.journals()->at(0)->old_idIsSet());
    EXPECT_FALSE(back->journals()->at(0)->old_idIsSet());
    // With empty snapshots an empty map is written.
    UATIdTracking empty(UATIdTracking::Snapshots{}, std::nullopt, "x");
    empty.unsetJournals();
    EXPECT_EQ(failureOf(empty), "valid");
    EXPECT_EQ(serialized(empty).toVector(),
              (std::vector<uint8_t>{13, 0, 1, 11, 12, 0, 0, 0, 0, 11, 0, 3, 0, 0, 0, 1, 'x', 0}));
    empty.unsetSnapshots();
    EXPECT_EQ(failureOf(empty), "UATProtocolException: Required field 'snapshots' is not set.");
    if (!PythonRecords::available())
        GTEST_SKIP() << "no /usr/bin/python3";
    auto decoded = PythonRecords::decode(serialized(tracking));
    EXPECT_EQ(decoded["fields"][0]["value"]["entries"][0][1]["fields"][1]["value"].int64Or(), 1700000000000);
    EXPECT_EQ(decoded["fields"][1]["value"]["items"][0]["fields"].count(), 3u); // domain, new_id, ts
}

TEST(WireRecords, DescriptionShowsEveryField) {
    EXPECT_EQ(UATIdSnapshot().description(), "IdSnapshot(identity:\"(null)\",ts:0,version:0)");
    EXPECT_EQ(UATIdSnapshot("d1", -5, 7).description(), "IdSnapshot(identity:\"d1\",ts:-5,version:7)");
    EXPECT_EQ(UATResponse().description(), "Response(resp_code:0,msg:\"(null)\",imprint:(null))");
    UAEnvelope envelope;
    envelope.setEntity(Data(std::string_view("\x01\x02\x03\x04\x05", 5)));
    EXPECT_NE(envelope.description().find("entity:\"<01020304 05>\""), std::string::npos);
}

TEST(WireRecords, KeyedArchivesHoldSetFieldsUnderTheirNames) {
    uadetail::registerAnalyticsClasses();
    auto imprint = std::make_shared<UATImprint>();
    imprint->setProperty(UATImprint::Properties{{"k", std::make_shared<UATImprintValue>("v", 9, "g")}});
    imprint->setChecksum("c");
    auto reply = std::make_shared<UATResponse>(1, "m", imprint);
    auto data = platform::KeyedArchiver::archivedDataWithRootObject(reply);
    auto back =
        std::dynamic_pointer_cast<UATResponse>(platform::KeyedUnarchiver::unarchiveObjectWithData(data));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->description(), reply->description());
    EXPECT_FALSE(back->imprint()->versionIsSet());
    EXPECT_EQ(back->imprint()->property()->at("k")->ts(), 9);
}
