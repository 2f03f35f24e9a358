#pragma once
// MemoryPressureSource: how the application hears that the system is short of memory. UIApplicationMain
// starts the installed source and turns each report into a memory warning on the main queue; the
// kernel's source is installed unless someone (a test) installs another.
//
// Promises: reports come on the source's own thread, never from inside start(); stop() returns once no
// report is under way and none will follow, and is safe to call twice. start() on a started source
// stops it first. A report must not stop its own source. Not promised: one report per shortage (the
// kernel reports a sustained stall once per window).

#include "platform/foundation/FileDescriptor.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace platform {

class MemoryPressureSource {
public:
    using Report = std::function<void()>;

    virtual ~MemoryPressureSource() = default;
    virtual void start(Report report) = 0;
    virtual void stop() = 0;

    // Any thread. Null installs the kernel's source again.
    static std::shared_ptr<MemoryPressureSource> current();
    static void install(std::shared_ptr<MemoryPressureSource> source);
    // A source that never reports.
    static std::shared_ptr<MemoryPressureSource> silent();
};

// The kernel's signal: a pressure-stall trigger on the memory pressure file (some task stalled on memory
// for 150 ms within one second; where the kernel grants only unprivileged triggers, 300 ms within two),
// or else the "high" and "max" counts of the process's cgroup v2 memory.events rising (at most one
// report a second). Where neither can be watched, the first start() logs that and nothing is ever
// reported. The files are parameters so tests can point them elsewhere.
class KernelMemoryPressure final : public MemoryPressureSource {
public:
    struct Files {
        std::string pressure{"/proc/pressure/memory"};
        std::string cgroup{"/proc/self/cgroup"};
        std::string mountInfo{"/proc/self/mountinfo"};
    };
    enum class Mechanism { None, PressureStall, CgroupEvents };

    KernelMemoryPressure();
    explicit KernelMemoryPressure(Files files);
    ~KernelMemoryPressure() override;
    KernelMemoryPressure(const KernelMemoryPressure&) = delete;
    KernelMemoryPressure& operator=(const KernelMemoryPressure&) = delete;

    void start(Report report) override;
    void stop() override;
    // What the last start() watches (None before the first).
    Mechanism mechanism() const { return m_mechanism; }
    // The memory.events file of the process's cgroup, or empty when it lives in none (or in the root).
    std::string cgroupEventsPath() const;
    // The sum of the "high" and "max" counts of a memory.events text.
    static uint64_t shortageCount(const std::string& memoryEvents);

private:
    FileDescriptor openPressureTrigger() const;
    void watch(Report report);

    Files m_files;
    Mechanism m_mechanism{Mechanism::None};
    bool m_saidUnwatchable{false};
    FileDescriptor m_watched;
    FileDescriptor m_stop;
    std::thread m_thread;
};

} // namespace platform
