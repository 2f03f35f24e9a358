#include "LibraryFixture.h"
#include "analytics/UAEventMgr.h"
#include "analytics/UANUtil.h"
#include "analytics/UANWorker.h"
#include "analytics/UAPayloadBuild.h"
#include "analytics/UsageAnalyticsEnvelope.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/security/MD5.h"
#include "platform/security/RandomBytes.h"

#include <sys/stat.h>

using analyticstest::LibraryTest;
using platform::Data;
using platform::Value;
using Config = UsageAnalyticsConfig;

namespace {

std::shared_ptr<UsageAnalyticsEnvelope> builder() {
    return UsageAnalyticsEnvelope::sharedInstance();
}

// Which sizes of data were refused, by label.
std::vector<std::string> refusals() {
    platform::ValueDictionary meta;
    UAEventMgr::sharedInstance()->loadVeMetaEvents(meta);
    std::vector<std::string> labels;
    for (const auto& item :
         meta.get("__data_size_of").array() ? *meta.get("__data_size_of").array() : platform::ValueArray{})
        labels.push_back(item["label"].stringOr());
    return labels;
}

ino_t inodeOf(const std::string& path) {
    struct stat info = {};
    ::stat(path.c_str(), &info);
    return info.st_ino;
}

} // namespace

TEST_F(LibraryTest, TheFirstEnvelopeMakesTheInstallationSignature) {
    clock->setWall(platform::WallTime(std::chrono::seconds(1700000000))); // 00 f1 53 65, lowest first
    start();
    finishUploads();
    ASSERT_EQ(primary.uploads().size(), 1u);
    auto upload = primary.uploads()[0];
    auto signature = Config::dataWithKey("uaSignature");
    ASSERT_TRUE(signature && signature->length() == 32);
    EXPECT_EQ(upload.signature, platform::hexString(signature->span()));
    EXPECT_EQ(upload.signature.substr(0, 4) + upload.signature.substr(60), "00f15365");
    // Rebuilt with that signature, the guid's ends cancel out against the same time stamp.
    EXPECT_EQ(upload.guid.substr(0, 4) + upload.guid.substr(60), "00000000");
    EXPECT_EQ(upload.serialNum, 1);

    auto identity = platform::JSONSerialization::JSONObjectWithData(
        *platform::AtomicFile::read(UsageAnalyticsUtility::exchangeIdentityPath()));
    EXPECT_EQ(identity["signature"], Value(upload.signature));
    EXPECT_EQ(identity["checksum"],
              Value(platform::md5Hex(upload.signature.substr(4, 32), platform::HexCase::Upper)));
    auto inode = inodeOf(UsageAnalyticsUtility::exchangeIdentityPath());
    UsageAnalytics::event("next");
    drain();
    EXPECT_TRUE(builder()->makeEnvelopeData());
    EXPECT_EQ(inodeOf(UsageAnalyticsUtility::exchangeIdentityPath()), inode); // unchanged: not rewritten
}

TEST_F(LibraryTest, TheCollectorsCodexOrTheSettingDecideEncryption) {
    start();
    finishUploads();
    const std::tuple<std::optional<std::string>, bool, int32_t> cases[] = {
        {"0", true, 0}, {std::nullopt, false, 0}, {std::nullopt, true, 1}, {"1", false, 1}};
    for (const auto& [codex, enabled, expected] : cases) {
        UATImprint::Properties properties;
        if (codex)
            properties["codex"] = std::make_shared<UATImprintValue>(*codex, 1, "g");
        UATImprint imprint(properties, 1, "");
        Config::removeConfigureWithKey("uaImprint");
        UAPayloadBuild::updateImprint(imprint);
        UsageAnalytics::setEncryptEnabled(enabled);
        UsageAnalytics::event("secret");
        drain();
        ASSERT_TRUE(builder()->makeEnvelopeData());
        std::make_shared<UANWorker>(envelopeFiles())->main();
        auto upload = primary.uploads().back();
        EXPECT_EQ(upload.codex, expected);
        EXPECT_EQ(upload.problem, "") << upload.codex;
        EXPECT_EQ(upload.payload["body"]["ekv"].count(), 1u);
    }
}

