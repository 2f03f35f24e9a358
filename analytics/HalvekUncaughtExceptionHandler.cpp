#include "analytics/HalvekUncaughtExceptionHandler.h"

#include "analytics/UAPendingCrash.h"
#include "analytics/UsageAnalyticsApp.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Immortal.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopFdSource.h"
#include "platform/runloop/Thread.h"

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cxxabi.h>
#include <execinfo.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <thread>
#include <time.h>
#include <typeinfo>
#include <unistd.h>

namespace {

using uadetail::CaughtException;

constexpr int kCaughtSignals[] = {SIGABRT, SIGILL, SIGSEGV, SIGFPE, SIGBUS};
constexpr int kRestoredSignals[] = {SIGABRT, SIGILL, SIGSEGV, SIGFPE, SIGBUS, SIGPIPE};
constexpr int kMaximumFrames = 128;

std::terminate_handler g_previousTerminate = nullptr;
// Whether crashes are recorded: the settings' observer of the crash notification is registered.
std::atomic<const UsageAnalyticsApp*> g_settings{nullptr};
alignas(16) char g_alternateStack[64 * 1024];

bool recording() {
    const auto* settings = g_settings.load();
    return settings && settings->appCrashedHandlerInstalled();
}

const char* signalName(int signo) {
    switch (signo) {
    case SIGABRT:
        return "SIGABRT";
    case SIGBUS:
        return "SIGBUS";
    case SIGFPE:
        return "SIGFPE";
    case SIGILL:
        return "SIGILL";
    case SIGSEGV:
        return "SIGSEGV";
    case SIGTRAP:
        return "SIGTRAP";
    default:
        return "UNKNOWN";
    }
}

// Async-signal-safe: sigaction only.
void restoreDefaultSignals() {
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signo : kRestoredSignals)
        sigaction(signo, &action, nullptr);
}

void restoreDefaults() {
    std::set_terminate(g_previousTerminate);
    restoreDefaultSignals();
}

// A fatal signal is recorded in full, with the records in memory, by a thread other than the one that
// took it, while that one waits in its handler: a signal on another thread is handed to the main thread
// (whose run loop watches `mainRequest`), a signal on the main thread to the crash thread, which is
// started with crash capture and does nothing else. The faulting thread then dies by its signal as
// before. `recorded` tells the waiting threads.
struct SignalHandover {
    int mainRequest{-1};
    int crashThreadRequest{-1};
    int recorded{-1};
    pid_t crashThreadProcess{0}; // a child forked after the start has no crash thread
    std::atomic<int> signo{0};
    std::shared_ptr<platform::RunLoopFdSource> source;
};

SignalHandover& signalHandover() {
    static platform::detail::Immortal<SignalHandover> handover; // a crash may come during exit
    return handover.get();
}

