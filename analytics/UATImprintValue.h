#pragma once
// One setting the collector sends: wire struct "ImprintValue" (1 value optional, 2 ts, 3 guid).

#include "analytics/UATRecord.h"

#include <cstdint>
#include <optional>
#include <string>

class UATImprintValue final : public uadetail::UATRecordBase<UATImprintValue> {
public:
    UATImprintValue() = default;
    UATImprintValue(std::optional<std::string> value, int64_t ts, std::optional<std::string> guid) {
        setAllFields(std::move(value), ts, std::move(guid));
    }

    UAT_FIELD(std::optional<std::string>, value, Value)
    UAT_FIELD(int64_t, ts, Ts)
    UAT_FIELD(std::optional<std::string>, guid, Guid)
private:
    friend class uadetail::UATRecordBase<UATImprintValue>;
    static constexpr const char* kStructName = "ImprintValue";
    static auto fields() {
        return std::make_tuple(uadetail::fieldDef(1, "value", false, &UATImprintValue::m_value),
                               uadetail::fieldDef(2, "ts", true, &UATImprintValue::m_ts),
                               uadetail::fieldDef(3, "guid", true, &UATImprintValue::m_guid));
    }
};
