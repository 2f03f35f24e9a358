#pragma once
// The collector's settings: wire struct "Imprint" (1 property, a map of texts to ImprintValue;
// 2 version; 3 checksum; all required).

#include "analytics/UATImprintValue.h"
#include "analytics/UATRecord.h"

#include <cstdint>
#include <optional>
#include <string>

class UATImprint final : public uadetail::UATRecordBase<UATImprint> {
public:
    UATImprint() = default;
    using Properties = uadetail::UATRecordMap<UATImprintValue>;

    UATImprint(std::optional<Properties> property, int32_t version, std::optional<std::string> checksum) {
        setAllFields(std::move(property), version, std::move(checksum));
    }

    UAT_FIELD(std::optional<Properties>, property, Property)
    UAT_FIELD(int32_t, version, Version)
    UAT_FIELD(std::optional<std::string>, checksum, Checksum)
private:
    friend class uadetail::UATRecordBase<UATImprint>;
    static constexpr const char* kStructName = "Imprint";
    static auto fields() {
        return std::make_tuple(uadetail::fieldDef(1, "property", true, &UATImprint::m_property),
                               uadetail::fieldDef(2, "version", true, &UATImprint::m_version),
                               uadetail::fieldDef(3, "checksum", true, &UATImprint::m_checksum));
    }
};
