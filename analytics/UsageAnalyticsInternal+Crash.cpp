#include "analytics/HalvekUncaughtExceptionHandler.h"
#include "analytics/UABinaryImage.h"
#include "analytics/UANError.h"
#include "analytics/UANLog.h"
#include "analytics/UANTerminate.h"
#include "analytics/UANUtil.h"
#include "analytics/UAPendingCrash.h"
#include "analytics/UARecordsLock.h"
#include "analytics/UsageAnalyticsApp.h"
#include "analytics/UsageAnalyticsInternal.h"
#include "analytics/UsageAnalyticsSession.h"
#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/Text.h"

#include <algorithm>

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

// A record made at a later launch carries the time of what it records.
void stampAt(UANBaseEvent& record, double seconds) {
    record.ts = seconds;
    record.date = platform::DateFormatter("yyyy-MM-dd").stringFromDate(platform::Date(seconds));
    record.time = platform::DateFormatter("HH:mm:ss").stringFromDate(platform::Date(seconds));
}

bool holdsSession(const UsageAnalyticsInternal::Records& records, const std::string& sessionID) {
    return std::any_of(records.begin(), records.end(),
                       [&](const auto& record) { return record->session_id == sessionID; });
}

// The session the crash cut short, ended at the crash (its duration counted as a resignation would).
std::shared_ptr<UANTerminate> cutShortSession(const uadetail::PendingCrash::Crash& crash) {
    double duration = std::max(0.0, *crash.time - *crash.sessionStart);
    auto record = std::make_shared<UANTerminate>(duration > 7200 ? 3600 : duration);
    record->session_id = crash.sessionID;
    stampAt(*record, *crash.time);
    return record;
}

} // namespace

void UsageAnalyticsInternal::installUncaughtExceptionHandler() {
    HalvekUncaughtExceptionHandler::installHandlers();
    // The running program is the one image whose facts matter; images loaded later are libraries.
    setErrorSupportInfo(uadetail::mainImageFacts());
    uadetail::PendingCrash::setAppVersion(UANUtil::appVersionString());
    uadetail::PendingCrash::prepare(sharedInstance()->error_support_info);
    UsageAnalyticsSession::sharedInstance()->keepForCrash();
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
    std::lock_guard records(uadetail::recordsMutex());
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
        // A crash the crashed process recorded in full (and whose file it could not empty in time) is
        // in the cache already, with its session's record.
        bool timed = crash.time && crash.sessionID;
        if (timed && crash.sessionStart && !holdsSession(terminates, *crash.sessionID))
            terminates.push_back(cutShortSession(crash));
        // As with cached crash records: only the version that crashed reports its crashes.
        if (!platform::text::equalsIgnoringASCIICase(crash.version, version))
            continue;
        if (!crash.facts) {
            UANLog("Read binary image info failed!");
            continue;
        }
        if (timed && holdsSession(errors, *crash.sessionID))
            continue;
        auto record = errorRecord(crashText(crash.reason, platform::Value(), crash.frames), *crash.facts,
                                  crash.sessionID.value_or(m_sessionID));
        if (crash.time)
            stampAt(*record, *crash.time);
        errors.push_back(record);
        record->outputUALog();
    }
}
