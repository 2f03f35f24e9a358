#pragma once
// Crash capture's handlers. An uncaught C++ exception reaches the terminate handler, which has the
// main thread handle it (waiting at most kRecorderWait when it crashed elsewhere): the main thread
// runs its loop briefly, puts the default handlers back, posts "UsageAnalyticsCrashCatch" with the
// exception (whose observer makes the crash record and writes it to disk), pauses a second and lets
// the process abort. A fatal signal (SIGABRT, SIGILL, SIGSEGV, SIGFPE, SIGBUS) is handled on an
// alternate stack with async-signal-safe work only: its record goes to this process's pending-crash
// file (UAPendingCrash.h) for the next launch; then another thread records it in full, with the records
// in memory, while the faulting thread waits at most kRecorderWait: the main thread for a signal on
// another thread, the crash thread (started at installation, with every signal blocked) for one on the
// main thread, which it records without waiting for the main thread. Then the default action is
// restored and the signal raised again. A recorder that does not finish in time (the main thread
// stopped holding the records' lock, UARecordsLock.h) leaves the pending file as the next launch's
// record; so does an exception whose main-thread handling never came.
//
// Installed once per process, by the crash switch; never removed but by a crash.

#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace uadetail {

// What reached the top: the exception's name and reason ("signalRaisedException" and "Application
// received signal SIGSEGV" for a signal), its user information and the stack where it was thrown.
class CaughtException final : public platform::Object {
public:
    std::string name;
    std::string reason;
    platform::Value userInfo;
    std::vector<std::string> callStackSymbols; // empty when only the return addresses are known
    std::vector<uintptr_t> callStackReturnAddresses;
};

} // namespace uadetail

class HalvekUncaughtExceptionHandler final : public platform::Object {
public:
    static constexpr std::chrono::seconds kRecorderWait{10};

    // Symbolised frames of the exception's return addresses.
    static std::vector<std::string> backtrace(const uadetail::CaughtException& exception);
    // Signal numbers to names; SIGTRAP is named but not caught.
    static std::map<int, std::string> signals();

    // On the main thread; ends the process.
    [[noreturn]] void handleException(const std::shared_ptr<uadetail::CaughtException>& exception);
    void validateAndSaveCriticalApplicationData(const std::shared_ptr<uadetail::CaughtException>& exception);

    // The terminate handler, then the signal handlers in the order above.
    static void installHandlers();
};
