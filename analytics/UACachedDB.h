#pragma once
// The analytics' local database "cache.db" in the SDK directory: the counters of the open time window
// ("agCachedTable", rewritten while the window is open), those of closed windows waiting for upload
// ("agTable") and verbatim meta items ("veMetaTable", one per key and time stamp). Rows come back in the
// upload form the payload carries ("v_sum", "ts_sum", "tw_num", "count", "labels"; "value", "ts",
// "label").
//
// Every value is bound to a prepared statement, so a quote in a key or label is only text. A file that
// is not a database, or is corrupt, is found when the tables are made at open: it is closed, logged
// ("ERROR failed to open db connection"), removed and made afresh. Failures are conditional log lines
// and answers of NO, 0 or nothing changed; nothing throws. Used from the analytics pipeline's thread only.

#include "analytics/UAAggregatedValue.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;

using UAAggregatedMemory = std::map<std::string, std::shared_ptr<UAAggregatedValue>>;

class UACachedDB final : public platform::Object {
public:
    static std::shared_ptr<UACachedDB> sharedInstance();

    void initDB();
    void closeDB();
    bool isOpen() const { return static_cast<bool>(m_db); }
    bool runSql(std::string_view sql);
    void verifyAGTableWithName(std::string_view name);
    void verifyVETableWithName(std::string_view name);
    void clearDataInTable(std::string_view name);
    int64_t rowCountInTable(std::string_view name);

    void insertMetaVerbatimItem(const std::string& key, int32_t value, uint64_t timestamp,
                                const std::string& label);
    // Moves the open window's snapshot into "agTable"; the snapshot is emptied even when the move fails.
    void transferCachedToAgTable();
    void loadAGCachedToMemory(UAAggregatedMemory& memory);
    // key -> counters, keys ascending and windows newest first.
    void loadAGToContainer(platform::ValueDictionary& container);
    // key -> items by time stamp; beyond 128 items "__meta_ve_of" counts the excess.
    void loadVeMetaToContainer(platform::ValueDictionary& container);
    void saveMemory(const UAAggregatedMemory& memory, std::string_view table);

private:
    bool open();
    // SQLite's result of making a table (the failure logged).
    int createTable(std::string_view name, bool counters);

    struct Closer {
        void operator()(sqlite3* db) const;
    };
    std::unique_ptr<sqlite3, Closer> m_db;
};
