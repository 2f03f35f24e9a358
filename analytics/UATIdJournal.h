#pragma once
// One change of an identifier: wire struct "IdJournal" (1 domain, 2 old_id optional, 3 new_id,
// 4 ts).

#include "analytics/UATRecord.h"

#include <cstdint>
#include <optional>
#include <string>

class UATIdJournal final : public uadetail::UATRecordBase<UATIdJournal> {
public:
    UATIdJournal() = default;
    UATIdJournal(std::optional<std::string> domain, std::optional<std::string> old_id,
                 std::optional<std::string> new_id, int64_t ts) {
        setAllFields(std::move(domain), std::move(old_id), std::move(new_id), ts);
    }

    UAT_FIELD(std::optional<std::string>, domain, Domain)
    UAT_FIELD(std::optional<std::string>, old_id, Old_id)
    UAT_FIELD(std::optional<std::string>, new_id, New_id)
    UAT_FIELD(int64_t, ts, Ts)
private:
    friend class uadetail::UATRecordBase<UATIdJournal>;
    static constexpr const char* kStructName = "IdJournal";
    static auto fields() {
        return std::make_tuple(uadetail::fieldDef(1, "domain", true, &UATIdJournal::m_domain),
                               uadetail::fieldDef(2, "old_id", false, &UATIdJournal::m_old_id),
                               uadetail::fieldDef(3, "new_id", true, &UATIdJournal::m_new_id),
                               uadetail::fieldDef(4, "ts", true, &UATIdJournal::m_ts));
    }
};
