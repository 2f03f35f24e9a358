#include "sockets/runloop/RunLoopBinding.h"

#include <algorithm>

namespace sockets {

RunLoopBinding::~RunLoopBinding() {
    cancelAll();
}

bool RunLoopBinding::hasMode(const platform::RunLoopMode& mode) const {
    return std::find(m_modes.begin(), m_modes.end(), mode) != m_modes.end();
}

void RunLoopBinding::eraseMode(const platform::RunLoopMode& mode) {
    m_modes.erase(std::remove(m_modes.begin(), m_modes.end(), mode), m_modes.end());
}

void RunLoopBinding::add(const Scheduled& scheduled) const {
    for (auto& mode : m_modes)
        apply(scheduled, mode, true);
}

void RunLoopBinding::remove(const Scheduled& scheduled) const {
    for (auto& mode : m_modes)
        apply(scheduled, mode, false);
}

void RunLoopBinding::add(const Scheduled& scheduled, const platform::RunLoopMode& mode) const {
    apply(scheduled, mode, true);
}

void RunLoopBinding::remove(const Scheduled& scheduled, const platform::RunLoopMode& mode) const {
    apply(scheduled, mode, false);
}

void RunLoopBinding::apply(const Scheduled& scheduled, const platform::RunLoopMode& mode, bool adding) const {
    if (!m_runLoop)
        return;
    for (auto& source : scheduled.sources) {
        if (source && adding)
            m_runLoop->addSource(source, mode);
        else if (source)
            m_runLoop->removeSource(source, mode);
    }
    for (auto& timer : scheduled.timers) {
        if (timer && adding)
            m_runLoop->addTimer(timer, mode);
        else if (timer)
            m_runLoop->removeTimer(timer, mode);
    }
}

void RunLoopBinding::perform(Deferred kind, std::function<void()> block) {
    auto loop = m_runLoop ? m_runLoop : platform::RunLoop::current();
    m_performedOn[size_t(kind)] = loop;
    loop->performBlock(std::move(block), m_modes, &m_keys[size_t(kind)]);
}

void RunLoopBinding::cancel(Deferred kind) {
    if (auto loop = m_performedOn[size_t(kind)].lock())
        loop->cancelPerformsWithTarget(&m_keys[size_t(kind)]);
    m_performedOn[size_t(kind)].reset();
}

void RunLoopBinding::cancelAll() {
    for (size_t kind = 0; kind < kKinds; ++kind)
        cancel(Deferred(kind));
}

} // namespace sockets
