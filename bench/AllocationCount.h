#pragma once
// Counts the C++ allocations made on a benchmark's thread (operator new; the other forms of new and
// delete forward to these) and reports them per unit of work as the user counter "allocs". The count
// is a plain per-thread one, so counting does not weigh on what is measured. Include it in exactly
// one file of a binary: it replaces the global operator new.
#include <benchmark/benchmark.h>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace bench {
inline thread_local int64_t allocations{0};

// Allocations per unit over the timed loop: make it after the set-up, before the loop.
class AllocationCount {
public:
    AllocationCount(benchmark::State& state, double unitsPerIteration)
        : m_state(state)
        , m_unitsPerIteration(unitsPerIteration) {}
    ~AllocationCount() {
        const double units = double(m_state.iterations()) * m_unitsPerIteration;
        if (units > 0)
            m_state.counters["allocs"] = double(allocations - m_start) / units;
    }

private:
    benchmark::State& m_state;
    double m_unitsPerIteration;
    int64_t m_start{allocations};
};
} // namespace bench

// Kept out of line: inlined into a caller, the compiler takes free() after operator new for a mismatch.
[[gnu::noinline]] void* operator new(std::size_t size) {
    ++bench::allocations;
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

[[gnu::noinline]] void operator delete(void* block) noexcept {
    std::free(block);
}

[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
