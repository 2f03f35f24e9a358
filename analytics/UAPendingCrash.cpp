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
#include <unistd.h>

namespace uadetail {

namespace {

constexpr std::string_view kSuffix = ".crash";
constexpr std::string_view kFramesLine = "frames:";
constexpr const char* kFactKeys[] = {"image_name", "image_base_address", "slide_address", "binary_uuid",
                                     "cpu_arch"};
constexpr int kMaximumFrames = 128;

struct State {
    std::mutex mutex;
    std::string ownPath;
    std::list<std::string> versions; // kept for the process: the handler may hold any of them
    std::string factLines;
};

State& state() {
    static State* const shared = new State; // never destroyed: a crash may come during exit
    return *shared;
}

std::atomic<int> g_fd{-1};
std::atomic<const char*> g_version{""};
std::atomic<const char*> g_facts{""};
std::atomic<bool> g_written{false};

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

void writeHeader(int fd, const char* reasonStart, const char* reasonEnd) {
    writeText(fd, "version=");
    writeText(fd, g_version.load());
    writeText(fd, "\nreason=");
    writeText(fd, reasonStart);
    writeText(fd, reasonEnd);
    writeText(fd, "\n");
    writeText(fd, g_facts.load());
    writeText(fd, "frames:\n");
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

void PendingCrash::recordSignal(const char* signalName) {
    int fd = claimFile();
    if (fd < 0)
        return;
    writeHeader(fd, "Application received signal ", signalName);
    void* frames[kMaximumFrames];
    int count = ::backtrace(frames, kMaximumFrames);
    ::backtrace_symbols_fd(frames, count, fd);
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
