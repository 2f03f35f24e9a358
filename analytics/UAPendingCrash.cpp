#include "analytics/UAPendingCrash.h"

#include "analytics/UsageAnalyticsUtility.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <execinfo.h>
#include <fcntl.h>
#include <filesystem>
#include <fmt/format.h>
#include <list>
#include <mutex>
#include <time.h>
#include <unistd.h>

namespace uadetail {

namespace {

constexpr std::string_view kSuffix = ".crash";
constexpr std::string_view kFramesLine = "frames:";
constexpr const char* kFactKeys[] = {"image_name", "image_base_address", "slide_address", "binary_uuid",
                                     "cpu_arch"};
constexpr int kMaximumFrames = 128;
// Room for "session_id=<id>\nsession_start_ms=<digits>\n"; an id that does not fit is cut.
constexpr size_t kSessionText = 256;
// Session texts rotate through these so a handler reading one is not written under: it would take
// this many new sessions while one handler runs.
constexpr size_t kSessionSlots = 4;

struct State {
    std::mutex mutex;
    std::string ownPath;
    std::list<std::string> versions; // kept for the process: the handler may hold any of them
    std::string factLines;
    char sessions[kSessionSlots][kSessionText]{};
    size_t nextSession{0};
};

State& state() {
    static State* const shared = new State; // never destroyed: a crash may come during exit
    return *shared;
}

std::atomic<int> g_fd{-1};
std::atomic<const char*> g_version{""};
std::atomic<const char*> g_facts{""};
std::atomic<bool> g_written{false};
std::atomic<const char*> g_session{""};
void* g_signalFrames[kMaximumFrames];
std::atomic<int> g_signalFrameCount{0};

// write(2) until everything is out; only async-signal-safe calls.
void writeAll(int fd, const char* text, size_t length) {
    while (length > 0) {
        ssize_t count = ::write(fd, text, length);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return;
        text += count;
        length -= static_cast<size_t>(count);
    }
}

void writeText(int fd, const char* text) {
    size_t length = 0;
    while (text[length] != '\0')
        ++length;
    writeAll(fd, text, length);
}

// The one writer of a process: the file is claimed once and handed back closed to nobody.
int claimFile() {
    int fd = g_fd.load();
    if (fd < 0 || g_written.exchange(true))
        return -1;
    return fd;
}

// The system's real-time clock in milliseconds as decimal digits, without formatting functions that
// may allocate or lock.
void writeNowMilliseconds(int fd) {
    timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    auto milliseconds =
        static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
    char digits[24];
    size_t at = sizeof digits;
    do {
        digits[--at] = static_cast<char>('0' + milliseconds % 10);
        milliseconds /= 10;
    } while (milliseconds > 0 && at > 0);
    writeAll(fd, digits + at, sizeof digits - at);
}

void writeHeader(int fd, const char* reasonStart, const char* reasonEnd) {
    writeText(fd, "version=");
    writeText(fd, g_version.load());
    writeText(fd, "\nreason=");
    writeText(fd, reasonStart);
    writeText(fd, reasonEnd);
    writeText(fd, "\ntime_ms=");
    writeNowMilliseconds(fd);
    writeText(fd, "\n");
    writeText(fd, g_session.load(std::memory_order_acquire));
    writeText(fd, g_facts.load());
    writeText(fd, "frames:\n");
}

std::optional<double> seconds(const std::string& milliseconds) {
    if (milliseconds.empty() || milliseconds.size() > 19 ||
        !std::all_of(milliseconds.begin(), milliseconds.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return static_cast<double>(std::stoull(milliseconds)) / 1000;
}

std::string oneLine(std::string_view text) {
    std::string line(text);
    std::replace(line.begin(), line.end(), '\n', ' ');
    return line;
}

std::optional<PendingCrash::Crash> parsed(const std::string& text) {
    auto lines = platform::text::componentsSeparatedByString(text, "\n");
    PendingCrash::Crash crash;
    platform::ValueDictionary facts;
    size_t i = 0;
    for (; i < lines.size() && lines[i] != kFramesLine; ++i) {
        auto equals = lines[i].find('=');
        if (equals == std::string::npos)
            continue;
        auto key = lines[i].substr(0, equals), value = lines[i].substr(equals + 1);
        if (key == "version")
            crash.version = value;
        else if (key == "reason")
            crash.reason = value;
        else if (key == "time_ms")
            crash.time = seconds(value);
        else if (key == "session_id" && !value.empty())
            crash.sessionID = value;
        else if (key == "session_start_ms")
            crash.sessionStart = seconds(value);
        else if (std::find(std::begin(kFactKeys), std::end(kFactKeys), key) != std::end(kFactKeys))
            facts.set(key, value);
    }
    if (i == lines.size())
        return std::nullopt; // cut off before its stack: not a record
    for (++i; i < lines.size(); ++i) {
        if (!lines[i].empty())
            crash.frames.push_back(lines[i]);
    }
    if (!facts.empty())
        crash.facts = std::move(facts);
    return crash;
}

} // namespace

void PendingCrash::prepare(const std::optional<platform::ValueDictionary>& facts) {
    auto& shared = state();
    std::lock_guard lock(shared.mutex);
    if (g_fd.load() >= 0)
        return;
    std::string lines;
    for (const char* key : kFactKeys) {
        if (facts && facts->contains(key))
            lines += fmt::format("{}={}\n", key, oneLine(facts->get(key).stringOr("")));
    }
    shared.factLines = std::move(lines);
    g_facts = shared.factLines.c_str();
    auto stamp = static_cast<int64_t>(platform::Clock::timeIntervalSince1970() * 1000);
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto path = fmt::format("{}/{}_{}{}", UsageAnalyticsUtility::halvekDirectory(), stamp + attempt,
                                ::getpid(), kSuffix);
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            shared.ownPath = path;
            g_fd = fd;
            break;
        }
    }
    // The stack walker loads its unwinder on first use; that must not happen inside a handler.
    void* warm[1];
    ::backtrace(warm, 1);
}

void PendingCrash::setAppVersion(const std::string& version) {
    auto& shared = state();
    std::lock_guard lock(shared.mutex);
    shared.versions.push_back(oneLine(version));
    g_version = shared.versions.back().c_str();
}

void PendingCrash::setSession(const std::string& sessionID, std::optional<double> start) {
    auto& shared = state();
    std::lock_guard lock(shared.mutex);
    auto text = "session_id=" + oneLine(sessionID).substr(0, kSessionText / 2) + "\n";
    if (start)
        text += fmt::format("session_start_ms={}\n", static_cast<int64_t>(std::max(0.0, *start) * 1000));
    char* slot = shared.sessions[shared.nextSession];
    shared.nextSession = (shared.nextSession + 1) % kSessionSlots;
    text.copy(slot, kSessionText - 1);
    slot[std::min(text.size(), kSessionText - 1)] = '\0';
    g_session.store(slot, std::memory_order_release);
}

void PendingCrash::recordSignal(const char* signalName) {
    int fd = claimFile();
    if (fd < 0)
        return;
    writeHeader(fd, "Application received signal ", signalName);
    int count = ::backtrace(g_signalFrames, kMaximumFrames);
    g_signalFrameCount.store(count, std::memory_order_release);
    ::backtrace_symbols_fd(g_signalFrames, count, fd);
    ::fsync(fd);
}

std::vector<uintptr_t> PendingCrash::signalFrames() {
    int count = g_signalFrameCount.load(std::memory_order_acquire);
    std::vector<uintptr_t> frames;
    for (int i = 0; i < count; ++i)
        frames.push_back(reinterpret_cast<uintptr_t>(g_signalFrames[i]));
    return frames;
}

void PendingCrash::discard() {
    int fd = g_fd.load();
    if (fd >= 0 && ::ftruncate(fd, 0) == 0)
        ::fsync(fd);
}

void PendingCrash::recordException(const std::string& reason, const std::vector<std::string>& frames) {
    int fd = claimFile();
    if (fd < 0)
        return;
    writeHeader(fd, oneLine(reason).c_str(), "");
    for (const auto& frame : frames) {
        auto line = oneLine(frame) + "\n";
        writeAll(fd, line.data(), line.size());
    }
    ::fsync(fd);
}

std::vector<PendingCrash::Crash> PendingCrash::takeEarlier() {
    std::string own;
    {
        auto& shared = state();
        std::lock_guard lock(shared.mutex);
        own = shared.ownPath;
    }
    std::vector<std::string> paths;
    for (const auto& path : UsageAnalyticsUtility::itemsInAbsDir(UsageAnalyticsUtility::halvekDirectory())) {
        if (path != own && path.ends_with(kSuffix))
            paths.push_back(path);
    }
    std::sort(paths.begin(), paths.end()); // named by the time they were opened
    std::vector<Crash> crashes;
    for (const auto& path : paths) {
        auto bytes = platform::AtomicFile::read(path);
        UsageAnalyticsUtility::removeFile(path);
        if (!bytes || bytes->empty())
            continue;
        if (auto crash = parsed(bytes->toString()))
            crashes.push_back(std::move(*crash));
    }
    return crashes;
}

} // namespace uadetail
