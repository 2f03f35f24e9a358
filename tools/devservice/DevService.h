#pragma once
// DevService: the live service played on 127.0.0.1 for the main job. It starts, in one place, every peer
// the application meets: the service API (the service stub's world: one account, its room, categories,
// stream key, a captcha picture that shows its code, the avatar at the service's own address, and a
// viewer count that grows while it runs), the chat server the route points to (playing a few viewers'
// lines), an RTMP ingest (nginx with its RTMP module) whose publish hook accepts only the account's
// stream name and key (recording what is published when given a folder), and the analytics collector's
// primary and fallback endpoints (each upload it takes is logged). describe() is what the main job passes on
// to the application.
//
// Promises: construction returns once every peer accepts connections, or throws std::runtime_error
// naming the one that could not start; destruction stops them all (nginx too). Not thread-safe.

#include "platform/foundation/Value.h"
#include "tests/peers/AnalyticsCollector.h"
#include "tests/peers/ChatServer.h"
#include "tests/peers/NginxRtmp.h"
#include "tests/peers/ServiceStub.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace devservice {

struct Account {
    std::string name{"anchor"};
    std::string password{"secret"};
    std::string uid{"42"};
    std::string nick{"主播小王"};
    std::string mobile{"13800138000"};
    std::string streamKey{"key-42"};
};

class DevService {
public:
    // `log` receives one line per event worth telling (a publish accepted, refused or done); may be null.
    // With a `recordFolder`, the ingest records each published stream there (see NginxRtmp).
    explicit DevService(std::FILE* log, std::string recordFolder = {});
    ~DevService();
    DevService(const DevService&) = delete;
    DevService& operator=(const DevService&) = delete;

    // {"serviceURL", "rtmpHost", "chatPort", "collectorURL", "collectorFallbackURL", "account", "password",
    // "captcha", "mobile"}
    platform::Value describe() const;

private:
    void playTheWorld();
    void answerPublish(const liveapp::test::HttpRequest& request, liveapp::test::HttpResponse& response);
    void tell(const std::string& line);
    void moveViewerCount();
    liveapp::test::AnalyticsCollector::Options collectorOptions();

    std::FILE* m_log;
    Account m_account;
    std::string m_captcha;
    liveapp::test::ServiceStub m_service;
    liveapp::test::ChatServer m_chat;
    liveapp::test::AnalyticsCollector m_collector;
    liveapp::test::AnalyticsCollector m_collectorFallback;
    std::unique_ptr<liveapp::test::NginxRtmp> m_ingest;
    std::mutex m_mutex;
    std::condition_variable m_stopping;
    bool m_stopped{false};
    std::thread m_viewers;
};

} // namespace devservice
