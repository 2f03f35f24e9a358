#include "sockets/runloop/RunLoopUdpSocket.h"

void RunLoopUdpSocket::closeAfterSending() {
    closeAfter(kCloseAfterSends);
}

void RunLoopUdpSocket::closeAfterReceiving() {
    closeAfter(kCloseAfterReceives);
}

void RunLoopUdpSocket::closeAfterSendingAndReceiving() {
    closeAfter(kCloseAfterSends | kCloseAfterReceives);
}

void RunLoopUdpSocket::closeAfter(uint16_t sides) {
    if (m_flags & kClosed)
        return;
    m_flags |= kNoNewRequests | sides;
    maybeScheduleClose();
}

void RunLoopUdpSocket::maybeScheduleClose() {
    if (wantsCloseNow())
        defer(Deferred::Close, &RunLoopUdpSocket::close);
}

// A socket closes once: the delegate hears of it once, on a later pass.
void RunLoopUdpSocket::close() {
    if (m_flags & kClosed)
        return;
    emptyQueues();
    closeSocket4();
    closeSocket6();
    m_binding.unbind();
    if (m_delegate && m_delegate->respondsTo("onUdpSocketDidClose:")) {
        std::weak_ptr<RunLoopUdpSocket> weak = self();
        m_binding.perform(Deferred::DelegateClose, [weak, delegate = m_delegate] {
            if (auto socket = weak.lock())
                delegate->onUdpSocketDidClose(socket);
        });
    }
    m_flags |= kClosed;
}

void RunLoopUdpSocket::emptyQueues() {
    m_sends.endCurrent();
    m_receives.endCurrent();
    m_sends.pending.clear();
    m_receives.pending.clear();
    m_binding.cancel(Deferred::WriteDequeue);
    m_binding.cancel(Deferred::ReadDequeue);
    m_flags &= ~(kSendDequeueScheduled | kReceiveDequeueScheduled);
}

void RunLoopUdpSocket::closeSocket4() {
    closeSocket(m_socket4, m_source4);
}

void RunLoopUdpSocket::closeSocket6() {
    closeSocket(m_socket6, m_source6);
}

void RunLoopUdpSocket::closeSocket(platform::CFSocketPtr& socket,
                                   std::shared_ptr<platform::RunLoopFdSource>& source) {
    if (socket)
        socket->invalidate();
    socket.reset();
    runLoopRemoveSource(source);
    source.reset();
}
