#include "sockets/common/Timeout.h"
#include "sockets/runloop/RunLoopSocket.h"

sockets::RunLoopBinding::Scheduled RunLoopSocket::scheduled() const {
    return {{m_source4, m_source6}, {m_reads.timer, m_writes.timer, m_connectTimer}};
}

void RunLoopSocket::runLoopAddSource(const std::shared_ptr<platform::RunLoopFdSource>& source) {
    m_binding.add({{source}, {}});
}

void RunLoopSocket::runLoopRemoveSource(const std::shared_ptr<platform::RunLoopFdSource>& source) {
    m_binding.remove({{source}, {}});
}

void RunLoopSocket::runLoopAddTimer(const TimerPtr& timer) {
    m_binding.add({{}, {timer}});
}

void RunLoopSocket::runLoopRemoveTimer(const TimerPtr& timer) {
    m_binding.remove({{}, {timer}});
}

void RunLoopSocket::runLoopAddSource(const std::shared_ptr<platform::RunLoopFdSource>& source,
                                     const platform::RunLoopMode& mode) {
    m_binding.add({{source}, {}}, mode);
}

void RunLoopSocket::runLoopRemoveSource(const std::shared_ptr<platform::RunLoopFdSource>& source,
                                        const platform::RunLoopMode& mode) {
    m_binding.remove({{source}, {}}, mode);
}

void RunLoopSocket::runLoopAddTimer(const TimerPtr& timer, const platform::RunLoopMode& mode) {
    m_binding.add({{}, {timer}}, mode);
}

void RunLoopSocket::runLoopRemoveTimer(const TimerPtr& timer, const platform::RunLoopMode& mode) {
    m_binding.remove({{}, {timer}}, mode);
}

// MARK: - Streams

bool RunLoopSocket::scheduleStreams() {
    auto& loop = m_binding.runLoop();
    for (auto& mode : m_binding.modes()) {
        if (!loop || !m_readStream->scheduleWithRunLoop(loop, mode) ||
            !m_writeStream->scheduleWithRunLoop(loop, mode))
            return false;
    }
    return true;
}

void RunLoopSocket::unscheduleStream(platform::SocketStream& stream) {
    for (auto& mode : m_binding.modes())
        stream.unscheduleFromRunLoop(m_binding.runLoop(), mode);
}

void RunLoopSocket::unscheduleStreams() {
    unscheduleStream(*m_readStream);
    unscheduleStream(*m_writeStream);
}

void RunLoopSocket::runLoopUnscheduleReadStream() {
    unscheduleStream(*m_readStream);
    m_readStream->setClient(platform::kCFStreamEventNone, {});
}

void RunLoopSocket::runLoopUnscheduleWriteStream() {
    unscheduleStream(*m_writeStream);
    m_writeStream->setClient(platform::kCFStreamEventNone, {});
}

// MARK: - Moving and modes

bool RunLoopSocket::moveToRunLoop(const RunLoopPtr& runLoop) {
    if (!runLoop)
        return false;
    if (runLoop == m_binding.runLoop())
        return true;
    return rebind([&] { m_binding.bind(runLoop); });
}

bool RunLoopSocket::setRunLoopModes(const Modes& runLoopModes) {
    if (runLoopModes.empty())
        return false;
    if (runLoopModes == m_binding.modes())
        return true;
    return rebind([&] { m_binding.setModes(runLoopModes); });
}

bool RunLoopSocket::addRunLoopMode(const std::optional<platform::RunLoopMode>& runLoopMode) {
    if (!runLoopMode)
        return false;
    if (m_binding.hasMode(*runLoopMode))
        return true;
    return rebind([&] { m_binding.appendMode(*runLoopMode); });
}

bool RunLoopSocket::removeRunLoopMode(const std::optional<platform::RunLoopMode>& runLoopMode) {
    if (!runLoopMode)
        return false;
    if (!m_binding.hasMode(*runLoopMode))
        return true;
    if (m_binding.modes().size() == 1)
        return false;
    return rebind([&] { m_binding.eraseMode(*runLoopMode); });
}

// Every timer moves, the connect timer too: one left behind would fire on the old thread. The steps are
// queued on the new loop before its events can start, and the streams come last, so that the new thread
// finds the socket whole.
bool RunLoopSocket::rebind(const std::function<void()>& change) {
    cancelDeferred();
    bool streams = bothStreams();
    if (streams)
        unscheduleStreams();
    m_binding.remove(scheduled());
    change();
    // An unbound socket has nothing attached for these steps to serve; queued on the calling thread they
    // would only race with the thread the socket is given to next.
    if (m_binding.runLoop()) {
        defer(Deferred::ReadDequeue, &RunLoopSocket::maybeDequeueRead);
        defer(Deferred::WriteDequeue, &RunLoopSocket::maybeDequeueWrite);
        defer(Deferred::Close, &RunLoopSocket::maybeScheduleDisconnect);
    }
    m_binding.add(scheduled());
    return !streams || scheduleStreams();
}

// MARK: - Deferred calls and timers

void RunLoopSocket::cancelDeferred() {
    m_binding.cancelAll();
    m_flags &= ~kDequeuesScheduled;
}

void RunLoopSocket::defer(Deferred kind, Step step) {
    std::weak_ptr<RunLoopSocket> weak = self();
    m_binding.perform(kind, [weak, step] {
        if (auto socket = weak.lock())
            ((*socket).*step)();
    });
}

RunLoopSocket::TimerPtr RunLoopSocket::startTimer(double seconds,
                                                  void (RunLoopSocket::*fired)(platform::Timer&)) {
    std::weak_ptr<RunLoopSocket> weak = self();
    auto timer = platform::Timer::timerWithTimeInterval(sockets::durationFromSeconds(seconds), false,
                                                        [weak, fired](platform::Timer& timer) {
                                                            if (auto socket = weak.lock())
                                                                ((*socket).*fired)(timer);
                                                        });
    m_binding.add({{}, {timer}});
    return timer;
}

void RunLoopSocket::endTimer(TimerPtr& timer) {
    if (timer)
        timer->invalidate();
    timer.reset();
}
