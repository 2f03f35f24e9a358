#include "platform/security/CryptoUse.h"

#include <atomic>
#include <cstdlib>
#include <unistd.h>

namespace platform::detail {

namespace {

std::atomic<int> g_callsUnderWay{0};
std::atomic<bool> g_exiting{false};
// Calls under way on this thread: the thread that exits may itself be inside one (a fatal stop).
thread_local int t_callsUnderWay = 0;

// Runs at exit, before the library's own clean-up: from here on no call starts, and the ones under
// way are waited for. Sequentially consistent on both sides: a call either sees the flag, or is
// counted before the hook reads the count.
void letCallsUnderWayFinish() {
    g_exiting.store(true);
    for (int underWay = g_callsUnderWay.load(); underWay > t_callsUnderWay; underWay = g_callsUnderWay.load())
        g_callsUnderWay.wait(underWay);
}

[[noreturn]] void waitForTheProcessToEnd() {
    for (;;)
        ::pause();
}

} // namespace

CryptoUse::CryptoUse() {
    // The library has registered its clean-up while being loaded, before any of our code ran, so this
    // hook, registered at the first call, runs ahead of it.
    static const bool hooked = std::atexit(letCallsUnderWayFinish) == 0;
    (void)hooked;
    g_callsUnderWay.fetch_add(1);
    if (g_exiting.load() && t_callsUnderWay == 0) {
        g_callsUnderWay.fetch_sub(1);
        g_callsUnderWay.notify_all();
        waitForTheProcessToEnd();
    }
    ++t_callsUnderWay;
}

CryptoUse::~CryptoUse() {
    --t_callsUnderWay;
    g_callsUnderWay.fetch_sub(1);
    if (g_exiting.load())
        g_callsUnderWay.notify_all();
}

} // namespace platform::detail
