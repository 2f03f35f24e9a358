#include "tools/devservice/DevService.h"

#include "platform/foundation/Text.h"
#include "tools/devservice/Pictures.h"

#include <chrono>
#include <fmt/format.h>
#include <random>

using liveapp::test::HttpRequest;
using liveapp::test::HttpResponse;
using platform::Value;

namespace devservice {

namespace {

constexpr auto kViewerLinesInterval = std::chrono::milliseconds(1500);
constexpr auto kViewerCountInterval = std::chrono::seconds(2);

std::string randomCaptcha() {
    std::random_device device;
    return fmt::format("{:04}", std::uniform_int_distribution<int>(0, 9999)(device));
}

HttpResponse png(std::string bytes) {
    HttpResponse response;
    response.body = std::move(bytes);
    response.header("Content-Type", "image/png");
    return response;
}

} // namespace

DevService::DevService(std::FILE* log, std::string recordFolder)
    : m_log(log)
    , m_captcha(randomCaptcha())
    , m_collector(collectorOptions())
    , m_collectorFallback(collectorOptions()) {
    playTheWorld();
    liveapp::test::NginxRtmpOptions ingest;
    ingest.onPublishURL = m_service.server().url("/on_publish");
    ingest.onPublishDoneURL = m_service.server().url("/on_publish_done");
    ingest.recordFolder = std::move(recordFolder);
    m_ingest = std::make_unique<liveapp::test::NginxRtmp>(ingest);
    m_chat.playViewers(kViewerLinesInterval);
    m_viewers = std::thread([this] { moveViewerCount(); });
}

DevService::~DevService() {
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    m_stopping.notify_all();
    if (m_viewers.joinable())
        m_viewers.join();
    m_chat.stop();
    m_collector.stop();
    m_collectorFallback.stop();
    m_ingest.reset();
    m_service.stop();
}

void DevService::playTheWorld() {
    auto& server = m_service.server();
    const std::string avatar = server.url("/avatar/" + m_account.uid + ".png");
    m_service.addAccount(m_account.name, m_account.password,
                         Value::dictionary({{"id", std::stoi(m_account.uid)},
                                            {"nick", m_account.nick},
                                            {"avatar", avatar},
                                            {"mobile", m_account.mobile},
                                            {"isAnchor", 1}}));
    m_service.setCaptchaCode(m_captcha);
    m_service.setCaptchaPicture(captchaPNG(m_captcha));
    m_service.setSecretKey(m_account.uid, Value::dictionary({{"secretKey", m_account.streamKey}}));
    m_service.setChatServer("127.0.0.1", m_chat.port());
    server.route("GET", "/avatar/" + m_account.uid + ".png", png(avatarPNG()));
    server.route("POST", "/on_publish", [this](const HttpRequest& request, HttpResponse& response) {
        answerPublish(request, response);
    });
    server.route("POST", "/on_publish_done", [this](const HttpRequest& request, HttpResponse& response) {
        auto fields = liveapp::test::parseHookForm(request.body);
        tell(fmt::format("publish {}/{} done", fields["app"], fields["name"]));
        response = HttpResponse::text(200, "ok");
    });
}

void DevService::answerPublish(const HttpRequest& request, HttpResponse& response) {
    auto fields = liveapp::test::parseHookForm(request.body);
    const bool accepted = fields["name"] == m_account.uid && fields["key"] == m_account.streamKey;
    response = HttpResponse::text(accepted ? 200 : 403, accepted ? "ok" : "refused");
    tell(fmt::format("publish {}/{} {}", fields["app"], fields["name"],
                     accepted ? "accepted" : "refused (wrong stream key)"));
}

void DevService::tell(const std::string& line) {
    if (!m_log)
        return;
    std::fprintf(m_log, "devservice: %s\n", line.c_str());
    std::fflush(m_log);
}

liveapp::test::AnalyticsCollector::Options DevService::collectorOptions() {
    liveapp::test::AnalyticsCollector::Options options;
    options.log = [log = m_log](std::string_view line) {
        if (!log)
            return;
        std::fprintf(log, "devservice: %.*s\n", static_cast<int>(line.size()), line.data());
        std::fflush(log);
    };
    return options;
}

// The room's "view" count grows by a few viewers every couple of seconds.
void DevService::moveViewerCount() {
    std::mt19937 random(std::random_device{}());
    std::unique_lock lock(m_mutex);
    while (!m_stopping.wait_for(lock, kViewerCountInterval, [this] { return m_stopped; })) {
        Value room = m_service.room(m_account.uid);
        if (auto* fields = room.mutableDictionary()) {
            const int64_t viewers = platform::text::integerValue(fields->get("view").stringOr());
            fields->set("view", std::to_string(viewers + std::uniform_int_distribution<int>(1, 5)(random)));
            m_service.setRoom(m_account.uid, room);
        }
    }
}

Value DevService::describe() const {
    return Value::dictionary({
        {"serviceURL", m_service.baseURL()},
        {"rtmpHost", fmt::format("127.0.0.1:{}", m_ingest->port())},
        {"chatPort", int64_t(m_chat.port())},
        {"collectorURL", m_collector.baseURL()},
        {"collectorFallbackURL", m_collectorFallback.baseURL()},
        {"account", m_account.name},
        {"password", m_account.password},
        {"captcha", m_captcha},
        {"mobile", m_account.mobile},
    });
}

} // namespace devservice
