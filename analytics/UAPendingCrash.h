#pragma once
// Crashes that cannot be recorded in the process that has them: a fatal signal (where only
// async-signal-safe work is allowed) or an exception whose main-thread handling never came. Each
// process opens a file of its own in the SDK directory ("<milliseconds>_<pid>.crash") when crash
// capture is installed, so the signal handler only writes: the application version, the reason, the
// crash time, the analytics session it cut short (id and start, kept ready in a fixed buffer), the
// image facts prepared at installation and the stack, each on its own line. The next launch reads
// every earlier process's file once, removes it, and makes the crash record (and the record of the
// cut-short session) from it; files written before the time and session were kept still read.
//
// prepare, setAppVersion, setSession and discard: any thread. recordSignal: async-signal-safe
// (write(2) on the open file, fixed buffers, one writer per process). takeEarlier: any thread, not
// concurrently with itself.

#include "platform/foundation/Value.h"

#include <cstdint>
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
        // Absent in files of earlier versions.
        std::optional<double> time; // seconds since 1970, by the system's clock
        std::optional<std::string> sessionID;
        std::optional<double> sessionStart; // only while that session was running
    };

    // Opens this process's file (once) with the image facts every record will carry.
    static void prepare(const std::optional<platform::ValueDictionary>& facts);
    // The version a crash from now on is recorded under.
    static void setAppVersion(const std::string& version);
    // The analytics session a crash from now on belongs to, with its start while it runs (nothing
    // once it has ended: its record is made already).
    static void setSession(const std::string& sessionID, std::optional<double> start);
    // Writes "Application received signal <name>" and the stack; only the first record of a process
    // is written.
    static void recordSignal(const char* signalName);
    static void recordException(const std::string& reason, const std::vector<std::string>& frames);
    // The return addresses recordSignal took, for the main thread that records the crash in full.
    static std::vector<uintptr_t> signalFrames();
    // Empties this process's file: its crash has been recorded in full after all.
    static void discard();
    // The crashes other processes left, oldest first; their files are gone afterwards.
    static std::vector<Crash> takeEarlier();
};

} // namespace uadetail
