#pragma once
// Crashes that cannot be recorded in the process that has them: a fatal signal (where only
// async-signal-safe work is allowed) or an exception whose main-thread handling never came. Each
// process opens a file of its own in the SDK directory ("<milliseconds>_<pid>.crash") when crash
// capture is installed, so the signal handler only writes: the application version, the reason, the
// image facts prepared at installation and the stack, each on its own line. The next launch reads
// every earlier process's file once, removes it, and makes the crash record from it.
//
// prepare and setAppVersion: any thread. recordSignal: async-signal-safe (write(2) on the open file,
// fixed buffers, one writer per process). takeEarlier: any thread, not concurrently with itself.

#include "platform/foundation/Value.h"

#include <optional>
#include <string>
#include <vector>

namespace uadetail {

class PendingCrash {
public:
    struct Crash {
        std::string version;
        std::string reason;
        std::optional<platform::ValueDictionary> facts;
        std::vector<std::string> frames;
    };

    // Opens this process's file (once) with the image facts every record will carry.
    static void prepare(const std::optional<platform::ValueDictionary>& facts);
    // The version a crash from now on is recorded under.
    static void setAppVersion(const std::string& version);
    // Writes "Application received signal <name>" and the stack; only the first record of a process
    // is written.
    static void recordSignal(const char* signalName);
    static void recordException(const std::string& reason, const std::vector<std::string>& frames);
    // The crashes other processes left, oldest first; their files are gone afterwards.
    static std::vector<Crash> takeEarlier();
};

} // namespace uadetail
