#include "analytics/UACachedDB.h"

#include "analytics/UAHelper.h"
#include "analytics/UANLog.h"
#include "analytics/UsageAnalyticsUtility.h"
#include "platform/foundation/Text.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <sqlite3.h>

namespace {

struct Finalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalizer>;

// Table names are the library's own; anything but letters is refused rather than put into a statement.
bool isTableName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(),
                                        [](char c) { return std::isalpha(static_cast<unsigned char>(c)); });
}

Statement prepare(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (!db || sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        return nullptr;
    }
    return Statement(statement);
}

void bindText(sqlite3_stmt* statement, int index, const std::string& text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::optional<std::string> columnText(sqlite3_stmt* statement, int column) {
    auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    if (!text)
        return std::nullopt;
    return std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement, column)));
}

// Runs a query and hands every row to `row`; false when it could not be prepared.
bool eachRow(sqlite3* db, const std::string& sql, const std::function<void(sqlite3_stmt*)>& row) {
    auto statement = prepare(db, sql);
    if (!statement)
        return false;
    while (sqlite3_step(statement.get()) == SQLITE_ROW)
        row(statement.get());
    return true;
}

void append(platform::ValueDictionary& container, const std::string& key, platform::Value item) {
    platform::Value list = container.get(key);
    if (!list.isArray())
        list = platform::Value(platform::ValueArray{});
    list.mutableArray()->push_back(std::move(item));
    container.set(key, std::move(list));
}

} // namespace

void UACachedDB::Closer::operator()(sqlite3* db) const {
    sqlite3_close(db);
}

std::shared_ptr<UACachedDB> UACachedDB::sharedInstance() {
    static const auto db = std::make_shared<UACachedDB>();
    return db;
}

