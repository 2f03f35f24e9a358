// Async round trips on a serial dispatch queue against the simplest alternative: one thread serving a
// mutex + condition-variable queue of std::function. "RoundTrip" posts one block and waits for it to
// signal back before posting the next (wake-up latency); "Burst" posts 1000 and waits for the last
// (throughput once the consumer is awake). Each also reports cpu_ns, the process's CPU time (every
// thread's: the pool's workers, spinning or not, included) per iteration.
#include "platform/dispatch/DispatchQueue.h"

#include <benchmark/benchmark.h>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <time.h>

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

constexpr int burst = 1000;

int64_t processCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Sets cpu_ns for the iterations run while it lived.
class ProcessCpu {
public:
    explicit ProcessCpu(benchmark::State& state)
        : m_state(state) {}
    ~ProcessCpu() {
        auto spent = double(processCpuNanoseconds() - m_start);
        m_state.counters["cpu_ns"] = m_state.iterations() ? spent / double(m_state.iterations()) : 0;
    }

private:
    benchmark::State& m_state;
    const int64_t m_start{processCpuNanoseconds()};
};

void SerialQueueRoundTrip(benchmark::State& state) {
    auto queue = platform::DispatchQueue::create("bench.roundtrip");
    Reply reply;
    ProcessCpu cpu(state);
    for (auto _ : state) {
        queue->async([&reply] { reply.signal(); });
        reply.wait();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(SerialQueueRoundTrip)->UseRealTime();

void PlainQueueRoundTrip(benchmark::State& state) {
    PlainQueue queue;
    Reply reply;
    ProcessCpu cpu(state);
    for (auto _ : state) {
        queue.post([&reply] { reply.signal(); });
        reply.wait();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(PlainQueueRoundTrip)->UseRealTime();

void SerialQueueBurst(benchmark::State& state) {
    auto queue = platform::DispatchQueue::create("bench.burst");
    Reply reply;
    int counter = 0;
    ProcessCpu cpu(state);
    for (auto _ : state) {
        for (int i = 1; i < burst; ++i)
            queue->async([&counter] { benchmark::DoNotOptimize(++counter); });
        queue->async([&reply] { reply.signal(); });
        reply.wait();
    }
    state.SetItemsProcessed(state.iterations() * burst);
}
BENCHMARK(SerialQueueBurst)->UseRealTime();

void PlainQueueBurst(benchmark::State& state) {
    PlainQueue queue;
    Reply reply;
    int counter = 0;
    ProcessCpu cpu(state);
    for (auto _ : state) {
        for (int i = 1; i < burst; ++i)
            queue.post([&counter] { benchmark::DoNotOptimize(++counter); });
        queue.post([&reply] { reply.signal(); });
        reply.wait();
    }
    state.SetItemsProcessed(state.iterations() * burst);
}
BENCHMARK(PlainQueueBurst)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
