#pragma once
// The analytics collector as the library meets it, played by an HTTP server peer on loopback (an
// ephemeral port): POST "/app_logs" takes one envelope. Each envelope is checked as the real collector
// would: its checksum, decryption when codex is 1 (keyed by its signature), inflation to the length it
// states, JSON, and serial numbers that rise per installation signature. The answer is the scripted
// reply, else a 200 "application/thrift" Response with result code 1 (0, with the problem as its
// message, when a check failed).
//
// Promises: every upload is recorded (the request, the envelope's fields, the payload, the verdict)
// before it is held or answered. One-time scripted replies come first, in order, then the standing
// one. Thread-safe; stopping (or destroying) the collector opens every gate. Needs no GoogleTest.
//
//     AnalyticsCollector primary, fallback;
//     setenv("LIVEAPP_COLLECTOR_URL", primary.baseURL().c_str(), 1);
//     primary.scriptOnce(AnalyticsCollector::reply(1, {{"defcon", "2"}}));

#include "platform/foundation/Value.h"
#include "tests/peers/HttpGate.h"
#include "tests/peers/HttpMessage.h"
#include "tests/peers/HttpServer.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace liveapp::test {

class AnalyticsCollector {
public:
    struct Options {
        std::string host{"127.0.0.1"};
        std::function<void(std::string_view line)> log; // one line per upload, when set
    };

    struct Upload {
        HttpRequest request;
        std::string address;   // the application key
        std::string signature; // 64 hexadecimal digits
        std::string guid;      // 64 hexadecimal digits
        int32_t serialNum{0};
        int32_t codex{0};
        int32_t length{0};
        platform::Value payload; // the JSON payload, nil when it did not check out
        std::string problem;     // empty when every check held
    };

    // One entry of a reply's imprint; no value deletes the entry the library keeps.
    struct ImprintEntry {
        std::string key;
        std::optional<std::string> value;
        int64_t ts{1};
        std::string guid{"g"};
    };

    AnalyticsCollector();
    explicit AnalyticsCollector(Options options);
    ~AnalyticsCollector();
    AnalyticsCollector(const AnalyticsCollector&) = delete;
    AnalyticsCollector& operator=(const AnalyticsCollector&) = delete;

    std::string baseURL() const { return m_server.baseURL(); } // the library appends "/app_logs"
    HttpServer& server() { return m_server; }
    void stop() { m_server.stop(); }

    std::vector<Upload> uploads() const;
    bool waitForUploads(size_t count) const { return m_server.waitForRequests(count); }

    void script(HttpResponse response);     // every later upload
    void scriptOnce(HttpResponse response); // the next upload only
    // Later uploads wait until the gate opens (or the collector stops), then are answered.
    std::shared_ptr<HttpGate> hold();

    // A 200 "application/thrift" Response with the result code and, when entries are given, an
    // imprint of that version whose checksum holds (or, with `goodChecksum` false, does not).
    static HttpResponse reply(int32_t resultCode, const std::vector<ImprintEntry>& imprint = {},
                              int32_t version = 1, bool goodChecksum = true);
    // The collector's own reckoning of an imprint checksum: the entries sorted by key without regard
    // to case, each as key, value (when present), ts and guid, then the version; lowercase MD5.
    static std::string imprintChecksum(std::vector<ImprintEntry> entries, int32_t version);

private:
    void serve(const HttpRequest& request, HttpResponse& response);
    Upload check(const HttpRequest& request);
    HttpResponse nextReply(const Upload& upload);

    Options m_options;
    mutable std::mutex m_mutex;
    std::vector<Upload> m_uploads;
    std::map<std::string, int32_t> m_lastSerial; // by signature
    HttpScript m_script;
    HttpServer m_server; // last: its threads call back into the members above
};

} // namespace liveapp::test
