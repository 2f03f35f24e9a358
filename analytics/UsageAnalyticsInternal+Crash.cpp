#include "analytics/HalvekUncaughtExceptionHandler.h"
#include "analytics/UABinaryImage.h"
#include "analytics/UANError.h"
#include "analytics/UANLog.h"
#include "analytics/UANUtil.h"
#include "analytics/UAPendingCrash.h"
#include "analytics/UsageAnalyticsApp.h"
#include "analytics/UsageAnalyticsInternal.h"
#include "analytics/UsageAnalyticsSession.h"
#include "platform/foundation/Text.h"

namespace {

std::string crashText(const std::string& reason, const platform::Value& addresses,
                      const std::vector<std::string>& frames) {
    std::string frameText = "(";
    for (const auto& frame : frames)
        frameText += "\n\t" + frame;
    frameText += "\n)";
    return fmt::format("{}\n{}\n({}", reason, addresses.description(), frameText);
}

std::shared_ptr<UANError> errorRecord(const std::string& text, const platform::ValueDictionary& facts,
                                      const std::string& sessionID) {
    auto record = std::make_shared<UANError>();
    if (!sessionID.empty())
        record->session_id = sessionID;
    record->context = fmt::format(
        "{}\n\ndSYM UUID: {}\nCPU Type: {}\nSlide Address: {}\nBinary Image: {}\nBase Address: {}\n", text,
        facts.get("binary_uuid").description(), facts.get("cpu_arch").description(),
        facts.get("slide_address").description(), facts.get("image_name").description(),
        facts.get("image_base_address").description());
    return record;
}

} // namespace

void UsageAnalyticsInternal::installUncaughtExceptionHandler() {
    HalvekUncaughtExceptionHandler::installHandlers();
    // The running program is the one image whose facts matter; images loaded later are libraries.
    setErrorSupportInfo(uadetail::mainImageFacts());
    uadetail::PendingCrash::setAppVersion(UANUtil::appVersionString());
    uadetail::PendingCrash::prepare(sharedInstance()->error_support_info);
}

void UsageAnalyticsInternal::setErrorSupportInfo(const std::optional<platform::ValueDictionary>& info) {
    if (info)
        sharedInstance()->error_support_info = info;
}

void UsageAnalyticsInternal::saveCrashInfo(const platform::Notification& notification) {
    auto exception = std::dynamic_pointer_cast<uadetail::CaughtException>(notification.object());
    if (!exception)
        return;
    auto frames = exception->callStackSymbols.empty() ? HalvekUncaughtExceptionHandler::backtrace(*exception)
                                                      : exception->callStackSymbols;
    error(crashText(exception->reason, exception->userInfo["UncaughtExceptionHandlerAddressesKey"], frames));
}

void UsageAnalyticsInternal::error(const std::string& text) {
    if (UsageAnalyticsApp::sharedInstance()->crashReportEnabled()) {
        if (!error_support_info) {
            UANLog("Read binary image info failed!");
            return;
        }
        auto record = errorRecord(text, *error_support_info, m_sessionID);
        // Straight into the list: no quota applies to a crash.
        errors.push_back(record);
        record->outputUALog();
    }
    auto session = UsageAnalyticsSession::sharedInstance();
    session->setAppCrashed(true);
    session->appInactivate(nullptr);
}

void UsageAnalyticsInternal::restorePendingCrashes() {
    auto version = UANUtil::appVersionString();
    for (const auto& crash : uadetail::PendingCrash::takeEarlier()) {
        // As with cached crash records: only the version that crashed reports its crashes.
        if (!platform::text::equalsIgnoringASCIICase(crash.version, version))
            continue;
        if (!crash.facts) {
            UANLog("Read binary image info failed!");
            continue;
        }
        auto record =
            errorRecord(crashText(crash.reason, platform::Value(), crash.frames), *crash.facts, m_sessionID);
        errors.push_back(record);
        record->outputUALog();
    }
}
