// Async round trips on a serial dispatch queue against the simplest alternative: one thread serving a
// mutex + condition-variable queue of std::function. "RoundTrip" posts one block and waits for it to
// signal back before posting the next (wake-up latency); "Burst" posts 1000 and waits for the last
// (throughput once the consumer is awake). "SpinningConsumerRoundTrip" is no contender but a
// reference: a consumer that never sleeps and picks a post up within a few hundred nanoseconds, so the
// post costs nothing and the round trip is the reply alone. What that costs turns on a race: a reply
// that lands before the waiting thread is asleep wakes no one, one that lands after pays the wake-up.
// Each also reports, per iteration, cpu_ns, the process's CPU time (every thread's: the pool's
// workers, spinning or not, included), and switches, the process's context switches (voluntary and
// involuntary), which do not move with the machine's load as times do.
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Pause.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <time.h>
#include <utility>

namespace {

class PlainQueue {
public:
    PlainQueue()
        : m_thread([this] { serve(); }) {}
    ~PlainQueue() {
        post({});
        m_thread.join();
    }
    void post(std::function<void()> block) {
        std::lock_guard lock(m_mutex);
        m_blocks.push_back(std::move(block));
        m_condition.notify_one();
    }

private:
    void serve() {
        for (;;) {
            std::function<void()> block;
            {
                std::unique_lock lock(m_mutex);
                m_condition.wait(lock, [this] { return !m_blocks.empty(); });
                block = std::move(m_blocks.front());
                m_blocks.pop_front();
            }
            if (!block)
                return;
            block();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_condition;
    std::deque<std::function<void()>> m_blocks;
    std::thread m_thread;
};

// The reply path is the same for both contenders.
class Reply {
public:
    void signal() {
        std::lock_guard lock(m_mutex);
        m_done = true;
        m_condition.notify_one();
    }
    void wait() {
        std::unique_lock lock(m_mutex);
        m_condition.wait(lock, [this] { return m_done; });
        m_done = false;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_done{false};
};

// The reference: a consumer thread that spins on a one-block slot for as long as it lives (no system
// call, a core burnt throughout), so a post costs one store and no wake-up.
class SpinningConsumer {
public:
    SpinningConsumer()
        : m_thread([this] { serve(); }) {}
    ~SpinningConsumer() {
        m_stop.store(true);
        m_thread.join();
    }
    void post(std::function<void()>& block) { m_slot.store(&block, std::memory_order_release); }

private:
    void serve() {
        while (!m_stop.load(std::memory_order_relaxed)) {
            if (auto* block = m_slot.exchange(nullptr, std::memory_order_acquire))
                (*block)();
            else
                platform::detail::cpuRelax();
        }
    }

    std::atomic<std::function<void()>*> m_slot{nullptr};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

constexpr int burst = 1000;

int64_t processCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int64_t processContextSwitches() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return int64_t(usage.ru_nvcsw) + int64_t(usage.ru_nivcsw);
}

// Sets cpu_ns and switches for the iterations run while it lived.
class ProcessCounts {
public:
    explicit ProcessCounts(benchmark::State& state)
        : m_state(state) {}
    ~ProcessCounts() {
        double iterations = m_state.iterations() ? double(m_state.iterations()) : 1;
        m_state.counters["cpu_ns"] = double(processCpuNanoseconds() - m_cpu) / iterations;
        m_state.counters["switches"] = double(processContextSwitches() - m_switches) / iterations;
    }

private:
    benchmark::State& m_state;
    const int64_t m_cpu{processCpuNanoseconds()};
    const int64_t m_switches{processContextSwitches()};
};

void SerialQueueRoundTrip(benchmark::State& state) {
    auto queue = platform::DispatchQueue::create("bench.roundtrip");
    Reply reply;
    ProcessCounts counts(state);
    for (auto _ : state) {
        queue->async([&reply] { reply.signal(); });
        reply.wait();
    }
    state.SetItemsProcessed(state.iterations());
}

void PlainQueueRoundTrip(benchmark::State& state) {
    PlainQueue queue;
    Reply reply;
    ProcessCounts counts(state);
    for (auto _ : state) {
        queue.post([&reply] { reply.signal(); });
        reply.wait();
    }
    state.SetItemsProcessed(state.iterations());
}

void SpinningConsumerRoundTrip(benchmark::State& state) {
    SpinningConsumer consumer;
    Reply reply;
    std::function<void()> block = [&reply] { reply.signal(); };
    ProcessCounts counts(state);
    for (auto _ : state) {
        consumer.post(block);
        reply.wait();
    }
    state.SetItemsProcessed(state.iterations());
}

void SerialQueueBurst(benchmark::State& state) {
    auto queue = platform::DispatchQueue::create("bench.burst");
    Reply reply;
    int counter = 0;
    ProcessCounts counts(state);
    for (auto _ : state) {
        for (int i = 1; i < burst; ++i)
            queue->async([&counter] { benchmark::DoNotOptimize(++counter); });
        queue->async([&reply] { reply.signal(); });
        reply.wait();
    }
    state.SetItemsProcessed(state.iterations() * burst);
}

void PlainQueueBurst(benchmark::State& state) {
    PlainQueue queue;
    Reply reply;
    int counter = 0;
    ProcessCounts counts(state);
    for (auto _ : state) {
        for (int i = 1; i < burst; ++i)
            queue.post([&counter] { benchmark::DoNotOptimize(++counter); });
        queue.post([&reply] { reply.signal(); });
        reply.wait();
    }
    state.SetItemsProcessed(state.iterations() * burst);
}

} // namespace

// With DISPATCH_BENCH_ITERATIONS=n each benchmark runs n iterations once, with no trial runs first, so
// a system-call count of the whole process (strace -f -c) divides by a known number of units.
int main(int argc, char** argv) {
    const char* fixed = std::getenv("DISPATCH_BENCH_ITERATIONS");
    using Function = void (*)(benchmark::State&);
    const std::pair<const char*, Function> benchmarks[] = {
        {"SerialQueueRoundTrip", SerialQueueRoundTrip},
        {"PlainQueueRoundTrip", PlainQueueRoundTrip},
        {"SpinningConsumerRoundTrip", SpinningConsumerRoundTrip},
        {"SerialQueueBurst", SerialQueueBurst},
        {"PlainQueueBurst", PlainQueueBurst}};
    for (auto [name, function] : benchmarks) {
        auto* registered = benchmark::RegisterBenchmark(name, function)->UseRealTime();
        if (fixed)
            registered->Iterations(std::atoll(fixed));
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
