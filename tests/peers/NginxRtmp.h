#pragma once
// A real RTMP ingest for tests: nginx with its RTMP module, run from a temporary prefix with its own
// configuration, pid file, logs and temporary folders, listening on a free loopback port. An
// application "live" accepts publishing; its on_publish and on_publish_done hooks call the HTTP URLs
// the test gives (an in-process HttpServer), so the test sees the app, the stream name and the key and
// decides whether the publish is allowed. The statistics page (/stat on its own HTTP port) shows the
// streams and the metadata they sent. With a recording folder, the application also records every
// stream published to it there, whole, as <name>-<unix time>.flv: a recording is complete once its
// on_publish_done hook was called (or the server stopped), as the file is closed before the hook goes.
//
// Promises: the constructor returns once the server accepts connections, or throws
// std::runtime_error with the error log. The destructor always kills and reaps the server and
// removes the prefix, also when the test failed; if the test program dies, the kernel kills nginx
// (parent-death signal). Not thread-safe: use from the test's thread.

#include "tests/peers/NginxProcess.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace liveapp::test {

struct NginxRtmpOptions {
    std::string host{"127.0.0.1"}; // or "::1" (see HttpServer::ipv6LoopbackAvailable)
    std::string onPublishURL;      // "http://127.0.0.1:PORT/on_publish"; empty: no hook
    std::string onPublishDoneURL;
    std::string recordFolder; // made if missing; empty: no recording
};

class NginxRtmp {
public:
    // Whether nginx and its RTMP module are installed.
    static bool available();

    explicit NginxRtmp(NginxRtmpOptions options = {});
    ~NginxRtmp();
    NginxRtmp(const NginxRtmp&) = delete;
    NginxRtmp& operator=(const NginxRtmp&) = delete;

    uint16_t port() const { return m_port; }
    // "rtmp://127.0.0.1:PORT", "rtmp://[::1]:PORT"
    std::string baseURL() const;
    // baseURL() + pathAndQuery ("/live/42?key=k")
    std::string url(std::string_view pathAndQuery) const;

    // The statistics page (XML); empty when the server does not answer.
    std::string statistics() const;
    std::string errorLog() const;
    // What the server has sent to all its RTMP clients so far (from the statistics page; 0 when it
    // does not answer).
    uint64_t bytesSent() const;
    // recordingsIn() the recording folder; empty without one.
    std::vector<std::filesystem::path> recordings() const;

    bool isRunning();
    // Kills the server at once (SIGKILL) and reaps it, as a crashed ingest would vanish.
    void kill();
    // Halts the server (SIGSTOP) with its connections open, as a hung ingest would; resume() lets it
    // go on. The destructor kills a halted server too.
    void pause();
    void resume();

private:
    std::string configuration(const NginxRtmpOptions& options) const;

    NginxProcess m_process;
    std::string m_host;
    uint16_t m_port{0};
    uint16_t m_statisticsPort{0};
    std::filesystem::path m_recordFolder;
};

// The recordings (*.flv) in `folder`, oldest first (by name: one stream's names sort by time).
std::vector<std::filesystem::path> recordingsIn(const std::filesystem::path& folder);

// The fields of an on_publish / on_publish_done call (an application/x-www-form-urlencoded body).
std::map<std::string, std::string> parseHookForm(std::string_view body);

} // namespace liveapp::test
