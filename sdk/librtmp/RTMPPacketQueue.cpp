#include "sdk/librtmp/RTMPPacketQueue.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace livecore::rtmp {

RTMPPacketQueue::RTMPPacketQueue(size_t capacity)
    : m_capacity(capacity == 0 ? 1 : capacity)
    , m_ready(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    noteLevel();
}

void RTMPPacketQueue::noteLevel() {
    const size_t size = m_packets.size();
    if (size * 2 <= m_capacity)
        m_level.overHalfSince.reset();
    else if (!m_level.overHalfSince)
        m_level.overHalfSince = platform::Clock::now();
    if (size * 4 >= m_capacity)
        m_level.underQuarterSince.reset();
    else if (!m_level.underQuarterSince)
        m_level.underQuarterSince = platform::Clock::now();
}

RTMPPacketQueue::Level RTMPPacketQueue::level() const {
    std::lock_guard lock(m_mutex);
    return m_level;
}

bool RTMPPacketQueue::push(QueuedPacket packet) {
    {
        std::unique_lock lock(m_mutex);
        if (!m_closed && m_packets.size() >= m_capacity) {
            ++m_waiting;
            m_notFull.wait(lock, [this] { return m_closed || m_packets.size() < m_capacity; });
            --m_waiting;
        }
        if (m_closed)
            return false;
        m_packets.push_back(std::move(packet));
        noteLevel();
    }
    uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(m_ready.get(), &one, sizeof(one));
    return true;
}

void RTMPPacketQueue::clearReady() {
    uint64_t count;
    [[maybe_unused]] auto read = ::read(m_ready.get(), &count, sizeof(count));
}

std::optional<QueuedPacket> RTMPPacketQueue::takeForSending() {
    std::optional<QueuedPacket> packet;
    {
        std::lock_guard lock(m_mutex);
        if (m_packets.empty())
            return std::nullopt;
        packet = std::move(m_packets.front());
        m_packets.pop_front();
        noteLevel();
        m_sending = true;
    }
    m_notFull.notify_one();
    return packet;
}

void RTMPPacketQueue::finishedSending() {
    std::lock_guard lock(m_mutex);
    m_sending = false;
}

void RTMPPacketQueue::close() {
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_packets.clear();
        noteLevel();
    }
    m_notFull.notify_all();
}

size_t RTMPPacketQueue::size() const {
    std::lock_guard lock(m_mutex);
    return m_packets.size();
}

bool RTMPPacketQueue::isSending() const {
    std::lock_guard lock(m_mutex);
    return m_sending;
}

size_t RTMPPacketQueue::waitingProducers() const {
    std::lock_guard lock(m_mutex);
    return m_waiting;
}

} // namespace livecore::rtmp
