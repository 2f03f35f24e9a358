// A launch of an application that starts the analytics library, records ten events and crashes the
// way its first argument says: "worker-segv" (a fault on a thread of its own), "main-segv" (a fault
// on the main thread), "main-queue-segv" (a fault in a block on the main queue), "main-segv-locked"
// (a fault on the main thread while it holds the records' lock), "main-queue-exception" (an exception
// thrown by a block on the main queue) or "wait" (it waits on its main loop to be killed). Just before
// the crash (or the wait) it writes the analytics session id and the time (seconds since 1970) to the
// file named by its second argument, one per line. Home, resources and collector come from the
// environment, as the test that runs it has them.

#include "analytics/UAAnalyticsConfig.h"
#include "analytics/UARecordsLock.h"
#include "analytics/UsageAnalytics.h"
#include "analytics/UsageAnalyticsInternal.h"
#include "analytics/UsageAnalyticsSession.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Exception.h"
#include "platform/runloop/RunLoop.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fmt/format.h>
#include <functional>
#include <string>
#include <thread>

namespace {

constexpr size_t kEvents = 10;

void pumpMainLoopUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline)
        platform::RunLoop::main()->runModeForRealTime(platform::RunLoop::defaultMode,
                                                      std::chrono::milliseconds(10));
}

// A fault the compiler cannot see coming: a write through a pointer to an unmapped page.
[[noreturn]] void fault() {
    volatile uintptr_t address = 16;
    *reinterpret_cast<volatile int*>(address) = 1;
    std::abort();
}

bool writeFacts(const char* path) {
    std::FILE* file = std::fopen(path, "w");
    if (!file)
        return false;
    auto text = fmt::format("{}\n{:.3f}\n", UsageAnalyticsInternal::sharedInstance()->sessionID(),
                            platform::Clock::timeIntervalSince1970());
    std::fputs(text.c_str(), file);
    return std::fclose(file) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    const std::string mode = argv[1];
    UsageAnalytics::setCrashReportEnabled(true);
    UsageAnalytics::setAppVersion("1.0");
    auto config = UAAnalyticsConfig::sharedInstance();
    config->setAppKey("9d4e2b7a1c3f5e8d0a6b4c2e");
    config->setEPolicy(0);
    UsageAnalytics::startWithConfigure(config);
    auto internal = UsageAnalyticsInternal::sharedInstance();
    pumpMainLoopUntil([] { return UsageAnalyticsSession::sharedInstance()->sessionStatus() == 1; },
                      std::chrono::seconds(30));
    for (size_t i = 0; i < kEvents; ++i)
        UsageAnalytics::event("before the crash", std::to_string(i));
    pumpMainLoopUntil([&] { return internal->events.size() >= kEvents; }, std::chrono::seconds(30));
    internal->sendLogQueue()->waitUntilAllOperationsAreFinished();
    if (!writeFacts(argv[2]))
        return 3;
    if (mode == "main-segv")
        fault();
    if (mode == "main-segv-locked") {
        std::lock_guard records(uadetail::recordsMutex());
        fault();
    }
    if (mode == "worker-segv")
        std::thread(fault).detach();
    else if (mode == "main-queue-segv")
        platform::DispatchQueue::main()->async([] { fault(); });
    else if (mode == "main-queue-exception")
        platform::DispatchQueue::main()->async(
            [] { throw platform::Exception(platform::NSRangeException, "index 3 beyond bounds"); });
    else if (mode != "wait")
        return 2;
    pumpMainLoopUntil([] { return false; }, std::chrono::seconds(60));
    return 4;
}
