// A run loop's own cost: one perform queued and run by a pass (with no modes given, and with the
// common modes named, which builds a list of modes for the perform), and one pass over a loop
// carrying many descriptors of which none is ready (as a network thread's loop does between
// events). Each row reports the C++ allocations per unit on the loop's thread.
#include "AllocationCount.h"
#include "platform/foundation/FileDescriptor.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopFdSource.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

using namespace platform;

namespace {

// One pass per unit of work, all in one run: each pass runs the perform the previous one queued
// (a perform queued during a pass runs next pass), so the run's own set-up is not measured.
template <bool nameTheModes> struct PerformEachPass {
    benchmark::State* state;
    RunLoop* loop;
    void operator()() const {
        if (!state->KeepRunning()) {
            loop->stop();
            return;
        }
        if constexpr (nameTheModes)
            loop->performBlock(*this, {RunLoop::commonModes});
        else
            loop->performBlock(*this);
    }
};

template <bool nameTheModes> void runPasses(benchmark::State& state) {
    auto loop = RunLoop::current();
    bench::AllocationCount allocations(state, 1);
    loop->performBlock(PerformEachPass<nameTheModes>{&state, loop.get()});
    loop->run();
}

void BM_RunLoopPerformRunByAPass(benchmark::State& state) {
    runPasses<false>(state);
}
BENCHMARK(BM_RunLoopPerformRunByAPass);

void BM_RunLoopPerformInTheCommonModesNamedRunByAPass(benchmark::State& state) {
    runPasses<true>(state);
}
BENCHMARK(BM_RunLoopPerformInTheCommonModesNamedRunByAPass);

void BM_RunLoopPassOverIdleDescriptors(benchmark::State& state) {
    auto loop = RunLoop::current();
    std::vector<FileDescriptor> ends;
    std::vector<std::shared_ptr<RunLoopFdSource>> sources;
    for (int64_t i = 0; i < state.range(0); ++i) {
        int fds[2];
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
            state.SkipWithError("out of descriptors");
            return;
        }
        ends.emplace_back(fds[0]);
        ends.emplace_back(fds[1]);
        auto source = RunLoopFdSource::create(fds[0], [](RunLoopFdSource&, uint32_t) {});
        loop->addSource(source, RunLoop::defaultMode);
        sources.push_back(source);
    }
    runPasses<false>(state);
    for (auto& source : sources)
        source->invalidate();
}
BENCHMARK(BM_RunLoopPassOverIdleDescriptors)->Arg(100);

} // namespace

BENCHMARK_MAIN();
