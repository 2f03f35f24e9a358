#include "tests/peers/AnalyticsCollector.h"

#include "analytics/UAEnvelope.h"
#include "analytics/UATBinaryProtocol.h"
#include "analytics/UATMemoryBuffer.h"
#include "analytics/UATResponse.h"
#include "analytics/UsageAnalyticsUtility.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/Text.h"
#include "platform/security/MD5.h"

#include <algorithm>
#include <fmt/format.h>
#include <zlib.h>

namespace liveapp::test {

namespace {

constexpr const char* kThrift = "application/thrift";

std::optional<std::vector<uint8_t>> fromHex(const std::string& text) {
    if (text.size() % 2)
        return std::nullopt;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        if (std::sscanf(text.c_str() + i, "%2x", &value) != 1)
            return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return bytes;
}

std::optional<std::string> inflated(const platform::Data& entity, int32_t length) {
    if (length < 0)
        return std::nullopt;
    std::string out(static_cast<size_t>(length), '\0');
    uLongf size = static_cast<uLongf>(length);
    if (uncompress(reinterpret_cast<Bytef*>(out.data()), &size, entity.bytes(), entity.length()) != Z_OK ||
        size != static_cast<uLongf>(length))
        return std::nullopt;
    return out;
}

platform::Data serialized(const UATResponse& response) {
    auto buffer = std::make_shared<UATMemoryBuffer>();
    UATBinaryProtocol protocol(buffer);
    response.write(protocol);
    return buffer->getBuffer();
}

} // namespace

AnalyticsCollector::AnalyticsCollector()
    : AnalyticsCollector(Options{}) {}

AnalyticsCollector::AnalyticsCollector(Options options)
    : m_options(std::move(options))
    , m_server(HttpServerOptions{m_options.host}) {
    m_server.route("POST", "/app_logs",
                   [this](const HttpRequest& request, HttpResponse& response) { serve(request, response); });
}

AnalyticsCollector::~AnalyticsCollector() {
    m_server.stop();
}

std::vector<AnalyticsCollector::Upload> AnalyticsCollector::uploads() const {
    std::lock_guard lock(m_mutex);
    return m_uploads;
}

void AnalyticsCollector::script(HttpResponse response) {
    std::lock_guard lock(m_mutex);
    m_script.standing = std::move(response);
}

void AnalyticsCollector::scriptOnce(HttpResponse response) {
    std::lock_guard lock(m_mutex);
    m_script.once.push_back(std::move(response));
}

std::shared_ptr<HttpGate> AnalyticsCollector::hold() {
    auto gate = m_server.makeGate();
    std::lock_guard lock(m_mutex);
    m_script.hold = gate;
    return gate;
}

void AnalyticsCollector::serve(const HttpRequest& request, HttpResponse& response) {
    auto upload = check(request);
    std::shared_ptr<HttpGate> gate;
    {
        std::lock_guard lock(m_mutex);
        m_uploads.push_back(upload);
        gate = m_script.hold;
    }
    if (m_options.log) {
        m_options.log(upload.problem.empty()
                          ? fmt::format("collector: accepted envelope {} of {} ({} payload bytes)",
                                        upload.serialNum, upload.address, upload.length)
                          : fmt::format("collector: refused an envelope: {}", upload.problem));
    }
    if (gate)
        gate->wait();
    response = nextReply(upload);
}

AnalyticsCollector::Upload AnalyticsCollector::check(const HttpRequest& request) {
    Upload upload;
    upload.request = request;
    auto envelope = std::make_shared<UAEnvelope>();
    try {
        UATBinaryProtocol protocol(
            std::make_shared<UATMemoryBuffer>(platform::Data(std::string_view(request.body))));
        envelope->read(protocol);
        envelope->validate();
    } catch (const UATException& e) {
        upload.problem = "unreadable envelope: " + e.reason();
        return upload;
    }
    upload.address = envelope->address().value_or("");
    upload.signature = envelope->signature().value_or("");
    upload.guid = envelope->guid().value_or("");
    upload.serialNum = envelope->serial_num();
    upload.codex = envelope->codexIsSet() ? envelope->codex() : 0;
    upload.length = envelope->length();
    auto expected = platform::md5Hex(fmt::format("{}{}{}{}{}", upload.signature, upload.serialNum,
                                                 envelope->ts_secs(), upload.length, upload.guid));
    if (expected != envelope->checksum()) {
        upload.problem = "checksum mismatch";
        return upload;
    }
    auto entity = *envelope->entity();
    if (upload.codex == 1) {
        auto signature = fromHex(upload.signature);
        auto plain = signature && signature->size() == 32
                         ? UsageAnalyticsUtility::AES128DecryptData(entity, signature->data() + 1)
                         : std::nullopt;
        if (!plain) {
            upload.problem = "undecryptable entity";
            return upload;
        }
        entity = *plain;
    }
    auto text = inflated(entity, upload.length);
    if (!text) {
        upload.problem = "entity does not inflate to its length";
        return upload;
    }
    upload.payload = platform::JSONSerialization::JSONObjectWithData(platform::Data(std::string_view(*text)));
    if (!upload.payload.dictionary()) {
        upload.problem = "payload is not a JSON object";
        return upload;
    }
    std::lock_guard lock(m_mutex);
    auto last = m_lastSerial.find(upload.signature);
    if (last != m_lastSerial.end() && upload.serialNum <= last->second) {
        upload.problem = fmt::format("serial number {} after {}", upload.serialNum, last->second);
        return upload;
    }
    m_lastSerial[upload.signature] = upload.serialNum;
    return upload;
}

HttpResponse AnalyticsCollector::nextReply(const Upload& upload) {
    std::lock_guard lock(m_mutex);
    return m_script.next().value_or(reply(upload.problem.empty() ? 1 : 0));
}

HttpResponse AnalyticsCollector::reply(int32_t resultCode, const std::vector<ImprintEntry>& entries,
                                       int32_t version, bool goodChecksum) {
    std::shared_ptr<UATImprint> imprint;
    if (!entries.empty()) {
        UATImprint::Properties properties;
        for (const auto& entry : entries)
            properties[entry.key] = std::make_shared<UATImprintValue>(entry.value, entry.ts, entry.guid);
        auto checksum = imprintChecksum(entries, version);
        if (!goodChecksum)
            checksum[0] = checksum[0] == '0' ? '1' : '0';
        imprint = std::make_shared<UATImprint>(std::move(properties), version, checksum);
    }
    UATResponse response(resultCode, "ok", imprint);
    if (!imprint)
        response.unsetImprint();
    return HttpResponse::text(200, serialized(response).toString(), kThrift);
}

std::string AnalyticsCollector::imprintChecksum(std::vector<ImprintEntry> entries, int32_t version) {
    std::stable_sort(entries.begin(), entries.end(), [](const ImprintEntry& a, const ImprintEntry& b) {
        return platform::text::lowercaseASCII(a.key) < platform::text::lowercaseASCII(b.key);
    });
    std::string text;
    for (const auto& entry : entries)
        text += entry.key + entry.value.value_or("") + std::to_string(entry.ts) + entry.guid;
    return platform::md5Hex(text + std::to_string(version));
}

} // namespace liveapp::test
