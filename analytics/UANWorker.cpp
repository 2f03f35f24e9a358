#include "analytics/UANWorker.h"

#include "analytics/UAEndpoints.h"
#include "analytics/UALinks.h"
#include "analytics/UANLog.h"
#include "analytics/UANUtil.h"
#include "analytics/UAPayloadBuild.h"
#include "analytics/UsageAnalyticsApp.h"
#include "analytics/UsageAnalyticsConfig.h"
#include "analytics/UsageAnalyticsJob.h"
#include "analytics/UsageAnalyticsSession.h"
#include "analytics/UsageAnalyticsUtility.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Clock.h"
#include "platform/net/URLSession.h"

#include <algorithm>

namespace {

double now() {
    return platform::Clock::timeIntervalSince1970();
}

bool isCollectorAnswer(const std::optional<platform::Data>& data, const platform::URLResponsePtr& response) {
    auto http = std::dynamic_pointer_cast<platform::HTTPURLResponse>(response);
    return data && !data->empty() && http &&
           http->valueForHTTPHeaderField("Content-Type") == "application/thrift";
}

} // namespace

UANWorker::UANWorker(std::vector<std::string> envelopeFilePaths)
    : m_envelopeFilePaths(std::move(envelopeFilePaths)) {}

std::vector<std::string> UANWorker::envelopeFilePaths() const {
    std::lock_guard lock(m_mutex);
    return m_envelopeFilePaths;
}

void UANWorker::setEnvelopeFilePaths(std::vector<std::string> paths) {
    std::lock_guard lock(m_mutex);
    m_envelopeFilePaths = std::move(paths);
}

void UANWorker::main() {
    auto app = UsageAnalyticsApp::sharedInstance();
    if (app->backgroundTaskEnabled())
        app->activeBackgroundTask();
    for (;;) {
        auto paths = envelopeFilePaths();
        if (paths.empty() || !postDataWithFile(paths.front()))
            break;
        if (UsageAnalyticsSession::sharedInstance()->appInBackGround() && !app->backgroundTaskEnabled())
            break;
    }
    uadetail::jobLink()->setJobRunning(false);
}

bool UANWorker::postDataWithFile(const std::string& path) {
    for (const auto& endpoint : UAEndpoints::collectorURLs()) {
        if (postDataToServer(endpoint + "/app_logs", path))
            return true;
        if (UsageAnalyticsJob::sharedInstance()->defcon() != 0) {
            // Under back-off nothing waits for a later job: the files would only pile up.
            for (const auto& listed : envelopeFilePaths())
                UsageAnalyticsUtility::removeFile(listed);
            setEnvelopeFilePaths({});
            return false;
        }
    }
    return false;
}

bool UANWorker::postDataToServer(const std::string& url, const std::string& path) {
    auto request = setupRequest(url);
    request.setHTTPBody(platform::AtomicFile::read(path).value_or(platform::Data()));
    request.setHTTPMethod("POST");
    double started = now();
    platform::URLResponsePtr response;
    platform::ErrorPtr error;
    auto data = platform::URLSession::sendSynchronousRequest(request, &response, &error);
    auto usedTime = static_cast<int32_t>((now() - started) * 1000);
    UsageAnalyticsConfig::setConfigure(platform::Value(now()), "lastPostInterval");
    if (!isCollectorAnswer(data, response)) {
        if (error)
            UANLog("(Error   Applog) {}", error->description());
        UsageAnalyticsConfig::incrementRequest(false, usedTime);
        return false;
    }
    auto status = std::static_pointer_cast<platform::HTTPURLResponse>(response)->statusCode();
    if (status != 200) {
        UANLog("(Response Applog) {{\"fail\": \"statusCode\":{}}}", status);
        UsageAnalyticsConfig::incrementRequest(false, usedTime);
        return false;
    }
    bool accepted = UAPayloadBuild::sharedInstance()->verifyResponseData(*data);
    if (accepted)
        UANLog("(Response Applog) {{\"success\": \"ok\"}}");
    else
        UANLog("(Response Applog) {{\"fail\": \"error\"}}");
    dropFile(path);
    UsageAnalyticsConfig::incrementRequest(accepted, usedTime);
    return true;
}

platform::MutableURLRequest UANWorker::setupRequest(const std::string& url) const {
    platform::MutableURLRequest request(platform::URL::create(url));
    request.addValue("envelope/json", "Msg-Type");
    request.addValue("envelope/json", "Content-Type");
    request.addValue(
        fmt::format("{}/{} {}/{} {}/{} {}", UANUtil::sdkTypeString(), UANUtil::sdkVersionString(),
                    UANUtil::urlEncode(UANUtil::appDisplayNameString()),
                    UANUtil::urlEncode(UANUtil::appVersionString()), UANUtil::deviceModelString(),
                    UANUtil::osVersionString(), UANUtil::md5(uadetail::settingsLink()->appid())),
        "X-Halvek-Sdk");
    request.addValue(fmt::format("{}", static_cast<int64_t>(now() * 1000)), "X-Halvek-UTC");
    request.setCachePolicy(platform::NSURLRequestReloadIgnoringLocalAndRemoteCacheData);
    return request;
}

void UANWorker::dropFile(const std::string& path) {
    UsageAnalyticsUtility::removeFile(path);
    std::lock_guard lock(m_mutex);
    std::erase(m_envelopeFilePaths, path);
}
