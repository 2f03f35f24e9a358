#include "tests/peers/NginxRtmp.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fmt/format.h>
#include <httplib.h>
#include <unistd.h>

namespace liveapp::test {

namespace {

constexpr const char* rtmpModule = "/usr/lib/nginx/modules/ngx_rtmp_module.so";

std::string percentDecode(std::string_view text) {
    auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            decoded += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) && hex(text[i + 2])) {
            decoded += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

} // namespace

bool NginxRtmp::available() {
    return ::access(NginxProcess::binary, X_OK) == 0 && ::access(rtmpModule, R_OK) == 0;
}

NginxRtmp::NginxRtmp(NginxRtmpOptions options)
    : m_process("nginx-rtmp")
    , m_host(options.host)
    , m_port(NginxProcess::freePort(m_host))
    , m_statisticsPort(NginxProcess::freePort("127.0.0.1")) {
    if (!options.recordFolder.empty()) {
        m_recordFolder = std::filesystem::absolute(options.recordFolder);
        std::filesystem::create_directories(m_recordFolder);
    }
    // Every listening socket is open before nginx serves any, so the RTMP port is ready with the
    // statistics one. A port another process took after it was chosen fails the start; fresh ports
    // mend that.
    for (int attempt = 1;; ++attempt) {
        try {
            m_process.start(configuration(options), "127.0.0.1", m_statisticsPort);
            return;
        } catch (const std::exception& failure) {
            if (attempt == 3 || !NginxProcess::startFailedOnATakenPort(failure))
                throw;
        }
        m_port = NginxProcess::freePort(m_host);
        m_statisticsPort = NginxProcess::freePort("127.0.0.1");
    }
}

NginxRtmp::~NginxRtmp() = default;

std::string NginxRtmp::baseURL() const {
    return fmt::format("rtmp://{}:{}", NginxProcess::bracketed(m_host), m_port);
}

std::string NginxRtmp::url(std::string_view pathAndQuery) const {
    return baseURL() + std::string(pathAndQuery);
}

std::string NginxRtmp::configuration(const NginxRtmpOptions& options) const {
    std::string hooks;
    if (!options.onPublishURL.empty())
        hooks += fmt::format("            on_publish {};\n", options.onPublishURL);
    if (!options.onPublishDoneURL.empty())
        hooks += fmt::format("            on_publish_done {};\n", options.onPublishDoneURL);
    // Unique names, so a second publish of one stream never overwrites the first one's recording.
    if (!m_recordFolder.empty())
        hooks += fmt::format(
            "            record all;\n            record_path {};\n            record_unique on;\n",
            m_recordFolder.string());
    return fmt::format(R"(load_module {module};
events {{ worker_connections 128; }}
rtmp {{
    server {{
        listen {host}:{port};
        chunk_size 4096;
        application live {{
            live on;
{hooks}        }}
    }}
}}
http {{
    access_log off;
{paths}
    server {{
        listen 127.0.0.1:{statPort};
        location /stat {{ rtmp_stat all; }}
    }}
}}
)",
                       fmt::arg("module", rtmpModule), fmt::arg("host", NginxProcess::bracketed(m_host)),
                       fmt::arg("port", m_port), fmt::arg("hooks", hooks),
                       fmt::arg("paths", m_process.temporaryPaths()), fmt::arg("statPort", m_statisticsPort));
}

std::string NginxRtmp::statistics() const {
    httplib::Client client("127.0.0.1", m_statisticsPort);
    client.set_connection_timeout(std::chrono::seconds(10));
    client.set_read_timeout(std::chrono::seconds(10));
    auto reply = client.Get("/stat");
    return reply && reply->status == 200 ? reply->body : std::string();
}

uint64_t NginxRtmp::bytesSent() const {
    // The first count on the page is the server's total; streams and clients follow.
    std::string page = statistics();
    auto start = page.find("<bytes_out>");
    return start == std::string::npos ? 0 : std::strtoull(page.c_str() + start + 11, nullptr, 10);
}

std::vector<std::filesystem::path> NginxRtmp::recordings() const {
    return m_recordFolder.empty() ? std::vector<std::filesystem::path>() : recordingsIn(m_recordFolder);
}

std::vector<std::filesystem::path> recordingsIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.is_regular_file() && entry.path().extension() == ".flv")
            found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
}

std::string NginxRtmp::errorLog() const {
    return m_process.errorLog();
}

bool NginxRtmp::isRunning() {
    return m_process.isRunning();
}

void NginxRtmp::kill() {
    m_process.kill();
}

void NginxRtmp::pause() {
    m_process.pause();
}

void NginxRtmp::resume() {
    m_process.resume();
}

std::map<std::string, std::string> parseHookForm(std::string_view body) {
    std::map<std::string, std::string> fields;
    while (!body.empty()) {
        auto end = body.find('&');
        auto pair = body.substr(0, end);
        auto equals = pair.find('=');
        if (!pair.empty())
            fields[percentDecode(pair.substr(0, equals))] =
                equals == std::string_view::npos ? std::string() : percentDecode(pair.substr(equals + 1));
        body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
    }
    return fields;
}

} // namespace liveapp::test
