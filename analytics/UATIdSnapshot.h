#pragma once
// One identifier's last known value: wire struct "IdSnapshot" (1 identity, 2 ts, 3 version; all
// required).

#include "analytics/UATRecord.h"

#include <cstdint>
#include <optional>
#include <string>

class UATIdSnapshot final : public uadetail::UATRecordBase<UATIdSnapshot> {
public:
    UATIdSnapshot() = default;
    UATIdSnapshot(std::optional<std::string> identity, int64_t ts, int32_t version) {
        setAllFields(std::move(identity), ts, version);
    }

    UAT_FIELD(std::optional<std::string>, identity, Identity)
    UAT_FIELD(int64_t, ts, Ts)
    UAT_FIELD(int32_t, version, Version)
private:
    friend class uadetail::UATRecordBase<UATIdSnapshot>;
    static constexpr const char* kStructName = "IdSnapshot";
    static auto fields() {
        return std::make_tuple(uadetail::fieldDef(1, "identity", true, &UATIdSnapshot::m_identity),
                               uadetail::fieldDef(2, "ts", true, &UATIdSnapshot::m_ts),
                               uadetail::fieldDef(3, "version", true, &UATIdSnapshot::m_version));
    }
};
