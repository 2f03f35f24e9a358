#include "analytics/UsageAnalyticsEnvelope.h"

#include "analytics/UAEnvelope.h"
#include "analytics/UAEventMgr.h"
#include "analytics/UAHelper.h"
#include "analytics/UALinks.h"
#include "analytics/UANLog.h"
#include "analytics/UANUtil.h"
#include "analytics/UAPayloadBuild.h"
#include "analytics/UATRecordIO.h"
#include "analytics/UsageAnalyticsApp.h"
#include "analytics/UsageAnalyticsConfig.h"
#include "analytics/UsageAnalyticsInternal.h"
#include "analytics/UsageAnalyticsUtility.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Clock.h"
#include "platform/security/MD5.h"

#include <cmath>
#include <mutex>

namespace {

constexpr size_t kLargestPayload = 4194304;   // 4 MiB: this size and above is refused
constexpr size_t kLargestCompressed = 209920; // 205 KiB: this size and above is refused
constexpr size_t kSignatureLength = 32;

std::optional<platform::Data> storedSignature() {
    auto stored = UsageAnalyticsConfig::dataWithKey("uaSignature");
    return stored && stored->length() == kSignatureLength ? stored : std::nullopt;
}

// "1" encrypts, "0" does not; without a word from the collector the settings decide.
bool shouldEncrypt() {
    auto codex = UAHelper::imprintValueWithKey("codex");
    if (codex == "1")
        return true;
    if (codex == "0")
        return false;
    return UsageAnalyticsApp::sharedInstance()->encryptEnabled();
}

void countOversize(size_t length, const char* label) {
    UAEventMgr::sharedInstance()->addMetaVerbatimItem("__data_size_of", static_cast<int32_t>(length),
                                                      UAHelper::UTCTimeIntervalMS(), label);
}

std::mutex g_cipherMutex;
UsageAnalyticsEnvelope::Cipher g_cipher;

std::optional<platform::Data> encrypted(const platform::Data& entity, const uint8_t* key) {
    UsageAnalyticsEnvelope::Cipher cipher;
    {
        std::lock_guard lock(g_cipherMutex);
        cipher = g_cipher;
    }
    return cipher ? cipher(entity, key) : UsageAnalyticsUtility::AES128EncryptData(entity, key);
}

std::string hex(const platform::Data& data) {
    return UANUtil::bytesToHexString(data.bytes(), static_cast<int64_t>(data.length()));
}

} // namespace

std::shared_ptr<UsageAnalyticsEnvelope> UsageAnalyticsEnvelope::sharedInstance() {
    static const auto envelope = std::make_shared<UsageAnalyticsEnvelope>(PrivateTag{});
    return envelope;
}

void UsageAnalyticsEnvelope::setCipher(Cipher cipher) {
    std::lock_guard lock(g_cipherMutex);
    g_cipher = std::move(cipher);
}

UsageAnalyticsEnvelope::UsageAnalyticsEnvelope(PrivateTag)
    : m_identityMD5(UANUtil::md5BytesWithString(UANUtil::idfv() + UANUtil::openDeviceIDString()))
    , m_signature(storedSignature()) {}

bool UsageAnalyticsEnvelope::makeEnvelopeData() {
    auto entity = entityData();
    double now = platform::Clock::timeIntervalSince1970();
    m_timestamp = static_cast<int32_t>(now);
    auto milliseconds = static_cast<int64_t>(now * 1000);
    auto bytes = toEnvelopeWithEntity(entity);
    bool written = false;
    if (bytes) {
        auto path = UsageAnalyticsUtility::generateEnvelopeFileNameWithTS(std::to_string(milliseconds));
        // Two envelopes within a millisecond must not share a file: the later would be lost.
        while (UsageAnalyticsUtility::isExistAtPath(path))
            path = UsageAnalyticsUtility::generateEnvelopeFileNameWithTS(std::to_string(++milliseconds));
        written = platform::AtomicFile::write(path, *bytes);
        if (written)
            UsageAnalyticsApp::sharedInstance()->setActivateMsgFlag();
    }
    auto serial = UsageAnalyticsConfig::integerWithKey("uaSerialNum").value_or(0);
    UsageAnalyticsConfig::setConfigure(platform::Value(serial + 1), "uaSerialNum");
    checkExchangeData();
    return written;
}

std::optional<platform::Data> UsageAnalyticsEnvelope::entityData() {
    return entityDataWithPayload(UAPayloadBuild::sharedInstance()->payloadData());
}

std::optional<platform::Data>
UsageAnalyticsEnvelope::entityDataWithPayload(const std::optional<platform::Data>& payload) {
    m_length = payload ? static_cast<int32_t>(std::min(payload->length(), kLargestPayload)) : 0;
    std::optional<platform::Data> compressed;
    if (payload && payload->length() >= kLargestPayload) {
        countOversize(payload->length(), "envelope_raw");
        m_length = 0;
    } else if (payload) {
        compressed = UANUtil::deflatedData(*payload);
        if (compressed && compressed->length() >= kLargestCompressed) {
            countOversize(compressed->length(), "envelope_deflated");
            compressed.reset();
        }
    }
    if (compressed)
        return compressed;
    // Refused: what it held goes; only the size counter just recorded travels with the next payload.
    UsageAnalyticsInternal::sharedInstance()->removeCacheData();
    UAEventMgr::sharedInstance()->clearEventsWithMeta(false);
    return std::nullopt;
}

