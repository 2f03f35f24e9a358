#pragma once
// The analytics payload and the two pieces of state the collector sends back. A payload is one
// compact JSON object: "header" (the device, the application, the library and the installation's
// stored state) and "body" (the pipeline's sessions, events, crash records and counters), rebuilt from
// scratch for each envelope. The imprint (the collector's named settings, stored under "uaImprint")
// lives only in storage and is parsed afresh on every read; the id tracking (snapshots and change
// journals of the device identifiers, "uaIDTracking") is kept here and acknowledged by replies.
//
// Payloads are built on the main thread; verifyResponseData runs on the upload queue. The two meet in
// the configuration store and in the id tracking, which is guarded. Stored or received records that
// do not read are printed ("Exception occurred: ...") and used as far as they were read.

#include "analytics/UANBaseEvent.h"
#include "analytics/UATIdTracking.h"
#include "analytics/UATImprint.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

class UAPayloadBuild final : public platform::Object {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    static std::shared_ptr<UAPayloadBuild> sharedInstance();
    explicit UAPayloadBuild(PrivateTag);

    // The UTF-8 JSON of a fresh header and body; nothing when the conversion fails.
    std::optional<platform::Data> payloadData();
    void buildHeaderSeg();
    void buildBodySeg();
    void buildErrors();
    void buildEvents();
    void addEvent(const std::shared_ptr<UANBaseEvent>& record);
    void buildCCEvents();
    void buildSessions();
    const platform::ValueDictionary& jsonObject() const { return m_jsonObject; }

    // Reads a reply; with result code 1 it acknowledges the id tracking and applies a received imprint
    // whose checksum holds. Whether the result code is 1.
    bool verifyResponseData(const platform::Data& data);

    static std::optional<std::string> imprintPropertyValueWithKey(std::string_view key);
    static bool validateImprintChecksum(const std::shared_ptr<UATImprint>& imprint);
    // The lowercase MD5 of the entries (keys sorted without regard to case) and the version.
    static std::string generateImprintChecksum(const UATImprint& imprint);
    // Merges a received imprint into the stored one and applies the settings it carries.
    static void updateImprint(const UATImprint& imprint);

    void buildIdTracking();
    void generateIdTracking();
    void saveIdTracking();
    // The tracking as it stands; it is replaced, never changed, once handed out.
    std::shared_ptr<UATIdTracking> idTracking() const;

private:
    void storeIdTracking();

    mutable std::mutex m_trackingMutex;
    std::shared_ptr<UATIdTracking> m_idTracking;
    platform::ValueDictionary m_jsonObject;
    platform::ValueDictionary m_body;
    platform::ValueDictionary m_ekvs;
    platform::ValueDictionary m_gkvs;
};
