#pragma once
// The device identifiers and their changes: wire struct "IdTracking" (1 snapshots, a map of
// texts to IdSnapshot, required; 2 journals, a list of IdJournal; 3 checksum).

#include "analytics/UATIdJournal.h"
#include "analytics/UATIdSnapshot.h"
#include "analytics/UATRecord.h"

#include <cstdint>
#include <optional>
#include <string>

class UATIdTracking final : public uadetail::UATRecordBase<UATIdTracking> {
public:
    UATIdTracking() = default;
    using Snapshots = uadetail::UATRecordMap<UATIdSnapshot>;
    using Journals = uadetail::UATRecordList<UATIdJournal>;

    UATIdTracking(std::optional<Snapshots> snapshots, std::optional<Journals> journals,
                  std::optional<std::string> checksum) {
        setAllFields(std::move(snapshots), std::move(journals), std::move(checksum));
    }

    UAT_FIELD(std::optional<Snapshots>, snapshots, Snapshots)
    UAT_FIELD(std::optional<Journals>, journals, Journals)
    UAT_FIELD(std::optional<std::string>, checksum, Checksum)
private:
    friend class uadetail::UATRecordBase<UATIdTracking>;
    static constexpr const char* kStructName = "IdTracking";
    static auto fields() {
        return std::make_tuple(uadetail::fieldDef(1, "snapshots", true, &UATIdTracking::m_snapshots),
                               uadetail::fieldDef(2, "journals", false, &UATIdTracking::m_journals),
                               uadetail::fieldDef(3, "checksum", false, &UATIdTracking::m_checksum));
    }
};
