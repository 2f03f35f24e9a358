#pragma once
// Context switches (voluntary and involuntary) of the whole process while a benchmark runs, reported as
// a user counter per unit of work when the counter goes out of scope. Unlike time, this count hardly
// moves with the machine's load, so it shows hand-offs between threads directly.

#include <benchmark/benchmark.h>
#include <string>
#include <sys/resource.h>

class SwitchCounter {
public:
    // `unitsPerIteration`: the units of work one iteration of the benchmark does (chunks, cycles, ...).
    SwitchCounter(benchmark::State& state, std::string name, double unitsPerIteration)
        : m_state(state)
        , m_name(std::move(name))
        , m_unitsPerIteration(unitsPerIteration)
        , m_start(now()) {}
    ~SwitchCounter() {
        double units = double(m_state.iterations()) * m_unitsPerIteration;
        if (units > 0)
            m_state.counters[m_name] = double(now() - m_start) / units;
    }
    SwitchCounter(const SwitchCounter&) = delete;
    SwitchCounter& operator=(const SwitchCounter&) = delete;

private:
    static long now() {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return usage.ru_nvcsw + usage.ru_nivcsw;
    }

    benchmark::State& m_state;
    std::string m_name;
    double m_unitsPerIteration;
    long m_start;
};
