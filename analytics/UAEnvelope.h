#pragma once
// One upload, as stored in an envelope file and sent as a request body: wire struct "UAEnvelope"
// (1 version, 2 address, 3 signature, 4 serial_num, 5 ts_secs, 6 length, 7 entity (binary), 8 guid,
// 9 checksum, all required; 10 codex).

#include "analytics/UATRecord.h"
#include "platform/foundation/Data.h"

#include <cstdint>
#include <optional>
#include <string>

class UAEnvelope final : public uadetail::UATRecordBase<UAEnvelope> {
public:
    UAEnvelope() = default;
    UAEnvelope(std::optional<std::string> version, std::optional<std::string> address,
               std::optional<std::string> signature, int32_t serial_num, int32_t ts_secs, int32_t length,
               std::optional<platform::Data> entity, std::optional<std::string> guid,
               std::optional<std::string> checksum, int32_t codex) {
        setAllFields(std::move(version), std::move(address), std::move(signature), serial_num, ts_secs,
                     length, std::move(entity), std::move(guid), std::move(checksum), codex);
    }

    UAT_FIELD(std::optional<std::string>, version, Version)
    UAT_FIELD(std::optional<std::string>, address, Address)
    UAT_FIELD(std::optional<std::string>, signature, Signature)
    UAT_FIELD(int32_t, serial_num, Serial_num)
    UAT_FIELD(int32_t, ts_secs, Ts_secs)
    UAT_FIELD(int32_t, length, Length)
    UAT_FIELD(std::optional<platform::Data>, entity, Entity)
    UAT_FIELD(std::optional<std::string>, guid, Guid)
    UAT_FIELD(std::optional<std::string>, checksum, Checksum)
    UAT_FIELD(int32_t, codex, Codex)
private:
    friend class uadetail::UATRecordBase<UAEnvelope>;
    static constexpr const char* kStructName = "UAEnvelope";
    static auto fields() {
        return std::make_tuple(uadetail::fieldDef(1, "version", true, &UAEnvelope::m_version),
                               uadetail::fieldDef(2, "address", true, &UAEnvelope::m_address),
                               uadetail::fieldDef(3, "signature", true, &UAEnvelope::m_signature),
                               uadetail::fieldDef(4, "serial_num", true, &UAEnvelope::m_serial_num),
                               uadetail::fieldDef(5, "ts_secs", true, &UAEnvelope::m_ts_secs),
                               uadetail::fieldDef(6, "length", true, &UAEnvelope::m_length),
                               uadetail::fieldDef(7, "entity", true, &UAEnvelope::m_entity),
                               uadetail::fieldDef(8, "guid", true, &UAEnvelope::m_guid),
                               uadetail::fieldDef(9, "checksum", true, &UAEnvelope::m_checksum),
                               uadetail::fieldDef(10, "codex", false, &UAEnvelope::m_codex));
    }
};
