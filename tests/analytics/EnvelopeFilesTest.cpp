#include "PipelineFixture.h"
#include "analytics/UACachedDB.h"
#include "platform/foundation/AtomicFile.h"

#include <filesystem>

using analyticstest::PipelineTest;
using platform::Value;
using Config = UsageAnalyticsConfig;
namespace fs = std::filesystem;

namespace {

std::string envelopePath(int stamp) {
    return UsageAnalyticsUtility::generateEnvelopeFileNameWithTS(std::to_string(stamp));
}

void writeEnvelope(int stamp, size_t size) {
    platform::AtomicFile::write(envelopePath(stamp), platform::Data(std::string(size, 'e')));
}

Value metaItems(const char* key) {
    platform::ValueDictionary meta;
    UACachedDB::sharedInstance()->loadVeMetaToContainer(meta);
    return meta.get(key);
}

} // namespace

TEST_F(PipelineTest, ThirteenEnvelopesLeaveTheNewestTenForTheWorker) {
    start();
    // One file under thirteen names: one creation date, so the millisecond stamps decide the order.
    writeEnvelope(1001, 20);
    for (int stamp = 1002; stamp <= 1013; ++stamp)
        fs::create_hard_link(envelopePath(1001), envelopePath(stamp));
    internal()->beginPerformJob();
    ASSERT_EQ(seams.job->workerFiles.size(), 1u);
    std::vector<std::string> expected;
    for (int stamp = 1004; stamp <= 1013; ++stamp)
        expected.push_back(envelopePath(stamp));
    EXPECT_EQ(seams.job->workerFiles[0], expected);
    for (int stamp : {1001, 1002, 1003})
        EXPECT_FALSE(fs::exists(envelopePath(stamp))) << stamp;
    EXPECT_TRUE(seams.job->jobRunning);
    EXPECT_EQ(metaItems("__evp_file_of")[0]["value"], Value(3));
    EXPECT_EQ(metaItems("__evp_file_of")[0]["label"], Value("envelop_file_count_out"));
    EXPECT_TRUE(seams.printed("UALOG: prepare to post log data"));
    internal()->sendLogQueue()->waitUntilAllOperationsAreFinished();
}

TEST_F(PipelineTest, EnvelopesTooSmallTooLargeOrTooOldAreDropped) {
    start();
    writeEnvelope(1, 10);
    writeEnvelope(2, 262144);
    writeEnvelope(3, 11);
    writeEnvelope(4, 262143);
    auto paths = UsageAnalyticsUtility::envelopeFiles();
    paths.push_back(envelopePath(5)); // listed, but gone since
    internal()->validateEnvelopeFiles(paths);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{envelopePath(3), envelopePath(4)}));
    EXPECT_FALSE(fs::exists(envelopePath(1)));
    EXPECT_FALSE(fs::exists(envelopePath(2)));
    EXPECT_EQ(metaItems("__evp_file_of")[0]["value"], Value(3));
    EXPECT_EQ(metaItems("__evp_file_of")[0]["label"], Value("envelop_file_count_or_date_out"));

    auto created = UsageAnalyticsUtility::creationDateOfFile(envelopePath(3));
    clock->setWall(platform::WallTime(std::chrono::duration_cast<platform::WallTime::duration>(
        std::chrono::duration<double>(created->timeIntervalSince1970()))));
    advance(1209600.2);
    internal()->validateEnvelopeFiles(paths);
    EXPECT_EQ(paths.size(), 2u);
    advance(0.9);
    internal()->validateEnvelopeFiles(paths);
    EXPECT_TRUE(paths.empty());
}

TEST_F(PipelineTest, TheFirstJobOfAnInstallationMakesAnEnvelopeEvenWithNothingRecorded) {
    start();
    internal()->removeCacheData();
    internal()->beginPerformJob();
    EXPECT_EQ(seams.envelope->calls, 1);
    ASSERT_EQ(seams.job->workerFiles.size(), 1u);
    EXPECT_EQ(seams.job->workerFiles[0].size(), 1u);

    // Once activated, nothing recorded means no envelope and no worker.
    Config::setConfigure(Value(1), "uaActivateMsg");
    fs::remove(seams.job->workerFiles[0][0]);
    internal()->beginPerformJob();
    EXPECT_EQ(seams.envelope->calls, 1);
    EXPECT_EQ(seams.job->workerFiles.size(), 1u);

    UsageAnalytics::event("recorded");
    drain();
    internal()->beginPerformJob();
    EXPECT_EQ(seams.envelope->calls, 2);
    EXPECT_TRUE(internal()->events.empty());
    EXPECT_EQ(Config::integerWithKey("uaPeriodEvtCount"), 1);
    internal()->sendLogQueue()->waitUntilAllOperationsAreFinished();
}

TEST_F(PipelineTest, TheActivationTimeIsStoredOnceTheFirstEnvelopeExists) {
    uint64_t activation = app()->activateMsgTS();
    EXPECT_GT(activation, 0u);
    app()->setActivateMsgFlag();
    EXPECT_EQ(Config::unsignedWithKey("uaActivateMsg"), activation);
    advance(10);
    app()->setActivateMsgFlag();
    EXPECT_EQ(Config::unsignedWithKey("uaActivateMsg"), activation);
}
