// How many bytes the sender lets wait in its socket, on a made-up timeline: a link read every 10 ms
// that carries so many bytes per second while the sender keeps it busy. The stream starts at
// 240 000 bytes/s (1.92 Mbit/s); the send buffer holds 200 000 bytes unless a case says otherwise.
#include "sdk/librtmp/BacklogTarget.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

using livecore::rtmp::BacklogLimits;
using livecore::rtmp::BacklogTarget;
using livecore::rtmp::SendBacklog;
using namespace std::chrono_literals;

namespace {

constexpr auto readingEvery = 10ms;

BacklogLimits limits(uint64_t ceiling = 200000) {
    BacklogLimits limits;
    limits.startRate = 240000;
    limits.ceiling = ceiling;
    return limits;
}

// A stretch of the link: while busy (the first `busy` of every second) the sender writes what the
// link carries, `bytesPerSecond`, on top of `waiting` bytes it keeps in the socket; the receiver
// acknowledges what has arrived every `ackEvery`, as one whose window opens only now and then.
struct Phase {
    std::chrono::milliseconds length;
    uint64_t bytesPerSecond;
    std::chrono::milliseconds ackEvery{readingEvery};
    std::chrono::milliseconds busy{1s};
    uint64_t waiting{0};
};

class Link {
public:
    explicit Link(BacklogTarget& target)
        : m_target(target) {}

    // Calls `reading` with the time since the phase began after each reading.
    template <typename Reading> void run(const Phase& phase, Reading reading) {
        uint64_t arrived = 0; // carried, not yet acknowledged
        for (auto elapsed = readingEvery; elapsed <= phase.length; elapsed += readingEvery) {
            m_now += readingEvery;
            if (elapsed % 1s < phase.busy) {
                arrived += phase.bytesPerSecond * readingEvery.count() / 1000;
                m_written = std::max(m_written, m_acknowledged + arrived + phase.waiting);
            }
            if (elapsed % phase.ackEvery == 0ms) {
                m_acknowledged += arrived;
                arrived = 0;
            }
            m_target.observe(m_now, SendBacklog{m_written - m_acknowledged, m_acknowledged, 65536});
            reading(elapsed);
        }
    }
    void run(const Phase& phase) {
        run(phase, [](auto) {});
    }

private:
    BacklogTarget& m_target;
    BacklogTarget::TimePoint m_now{100s};
    uint64_t m_written{0};
    uint64_t m_acknowledged{0};
};

} // namespace

TEST(BacklogTarget, HoldsHalfASecondOfWhatTheLinkCarriesBetweenTheFloorAndTheSendBuffer) {
    struct Case {
        const char* name;
        std::vector<Phase> phases;
        uint64_t ceiling;
        uint64_t expected;
    };
    const Case cases[] = {
        {"100 kbit/s", {{5s, 12500}}, 200000, 6250},
        {"400 kbit/s", {{5s, 50000}}, 200000, 25000},
        {"faster than the send buffer holds", {{5s, 1000000}}, 200000, 200000},
        {"a send buffer smaller than the floor", {{5s, 0}}, 2048, 2048},
        {"very slow: the floor", {{5s, 2000}}, 200000, 4096},
        {"stalled with bytes waiting: the floor", {{5s, 0, readingEvery, 1s, 20000}}, 200000, 4096},
        {"slowed down: the old rate has left the window", {{10s, 200000}, {3s, 12500}}, 200000, 6250},
        {"busy half the time: idle time does not count", {{5s, 50000, readingEvery, 500ms}}, 200000, 25000},
        {"bytes kept waiting", {{5s, 12500, readingEvery, 1s, 20000}}, 200000, 6250},
    };
    for (const auto& [name, phases, ceiling, expected] : cases) {
        SCOPED_TRACE(name);
        BacklogTarget target(limits(ceiling));
        Link link(target);
        for (const auto& phase : phases)
            link.run(phase);
        EXPECT_NEAR(double(target.target()), double(expected), double(expected) * 0.02);
    }
}

TEST(BacklogTarget, TheStreamsOwnRateStandsUntilTheLinkHasBeenMeasured) {
    BacklogTarget target(limits());
    EXPECT_EQ(target.target(), 120000u) << "half a second of 240 000 bytes/s";
    Link link(target);
    link.run({3s, 0}); // nothing sent yet
    EXPECT_EQ(target.target(), 120000u);

    // On a 100 kbit/s link the target moves towards 6250 bytes as the link is measured, not at the
    // first tenth of a second of it, and reaches it once a second has been.
    uint64_t previous = target.target();
    link.run({1s, 12500}, [&](std::chrono::milliseconds elapsed) {
        EXPECT_LE(target.target(), previous);
        previous = target.target();
        if (elapsed == 100ms) {
            EXPECT_GT(target.target(), 60000u);
        }
    });
    EXPECT_NEAR(double(target.target()), 6250, 125);
}

// As a receiver that opens its window only once enough room has been made, up to half a second of the
// link's bytes at a time.
TEST(BacklogTarget, AcknowledgementsInBurstsDoNotSwingTheTarget) {
    for (auto every : {10ms, 100ms, 250ms, 500ms}) {
        SCOPED_TRACE(every.count());
        BacklogTarget target(limits());
        Link link(target);
        link.run({3s, 12500, every});
        uint64_t lowest = target.target();
        uint64_t highest = target.target();
        link.run({10s, 12500, every}, [&](std::chrono::milliseconds) {
            lowest = std::min(lowest, target.target());
            highest = std::max(highest, target.target());
        });
        EXPECT_GE(lowest, 6250 * 0.8);
        EXPECT_LE(highest, 6250 * 1.2);
    }
}

TEST(BacklogTarget, WaitsAboutAsLongAsTheLinkTakesToCarryTheExcess) {
    struct Case {
        const char* name;
        uint64_t bytesPerSecond;
        uint64_t unacknowledged;
        std::chrono::milliseconds expected;
    };
    const Case cases[] = {
        {"within the target", 12500, 6250, 0ms},
        {"130 bytes over at 12 500 bytes/s", 12500, 6380, 11ms},
        {"one byte over: not a spin", 12500, 6251, 4ms},
        {"far over: looks again within tens of milliseconds", 12500, 100000, 50ms},
        {"stalled", 0, 10000, 50ms},
    };
    for (const auto& [name, bytesPerSecond, unacknowledged, expected] : cases) {
        SCOPED_TRACE(name);
        BacklogTarget target(limits());
        Link(target).run({5s, bytesPerSecond, readingEvery, 1s, 20000});
        EXPECT_EQ(target.drainWait(unacknowledged), expected);
    }
}