TEST_F(LibraryTest, AnEnvelopeThatCannotBeEncryptedIsNotMadeAndItsRecordsWait) {
    start();
    finishUploads();
    auto before = envelopeFiles().size();
    UsageAnalytics::setEncryptEnabled(true);
    UsageAnalyticsEnvelope::setCipher([](const Data&, const uint8_t*) { return std::optional<Data>(); });
    UsageAnalytics::event("secret");
    drain();
    auto recorded = internal()->events.size();
    ASSERT_GE(recorded, 1u);
    internal()->generateEnvelopeFile();
    EXPECT_EQ(envelopeFiles().size(), before); // nothing in the clear
    EXPECT_EQ(internal()->events.size(), recorded);

    UsageAnalyticsEnvelope::setCipher({});
    internal()->generateEnvelopeFile();
    EXPECT_TRUE(internal()->events.empty());
    std::make_shared<UANWorker>(envelopeFiles())->main();
    auto upload = primary.uploads().back();
    EXPECT_EQ(upload.codex, 1);
    EXPECT_EQ(upload.problem, "");
    EXPECT_EQ(upload.payload["body"]["ekv"].count(), 1u); // the event waited, and went out encrypted
}

TEST_F(LibraryTest, PayloadsAtTheSizeLimitsAreRefusedWithTheirRecords) {
    start();
    finishUploads();
    EXPECT_TRUE(builder()->entityDataWithPayload(Data(std::string(4194303, 'a'))));
    UsageAnalytics::event("dropped with the payload");
    drain();
    EXPECT_FALSE(builder()->entityDataWithPayload(Data(std::string(4194304, 'a'))));
    EXPECT_TRUE(internal()->events.empty());

    // Random bytes hardly compress: find the lengths whose stream is 209919 and 209920 bytes long.
    auto noise = *platform::randomBytes(212000);
    auto compressedAt = [&](size_t length) {
        return UANUtil::deflatedData(Data(noise.bytes(), length))->length();
    };
    size_t length = 209919 - (compressedAt(209919) - 209919);
    while (compressedAt(length) < 209919)
        ++length;
    ASSERT_EQ(compressedAt(length), 209919u);
    EXPECT_TRUE(builder()->entityDataWithPayload(Data(noise.bytes(), length)));
    while (compressedAt(length) < 209920)
        ++length;
    ASSERT_EQ(compressedAt(length), 209920u);
    advance(0.001); // meta items are kept one per key and millisecond
    EXPECT_FALSE(builder()->entityDataWithPayload(Data(noise.bytes(), length)));
    EXPECT_EQ(refusals(), (std::vector<std::string>{"envelope_raw", "envelope_deflated"}));
}

TEST_F(LibraryTest, AnEnvelopeMissingARequiredFieldIsNotWritten) {
    start();
    finishUploads();
    UsageAnalytics::event("kept");
    drain();
    auto serial = Config::integerWithKey("uaSerialNum");
    app()->setAppid("");
    internal()->generateEnvelopeFile();
    EXPECT_TRUE(envelopeFiles().empty());
    EXPECT_EQ(internal()->events.size(), 1u);
    EXPECT_EQ(Config::integerWithKey("uaSerialNum"), *serial + 1);
    EXPECT_TRUE(seams.printed(
        "Exception occurred: UATProtocolException: Required field 'address' is not set., (null)"));
}

TEST_F(LibraryTest, ATakenFileNameMovesToTheNextMillisecond) {
    clock->setWall(platform::WallTime(std::chrono::milliseconds(1700000000123)));
    start();
    finishUploads();
    auto taken = UsageAnalyticsUtility::generateEnvelopeFileNameWithTS("1700000000123");
    platform::AtomicFile::write(taken, Data(std::string_view("an earlier envelope")));
    UsageAnalytics::event("e");
    drain();
    EXPECT_TRUE(builder()->makeEnvelopeData());
    EXPECT_EQ(platform::AtomicFile::read(taken)->toString(), "an earlier envelope");
    EXPECT_TRUE(UsageAnalyticsUtility::isExistAtPath(
        UsageAnalyticsUtility::generateEnvelopeFileNameWithTS("1700000000124")));
}
