#pragma once
// The report rules: whether an offered chance to upload starts a job now, after a random delay, or not
// at all. Four gates, in order: a session is on and no job runs; the collector's back-off level
// ("defcon", persisted as "uaDefcon") has expired; the report policy in force allows a job of this
// type (0 at activation, 1 after a record); and after a long silence the job is spread out in time.
// The job itself is the pipeline's beginPerformJob, which queues the upload worker.
//
// Decisions run on the main thread, and the delayed job on the main run loop; the worker clears
// jobRunning from the upload queue, so the fields are atomics. Refused jobs report nothing: the next
// record, activation or delayed perform offers the next chance.

#include "platform/foundation/Object.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class UsageAnalyticsJob final : public platform::Object {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    // Made once; every call reads the stored back-off level again.
    static std::shared_ptr<UsageAnalyticsJob> sharedInstance();
    explicit UsageAnalyticsJob(PrivateTag) {}

    static void preparePerformJob(int32_t jobType);
    static void beginPerformJobDelay();
    static bool defconPass();
    static bool checkLatentCondition();
    static bool shouldCommitJob(int32_t jobType);
    // Seconds since the last upload attempt; -1 when there never was one.
    static double elapsedTimeFromPost();

    bool ready() const;
    // Draws and stores the delay of a delayed job, in seconds.
    int32_t calculateLatency();
    // 128 to 255 from the installation signature's bytes 4 and 5; 0 without a signature.
    int32_t latencySeed() const;
    // from + (r mod (to - from + 1)) in unsigned 32-bit arithmetic.
    int32_t randomNumFrom(int32_t from, int32_t to) const;
    std::string description() const override;

    int32_t defcon() const { return m_defcon; }
    void setDefcon(int32_t defcon) { m_defcon = defcon; }
    int32_t latency() const { return m_latency; }
    void setLatency(int32_t latency) { m_latency = latency; }
    int32_t latency_sdk() const { return m_latency_sdk; }
    void setLatency_sdk(int32_t latency) { m_latency_sdk = latency; }
    bool jobRunning() const { return m_jobRunning; }
    void setJobRunning(bool running) { m_jobRunning = running; }
    bool bLatencyJob() const { return m_bLatencyJob; }
    void setBLatencyJob(bool pending) { m_bLatencyJob = pending; }
    bool bDisguisedLatency() const { return m_bDisguisedLatency; }
    void setBDisguisedLatency(bool disguised) { m_bDisguisedLatency = disguised; }

    // Tests: where the random numbers come from (empty restores the system's generator).
    static void setRandomSource(std::function<uint32_t()> source);

private:
    std::atomic<int32_t> m_defcon{0};
    std::atomic<int32_t> m_latency{0};
    std::atomic<int32_t> m_latency_sdk{0};
    std::atomic<bool> m_jobRunning{false};
    std::atomic<bool> m_bLatencyJob{false};
    std::atomic<bool> m_bDisguisedLatency{false};
};