std::optional<platform::Data>
UsageAnalyticsEnvelope::toEnvelopeWithEntity(const std::optional<platform::Data>& entity) {
    if (!entity)
        return std::nullopt;
    auto envelope = std::make_shared<UAEnvelope>();
    envelope->setVersion("V1.0");
    if (auto key = uadetail::settingsLink()->appid(); !key.empty())
        envelope->setAddress(key);
    auto body = *entity;
    m_entityMD5 = platform::md5(body);
    if (auto stored = storedSignature()) {
        m_signature = stored;
        buildGUIDWithData(m_signature->bytes());
    } else {
        buildGUIDWithData(nullptr);
        setSignatureWithData(m_guid);
        buildGUIDWithData(m_signature->bytes());
    }
    bool encrypt = shouldEncrypt();
    if (encrypt) {
        // Sending in the clear what was meant to be encrypted would leak it: no envelope this time,
        // and the records stay for a later one.
        auto cipher = encrypted(body, m_signature->bytes() + 1);
        if (!cipher) {
            UANLog("ERROR: the envelope could not be encrypted; its records wait for the next one.");
            return std::nullopt;
        }
        body = *cipher;
        m_entityMD5 = platform::md5(body);
        buildGUIDWithData(m_signature->bytes());
    }
    envelope->setCodex(encrypt ? 1 : 0);
    buildSerialNum();
    envelope->setSerial_num(m_serialNum);
    envelope->setEntity(body);
    envelope->setLength(m_length);
    envelope->setTs_secs(m_timestamp);
    m_guidString = hex(m_guid);
    m_signatureString = hex(*m_signature);
    envelope->setGuid(m_guidString);
    envelope->setSignature(m_signatureString);
    generateChecksum();
    envelope->setChecksum(m_checksum);
    // Checked before anything is stored: a file of partial bytes would be refused by the collector
    // and would cost the records it replaced.
    try {
        envelope->validate();
    } catch (const UATException& e) {
        uadetail::logException(e);
        return std::nullopt;
    }
    return uadetail::dataFromRecord(*envelope);
}

void UsageAnalyticsEnvelope::buildGUIDWithData(const uint8_t* signature) {
    auto merged = mergeEntityAndIdentity();
    std::array<uint8_t, kSignatureLength> bytes{};
    std::copy_n(merged.bytes(), kSignatureLength, bytes.begin());
    for (size_t i : {size_t{0}, size_t{1}, size_t{30}, size_t{31}})
        bytes[i] = signature ? signature[i] : 0;
    auto stamp = static_cast<uint32_t>(m_timestamp);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] ^= static_cast<uint8_t>(stamp >> (8 * (i % 4)));
    m_guid = platform::Data(bytes.data(), bytes.size());
}

void UsageAnalyticsEnvelope::setSignatureWithData(const platform::Data& data) {
    m_signature = data;
    if (!storedSignature())
        UsageAnalyticsConfig::setConfigure(platform::Value(data), "uaSignature");
}

platform::Data UsageAnalyticsEnvelope::mergeEntityAndIdentity() const {
    std::array<uint8_t, kSignatureLength> merged{};
    for (size_t i = 0; i < merged.size(); ++i) {
        size_t half = i / 2;
        merged[i] = i % 2 == 0 ? m_entityMD5[half]
                               : (half < m_identityMD5.length() ? m_identityMD5.bytes()[half] : 0);
    }
    return platform::Data(merged.data(), merged.size());
}

void UsageAnalyticsEnvelope::generateChecksum() {
    m_checksum = platform::md5Hex(
        fmt::format("{}{}{}{}{}", m_signatureString, m_serialNum, m_timestamp, m_length, m_guidString));
}

void UsageAnalyticsEnvelope::buildSerialNum() {
    auto stored = UsageAnalyticsConfig::integerWithKey("uaSerialNum");
    if (!stored) {
        m_serialNum = 1;
        UsageAnalyticsConfig::setConfigure(platform::Value(1), "uaSerialNum");
        return;
    }
    m_serialNum = static_cast<int32_t>(*stored);
}

void UsageAnalyticsEnvelope::checkExchangeData() {
    if (m_signatureString.empty() || !m_signature) {
        UANLog("WARNING signature is nil.");
        return;
    }
    platform::ValueDictionary identity{{"appkey", uadetail::settingsLink()->appid()}};
    if (auto uaid = UAHelper::imprintValueWithKey("uaid"); uaid && !uaid->empty())
        identity.set("uaid", *uaid);
    identity.set("signature", m_signatureString);
    auto middle = UANUtil::bytesToHexString(m_signature->bytes() + 2, 16);
    identity.set("checksum", UANUtil::md5(middle));
    auto text = UANUtil::JSONFragment(platform::Value(std::move(identity)));
    if (!text)
        return;
    platform::Data bytes{std::string_view(*text)};
    auto path = UsageAnalyticsUtility::exchangeIdentityPath();
    if (!UsageAnalyticsUtility::isExistAtPath(path)) {
        UsageAnalyticsUtility::saveData(bytes, path);
        return;
    }
    auto current = platform::AtomicFile::read(path);
    if (!current || !(*current == bytes))
        platform::AtomicFile::write(path, bytes);
}