int64_t monotonicMilliseconds() {
    timespec now = {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void tell(int eventDescriptor) {
    uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(eventDescriptor, &one, sizeof one);
}

// The request descriptor of the thread that records a signal the calling thread took; -1 for none.
int recorderRequest() {
    auto& handover = signalHandover();
    if (!platform::RunLoop::isMainThread())
        return handover.mainRequest;
    return handover.crashThreadProcess == ::getpid() ? handover.crashThreadRequest : -1;
}

// Async-signal-safe: eventfd writes and poll only. Returns when the crash has been recorded or the wait
// is over.
void waitForRecorder(int signo) {
    auto& handover = signalHandover();
    int request = recorderRequest();
    if (request < 0 || handover.recorded < 0)
        return;
    int none = 0;
    // A later signal on another thread waits for the first one's record. The main thread may have taken
    // its signal while that record was still its own to make: the crash thread makes it instead.
    if (handover.signo.compare_exchange_strong(none, signo) || request == handover.crashThreadRequest)
        tell(request);
    const int64_t deadline = monotonicMilliseconds() +
                             std::chrono::milliseconds(HalvekUncaughtExceptionHandler::kRecorderWait).count();
    for (int64_t left; (left = deadline - monotonicMilliseconds()) > 0;) {
        pollfd recorded = {handover.recorded, POLLIN, 0};
        if (::poll(&recorded, 1, static_cast<int>(left)) != -1 || errno != EINTR)
            return;
    }
}

void onSignal(int signo, siginfo_t*, void*) {
    if (recording()) {
        uadetail::PendingCrash::recordSignal(signalName(signo));
        waitForRecorder(signo);
    }
    restoreDefaultSignals();
    raise(signo);
}

// The default handlers come back first, so that a fault while saving ends the process at once (the
// pending file still tells the next launch); the crash notification then makes the record and saves.
void saveCrash(HalvekUncaughtExceptionHandler& handler, const std::shared_ptr<CaughtException>& exception) {
    restoreDefaults();
    handler.validateAndSaveCriticalApplicationData(exception);
}

// The main thread's part of the crash, for an exception or a handed-over signal: the loop runs
// briefly, then the crash is saved.
void settleCrash(HalvekUncaughtExceptionHandler& handler, const std::shared_ptr<CaughtException>& exception) {
    platform::RunLoop::current()->runModeForRealTime(platform::RunLoop::defaultMode,
                                                     std::chrono::milliseconds(1));
    saveCrash(handler, exception);
}

// The signal being handed over, once its request has been read.
std::shared_ptr<CaughtException> takeSignal(int request) {
    uint64_t count = 0;
    while (::read(request, &count, sizeof count) < 0 && errno == EINTR) {
    }
    int signo = signalHandover().signo.load();
    auto exception = std::make_shared<CaughtException>();
    exception->name = "signalRaisedException";
    exception->reason = std::string("Application received signal ") + signalName(signo);
    exception->userInfo = platform::Value::dictionary({{"UncaughtExceptionHandlerSignalKey", signo}});
    exception->callStackReturnAddresses = uadetail::PendingCrash::signalFrames();
    return exception;
}

// Recorded in full: the next launch must not record it twice.
void signalRecorded() {
    uadetail::PendingCrash::discard();
    tell(signalHandover().recorded);
}

// On the main thread, called out by the run loop for a signal another thread took.
[[noreturn]] void recordHandedOverSignal() {
    auto exception = takeSignal(signalHandover().mainRequest);
    HalvekUncaughtExceptionHandler handler;
    settleCrash(handler, exception);
    signalRecorded();
    for (;;)
        ::pause(); // the faulting thread ends the process with its signal
}

// The crash thread's one job, for a signal the main thread took. It must not wait for the main thread
// or its run loop: the main thread stays in its handler until this is done or the limit is over.
void recordMainThreadSignal() {
    auto exception = takeSignal(signalHandover().crashThreadRequest);
    HalvekUncaughtExceptionHandler handler;
    saveCrash(handler, exception);
    signalRecorded();
}

void startCrashThread() {
    auto& handover = signalHandover();
    handover.crashThreadRequest = ::eventfd(0, EFD_CLOEXEC);
    if (handover.crashThreadRequest < 0)
        return;
    // Started with every signal blocked, the thread keeps them blocked: a signal sent to the process is
    // never delivered to it, so it is always free to record one the main thread took.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    platform::Thread::detachNewThread("com.marvane.analytics.crash", recordMainThreadSignal);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    handover.crashThreadProcess = ::getpid();
}

void prepareRecorders() {
    auto& handover = signalHandover();
    handover.mainRequest = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    handover.recorded = ::eventfd(0, EFD_CLOEXEC);
    if (handover.mainRequest < 0 || handover.recorded < 0)
        return;
    handover.source = platform::RunLoopFdSource::create(
        handover.mainRequest, [](platform::RunLoopFdSource&, uint32_t) { recordHandedOverSignal(); });
    platform::RunLoop::main()->addSource(handover.source, platform::RunLoop::commonModes);
    startCrashThread();
}

std::string demangled(const char* name) {
    int status = 0;
    char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string text = status == 0 && readable ? readable : name;
    std::free(readable);
    return text;
}

std::shared_ptr<CaughtException> currentException() {
    auto caught = std::make_shared<CaughtException>();
    void* frames[kMaximumFrames];
    int count = ::backtrace(frames, kMaximumFrames);
    for (int i = 0; i < count; ++i)
        caught->callStackReturnAddresses.push_back(reinterpret_cast<uintptr_t>(frames[i]));
    auto thrown = std::current_exception();
    if (!thrown) {
        caught->name = "std::terminate";
        caught->reason = "terminate called without an active exception";
        return caught;
    }
    try {
        std::rethrow_exception(thrown);
    } catch (const platform::Exception& e) {
        caught->name = e.name();
        caught->reason = e.reason();
        caught->userInfo = e.userInfo();
    } catch (const std::exception& e) {
        caught->name = demangled(typeid(e).name());
        caught->reason = e.what();
    } catch (...) {
        auto* type = abi::__cxa_current_exception_type();
        caught->name = type ? demangled(type->name()) : "unknown";
    }
    return caught;
}

// Another thread crashed: the main thread handles the crash; if it does not come in time (it may be
// blocked on the crashing thread), the crash is kept for the next launch instead.
[[noreturn]] void handOverToMainThread(const std::shared_ptr<HalvekUncaughtExceptionHandler>& handler,
                                       const std::shared_ptr<CaughtException>& exception) {
    struct Handover {
        std::mutex mutex;
        std::condition_variable never;
        std::atomic<bool> claimed{false};
    };
    auto handover = std::make_shared<Handover>();
    platform::RunLoop::main()->performBlock([handler, exception, handover] {
        if (!handover->claimed.exchange(true))
            handler->handleException(exception);
    });
    {
        std::unique_lock lock(handover->mutex);
        handover->never.wait_for(lock, HalvekUncaughtExceptionHandler::kRecorderWait);
    }
    if (!handover->claimed.exchange(true)) {
        if (recording())
            uadetail::PendingCrash::recordException(exception->reason,
                                                    HalvekUncaughtExceptionHandler::backtrace(*exception));
        restoreDefaults();
        std::abort();
    }
    for (;;)
        ::pause(); // the main thread ends the process
}

[[noreturn]] void onTerminate() {
    auto exception = currentException();
    auto handler = std::make_shared<HalvekUncaughtExceptionHandler>();
    if (platform::RunLoop::isMainThread())
        handler->handleException(exception);
    handOverToMainThread(handler, exception);
}

} // namespace

std::vector<std::string> HalvekUncaughtExceptionHandler::backtrace(const CaughtException& exception) {
    std::vector<void*> frames;
    for (uintptr_t address : exception.callStackReturnAddresses)
        frames.push_back(reinterpret_cast<void*>(address));
    std::vector<std::string> symbols;
    if (frames.empty())
        return symbols;
    char** texts = ::backtrace_symbols(frames.data(), static_cast<int>(frames.size()));
    if (!texts)
        return symbols;
    for (size_t i = 0; i < frames.size(); ++i)
        symbols.emplace_back(texts[i]);
    std::free(texts);
    return symbols;
}

std::map<int, std::string> HalvekUncaughtExceptionHandler::signals() {
    std::map<int, std::string> names;
    for (int signo : {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP})
        names[signo] = signalName(signo);
    return names;
}

void HalvekUncaughtExceptionHandler::handleException(const std::shared_ptr<CaughtException>& exception) {
    settleCrash(*this, exception);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    // The platform's default crash handling of an exception raised again: the process aborts.
    std::abort();
}

void HalvekUncaughtExceptionHandler::validateAndSaveCriticalApplicationData(
    const std::shared_ptr<CaughtException>& exception) {
    platform::NotificationCenter::defaultCenter().postNotificationName("UsageAnalyticsCrashCatch", exception);
}

void HalvekUncaughtExceptionHandler::installHandlers() {
    g_settings = UsageAnalyticsApp::sharedInstance().get();
    g_previousTerminate = std::set_terminate(onTerminate);
    stack_t stack = {};
    stack.ss_sp = g_alternateStack;
    stack.ss_size = sizeof g_alternateStack;
    sigaltstack(&stack, nullptr);
    struct sigaction action = {};
    action.sa_sigaction = onSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signo : kCaughtSignals)
        sigaction(signo, &action, nullptr);
    prepareRecorders();
}