bool UACachedDB::open() {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(UsageAnalyticsUtility::sqliteDBFilePath().c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    m_db.reset(db);
    return rc == SQLITE_OK;
}

void UACachedDB::initDB() {
    // A second round only follows a corrupt file, which is removed first.
    for (int round = 0; round < 2 && !m_db; ++round) {
        bool opened = open();
        int rc = SQLITE_OK;
        if (opened) {
            for (int made : {createTable("agCachedTable", true), createTable("agTable", true),
                             createTable("veMetaTable", false)})
                rc = rc == SQLITE_OK ? made : rc;
        }
        if (opened && rc != SQLITE_NOTADB && rc != SQLITE_CORRUPT)
            return;
        closeDB();
        UANLog("ERROR failed to open db connection");
        UsageAnalyticsUtility::removeFile(UsageAnalyticsUtility::sqliteDBFilePath());
        UsageAnalyticsUtility::removeFile(UsageAnalyticsUtility::sqliteDBFilePath() + "-journal");
        if (!opened)
            return;
    }
}

void UACachedDB::closeDB() {
    m_db.reset();
}

bool UACachedDB::runSql(std::string_view sql) {
    std::string text(sql);
    char* message = nullptr;
    if (m_db && sqlite3_exec(m_db.get(), text.c_str(), nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    UANLog("ERROR to run sql: {}, error: {}", text, message ? message : "no database");
    sqlite3_free(message);
    return false;
}

int UACachedDB::createTable(std::string_view name, bool counters) {
    if (!isTableName(name) || !m_db)
        return SQLITE_ERROR;
    std::string sql =
        counters ? fmt::format("CREATE TABLE IF NOT EXISTS {} (ck TEXT, valueSum INTEGER, tsSum INTEGER, "
                               "twNum INTEGER, count INTEGER, labels TEXT)",
                               name)
                 : fmt::format("CREATE TABLE IF NOT EXISTS {} (ck TEXT, value INTEGER, ts INTEGER, "
                               "label TEXT, PRIMARY KEY (ts, ck))",
                               name);
    int rc = sqlite3_exec(m_db.get(), sql.c_str(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK && counters)
        UANLog("ERROR failed to create {}.", name);
    else if (rc != SQLITE_OK)
        UANLog("WARNING failed to create {}.", name);
    return rc;
}

void UACachedDB::verifyAGTableWithName(std::string_view name) {
    createTable(name, true);
}

void UACachedDB::verifyVETableWithName(std::string_view name) {
    createTable(name, false);
}

void UACachedDB::clearDataInTable(std::string_view name) {
    if (isTableName(name))
        runSql(fmt::format("DELETE FROM {}", name));
}

int64_t UACachedDB::rowCountInTable(std::string_view name) {
    auto statement =
        isTableName(name) ? prepare(m_db.get(), fmt::format("SELECT COUNT(*) FROM {}", name)) : nullptr;
    if (!statement) {
        UANLog("WARNING failed to query data. {}", m_db ? sqlite3_errmsg(m_db.get()) : "no database");
        return 0;
    }
    return sqlite3_step(statement.get()) == SQLITE_ROW ? sqlite3_column_int64(statement.get(), 0) : 0;
}

void UACachedDB::insertMetaVerbatimItem(const std::string& key, int32_t value, uint64_t timestamp,
                                        const std::string& label) {
    auto statement =
        prepare(m_db.get(), "INSERT INTO veMetaTable (ck, value, ts, label) VALUES (?, ?, ?, ?)");
    if (statement) {
        bindText(statement.get(), 1, key);
        sqlite3_bind_int(statement.get(), 2, value);
        sqlite3_bind_int64(statement.get(), 3, static_cast<sqlite3_int64>(timestamp));
        bindText(statement.get(), 4, label);
    }
    if (!statement || sqlite3_step(statement.get()) != SQLITE_DONE)
        UANLog("WARNING failed to insert data in {}.", "veMetaTable");
}

void UACachedDB::transferCachedToAgTable() {
    if (!runSql(
            "INSERT INTO agTable (ck, valueSum, tsSum, twNum, count, labels) SELECT * FROM agCachedTable"))
        UANLog("WARNING Failed to insert data to {} from {}", "agTable", "agCachedTable");
    clearDataInTable("agCachedTable");
}

void UACachedDB::loadAGCachedToMemory(UAAggregatedMemory& memory) {
    eachRow(m_db.get(), "SELECT * FROM agCachedTable", [&](sqlite3_stmt* row) {
        auto key = columnText(row, 0);
        if (!key)
            return;
        auto value = std::make_shared<UAAggregatedValue>();
        value->valueSum = sqlite3_column_int64(row, 1);
        value->tsSum = sqlite3_column_int64(row, 2);
        value->twNum = static_cast<int32_t>(sqlite3_column_int64(row, 3));
        value->count = sqlite3_column_int(row, 4);
        value->setLabelsWithString(columnText(row, 5));
        memory[*key] = std::move(value);
    });
}

void UACachedDB::loadAGToContainer(platform::ValueDictionary& container) {
    eachRow(m_db.get(), "SELECT * FROM agTable ORDER BY ck ASC, twNum DESC", [&](sqlite3_stmt* row) {
        auto key = columnText(row, 0);
        if (!key)
            return;
        platform::ValueDictionary item{
            {"v_sum", platform::Value(static_cast<int64_t>(sqlite3_column_int64(row, 1)))},
            {"ts_sum", platform::Value(static_cast<int64_t>(sqlite3_column_int64(row, 2)))},
            {"tw_num", platform::Value(static_cast<uint32_t>(sqlite3_column_int64(row, 3)))},
            {"count", platform::Value(static_cast<int32_t>(sqlite3_column_int(row, 4)))},
        };
        if (auto labels = columnText(row, 5); labels && !labels->empty()) {
            platform::ValueArray list;
            for (auto& label : platform::text::componentsSeparatedByString(*labels, "!"))
                list.emplace_back(std::move(label));
            item.set("labels", platform::Value(std::move(list)));
        }
        append(container, *key, platform::Value(std::move(item)));
    });
}

void UACachedDB::loadVeMetaToContainer(platform::ValueDictionary& container) {
    int64_t rows = rowCountInTable("veMetaTable");
    int64_t lastTimestamp = 0;
    eachRow(m_db.get(), "SELECT * FROM veMetaTable ORDER BY ts ASC", [&](sqlite3_stmt* row) {
        auto key = columnText(row, 0);
        if (!key)
            return;
        lastTimestamp = sqlite3_column_int64(row, 2);
        platform::ValueDictionary item{
            {"value", platform::Value(static_cast<int32_t>(sqlite3_column_int(row, 1)))},
            {"ts", platform::Value(lastTimestamp)}};
        if (auto label = columnText(row, 3); label && !label->empty())
            item.set("label", *label);
        append(container, *key, platform::Value(std::move(item)));
    });
    // The overflow item carries the time stamp of the newest item.
    if (rows >= 129)
        container.set("__meta_ve_of",
                      platform::Value(platform::ValueArray{platform::Value(platform::ValueDictionary{
                          {"value", platform::Value(rows - 128)}, {"ts", platform::Value(lastTimestamp)}})}));
}

void UACachedDB::saveMemory(const UAAggregatedMemory& memory, std::string_view table) {
    if (!isTableName(table))
        return;
    std::string sql = fmt::format(
        "INSERT INTO {} (ck, valueSum, tsSum, twNum, count, labels) VALUES (?, ?, ?, ?, ?, ?)", table);
    for (const auto& [key, value] : memory) {
        auto statement = prepare(m_db.get(), sql);
        if (statement) {
            bindText(statement.get(), 1, key);
            sqlite3_bind_int64(statement.get(), 2, value->valueSum);
            sqlite3_bind_int64(statement.get(), 3, value->tsSum);
            sqlite3_bind_int64(statement.get(), 4, static_cast<uint32_t>(value->twNum));
            sqlite3_bind_int(statement.get(), 5, value->count);
            bindText(statement.get(), 6, UAHelper::arrayToAgStr(value->labels));
        }
        if (!statement || sqlite3_step(statement.get()) != SQLITE_DONE)
            UANLog("WARNING failed to insert data to {}", table);
    }
}
