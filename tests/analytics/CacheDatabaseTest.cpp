#include "AnalyticsDoubles.h"
#include "analytics/UACachedDB.h"
#include "analytics/UsageAnalyticsUtility.h"
#include "platform/foundation/AtomicFile.h"
#include "tests/support/ShellCommand.h"

#include <gtest/gtest.h>

using analyticstest::Seams;
using platform::Value;

namespace {

std::string sqliteTool(const std::string& sql) {
    int status = -1;
    auto out = liveapp::test::runCommand(
        "sqlite3 " + liveapp::test::shellQuoted(UsageAnalyticsUtility::sqliteDBFilePath()) + " " +
            liveapp::test::shellQuoted(sql) + " 2>&1",
        &status);
    EXPECT_EQ(status, 0) << out;
    return out;
}

std::shared_ptr<UAAggregatedValue> counter(int32_t window, int64_t sum,
                                           std::vector<std::string> labels = {}) {
    auto value = std::make_shared<UAAggregatedValue>();
    value->twNum = window;
    value->valueSum = sum;
    value->tsSum = sum * 1000;
    value->count = 1;
    value->labels = std::move(labels);
    return value;
}

class CacheDatabase : public testing::Test {
protected:
    void SetUp() override {
        seams.settings->log = true;
        db->initDB();
    }
    void TearDown() override { db->closeDB(); }

    Seams seams;
    std::shared_ptr<UACachedDB> db = UACachedDB::sharedInstance();
};

} // namespace

TEST_F(CacheDatabase, QuotesInKeysAndLabelsAreOnlyText) {
    db->saveMemory({{"it's'); DROP TABLE agTable; --", counter(7, 3, {"a'b", "c"})}}, "agTable");
    db->insertMetaVerbatimItem("o'k", 5, 1700000000000, "x'y");
    EXPECT_EQ(sqliteTool("SELECT ck, valueSum, twNum, labels FROM agTable"),
              "it's'); DROP TABLE agTable; --|3|7|a'b!c\n");
    EXPECT_EQ(sqliteTool("SELECT ck, value, ts, label FROM veMetaTable"), "o'k|5|1700000000000|x'y\n");

    platform::ValueDictionary container;
    db->loadAGToContainer(container);
    const auto& rows = container.get("it's'); DROP TABLE agTable; --");
    ASSERT_EQ(rows.count(), 1u);
    EXPECT_EQ(rows[0], Value::dictionary({{"v_sum", 3},
                                          {"ts_sum", 3000},
                                          {"tw_num", 7},
                                          {"count", 1},
                                          {"labels", Value::array({"a'b", "c"})}}));
}

TEST_F(CacheDatabase, CountersLoadByKeyThenNewestWindowFirst) {
    db->saveMemory({{"k1", counter(10, 1)}}, "agTable");
    db->saveMemory({{"k1", counter(12, 2, {"only"})}, {"k0", counter(11, 3)}}, "agTable");
    platform::ValueDictionary container;
    db->loadAGToContainer(container);
    EXPECT_EQ(container.keys(), (std::vector<std::string>{"k0", "k1"}));
    EXPECT_EQ(container.get("k1")[0]["tw_num"], Value(12));
    EXPECT_EQ(container.get("k1")[0]["labels"], Value::array({"only"}));
    EXPECT_EQ(container.get("k1")[1]["tw_num"], Value(10));
    EXPECT_TRUE(container.get("k1")[1]["labels"].isNil());
    EXPECT_EQ(db->rowCountInTable("agTable"), 3);

    db->saveMemory({{"snap", counter(4, 9, {"a", "b"})}}, "agCachedTable");
    UAAggregatedMemory memory;
    db->loadAGCachedToMemory(memory);
    ASSERT_TRUE(memory.count("snap"));
    EXPECT_EQ(memory["snap"]->labels, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(memory["snap"]->tsSum, 9000);
}

TEST_F(CacheDatabase, MetaItemsBeyond128AreCountedAndDuplicatesRefused) {
    for (int i = 0; i < 130; ++i)
        db->insertMetaVerbatimItem(i % 2 ? "odd" : "even", i, 1000 + static_cast<uint64_t>(i),
                                   i == 0 ? "first" : "");
    db->insertMetaVerbatimItem("even", 99, 1000, "again");
    EXPECT_TRUE(seams.printed("UALOG: WARNING failed to insert data in veMetaTable."));

    platform::ValueDictionary container;
    db->loadVeMetaToContainer(container);
    EXPECT_EQ(container.get("even").count(), 65u);
    EXPECT_EQ(container.get("odd").count(), 65u);
    EXPECT_EQ(container.get("even")[0], Value::dictionary({{"value", 0}, {"ts", 1000}, {"label", "first"}}));
    EXPECT_EQ(container.get("__meta_ve_of"), Value::array({Value::dictionary({{"value", 2}, {"ts", 1129}})}));
}

TEST_F(CacheDatabase, ACorruptFileIsReplacedByAFreshDatabase) {
    db->closeDB();
    platform::AtomicFile::write(UsageAnalyticsUtility::sqliteDBFilePath(),
                                platform::Data(std::string(4096, 'x') + "not a database"));
    db->initDB();
    EXPECT_TRUE(seams.printed("UALOG: ERROR failed to open db connection"));
    ASSERT_TRUE(db->isOpen());
    EXPECT_EQ(db->rowCountInTable("veMetaTable"), 0);
    db->closeDB();
    EXPECT_EQ(sqliteTool(".tables"), "agCachedTable  agTable        veMetaTable  \n");
}

TEST_F(CacheDatabase, MovingTheSnapshotEmptiesItEvenWhenTheMoveFails) {
    db->saveMemory({{"k", counter(1, 1)}}, "agCachedTable");
    db->transferCachedToAgTable();
    EXPECT_EQ(db->rowCountInTable("agTable"), 1);
    EXPECT_EQ(db->rowCountInTable("agCachedTable"), 0);

    db->saveMemory({{"k", counter(2, 2)}}, "agCachedTable");
    ASSERT_TRUE(db->runSql("DROP TABLE agTable"));
    db->transferCachedToAgTable();
    EXPECT_TRUE(seams.printed("UALOG: WARNING Failed to insert data to agTable from agCachedTable"));
    EXPECT_EQ(db->rowCountInTable("agCachedTable"), 0);
    EXPECT_FALSE(db->runSql("SELECT nonsense FROM"));
}
