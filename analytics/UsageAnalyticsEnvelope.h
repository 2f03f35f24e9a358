#pragma once
// Envelope building: the current payload, compressed, refused when too large (4 MiB raw, 205 KiB
// compressed: its records are dropped and only a size counter reports it), encrypted when the collector
// asks (imprint "codex" 1) or the settings do, wrapped in a UAEnvelope with a serial number, the time,
// a per-envelope guid, the installation signature and a checksum, and stored as an envelope file for
// the upload worker. The first envelope of an installation makes the signature ("uaSignature"), which
// never changes afterwards; the identity file "exchangeIdentity.json" follows it.
//
// An envelope that would lack a required field, or that should be encrypted and cannot be, is not
// written (the recorded data stays for the next attempt); a file name already taken moves to the next free
// millisecond. makeEnvelopeData answers whether a file was written. Main thread; the fields describe the last
// envelope built.

#include "platform/foundation/Data.h"
#include "platform/foundation/Object.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class UsageAnalyticsEnvelope final : public platform::Object {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    // Encrypts an entity with the 16 key bytes given; nothing on failure.
    using Cipher =
        std::function<std::optional<platform::Data>(const platform::Data& entity, const uint8_t* key)>;

    static std::shared_ptr<UsageAnalyticsEnvelope> sharedInstance();
    // An empty cipher restores the library's AES-128-CBC (tests make it fail).
    static void setCipher(Cipher cipher);
    explicit UsageAnalyticsEnvelope(PrivateTag);

    bool makeEnvelopeData();
    // The compressed payload, or nothing when it is refused.
    std::optional<platform::Data> entityData();
    // The same for a given payload (nothing stands for a payload that could not be made).
    std::optional<platform::Data> entityDataWithPayload(const std::optional<platform::Data>& payload);
    // The serialised envelope, or nothing for no entity or an envelope that cannot be complete.
    std::optional<platform::Data> toEnvelopeWithEntity(const std::optional<platform::Data>& entity);
    void buildGUIDWithData(const uint8_t* signature);
    void setSignatureWithData(const platform::Data& data);
    platform::Data mergeEntityAndIdentity() const;
    void generateChecksum();
    void buildSerialNum();
    void checkExchangeData();

    const std::optional<platform::Data>& signature() const { return m_signature; }
    void setSignature(std::optional<platform::Data> signature) { m_signature = std::move(signature); }
    const platform::Data& guid() const { return m_guid; }
    void setGuid(platform::Data guid) { m_guid = std::move(guid); }
    const std::string& checksum() const { return m_checksum; }
    int32_t serialNum() const { return m_serialNum; }
    int32_t timestamp() const { return m_timestamp; }

private:
    platform::Data m_identityMD5;
    std::array<uint8_t, 16> m_entityMD5{};
    std::string m_signatureString;
    std::string m_guidString;
    std::string m_checksum;
    int32_t m_timestamp{0};
    int32_t m_serialNum{0};
    int32_t m_length{0};
    std::optional<platform::Data> m_signature;
    platform::Data m_guid;
};
