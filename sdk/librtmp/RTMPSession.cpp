#include "sdk/librtmp/RTMPSession.h"

#include "platform/foundation/FileDescriptor.h"
#include "platform/runloop/Thread.h"
#include "sdk/librtmp/BacklogTarget.h"
#include "sdk/librtmp/DualStackConnect.h"
#include "sdk/librtmp/LivenessWatch.h"
#include "sdk/librtmp/RTMPEndpoint.h"
#include "sdk/librtmp/RTMPLog.h"
#include "sdk/librtmp/SendBacklog.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <librtmp/rtmp.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <vector>

namespace livecore {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int metadataChannel = 0x04;
constexpr int audioChannel = 0x05;
constexpr int videoChannel = 0x06;
constexpr int controlChannel = 0x02;
// Larger chunks than the protocol's 128 bytes: a keyframe goes out in a few writes, not hundreds.
constexpr uint32_t outgoingChunkSize = 4096;
constexpr short pingRequestEvent = 6;
constexpr int pingResponseEvent = 7;

struct RTMPDeleter {
    void operator()(RTMP* rtmp) const {
        RTMP_Close(rtmp);
        RTMP_Free(rtmp);
    }
};

// The library writes with plain send(): a peer that has gone would raise SIGPIPE and end the process.
// Blocked on our own threads, it turns into EPIPE, which the library reports as a failed send.
void blockBrokenPipeSignal() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool isPingResponse(const RTMPPacket& packet) {
    return packet.m_packetType == RTMP_PACKET_TYPE_CONTROL && packet.m_nBodySize >= 2 &&
           (static_cast<uint8_t>(packet.m_body[0]) << 8 | static_cast<uint8_t>(packet.m_body[1])) ==
               pingResponseEvent;
}

// Half a second of the bitrate ceiling (which the kernel doubles): room for the backlog target of a
// link fast enough for the ceiling, and for a keyframe at it. How much may wait in the socket on a
// slower link is the backlog target's to say; the buffer's size still bounds how long one write can
// block, and keeps the kernel from growing it to megabytes.
int sendBufferBytes(const rtmp::StreamParameters& parameters) {
    constexpr int64_t least = 16 * 1024;
    const int64_t halfSecond = (int64_t(parameters.videoBitrate) + parameters.audioBitrate) / 16;
    return static_cast<int>(std::clamp<int64_t>(halfSecond, least, 4 * 1024 * 1024));
}

timeval toTimeval(std::chrono::milliseconds duration) {
    return {static_cast<time_t>(duration.count() / 1000),
            static_cast<suseconds_t>(duration.count() % 1000 * 1000)};
}

} // namespace

struct RTMPSession::Core {
    enum class Handshake { Pending, Done, Failed };

    enum class Wait { Readable, Queued, Due, Aborted, Failed };
    enum class Sent { All, Stalled, Aborted, Failed };

    std::string url;
    rtmp::StreamParameters parameters;
    rtmp::Liveness liveness;
    StateCallback callback;
    std::function<void(const rtmp::QueuedPacket&)> written;
    rtmp::RTMPPacketQueue queue;
    std::mutex queueObserverMutex;
    std::shared_ptr<const QueueObserver> queueObserver;

    // Only the connect thread, then (once the handshake is settled) only the send thread, uses these.
    std::vector<char> urlCopy; // the library keeps pointers into the address it was given
    std::unique_ptr<RTMP, RTMPDeleter> rtmp;
    bool failed{false};
    // How long one blocking write may take: the whole limit, or less while the ingest takes nothing.
    std::chrono::milliseconds writeTimeout{0};
    std::chrono::milliseconds currentWriteTimeout{0};
    uint64_t sendBufferHeld{0}; // the socket's send buffer as the kernel sized it
    std::optional<rtmp::BacklogTarget> pacing;

    platform::FileDescriptor wake{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    std::atomic<bool> aborted{false};

    std::mutex mutex;
    std::condition_variable changed;
    Handshake handshake{Handshake::Pending};
    // A second descriptor of the library's socket, so that a stop can shut the connection down while a
    // thread is blocked on it without ever touching a descriptor number the library has closed.
    platform::FileDescriptor abortHandle;
    bool published{false};

    void report(State state, const std::string& reason = {}) {
        if (callback)
            callback(state, reason);
    }

    void fail(const std::string& reason) {
        if (failed || aborted.load())
            return;
        failed = true;
        queue.close();
        report(State::Error, reason);
    }

    void abort() {
        aborted = true;
        queue.close();
        uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wake.get(), &one, sizeof(one));
        std::lock_guard lock(mutex);
        // Once published, the send thread sees the wake-up and closes the stream properly instead.
        if (abortHandle && !published)
            ::shutdown(abortHandle.get(), SHUT_RDWR);
        changed.notify_all();
    }

    bool connect(std::string& reason);
    void publishAndServe();
    bool sendMetadata();
    bool sendMessage(uint8_t type, int channel, int32_t timestamp, const std::vector<uint8_t>& body);
    Sent sendQueued(rtmp::LivenessWatch& watch);
    void serve();
    std::optional<rtmp::SendBacklog> observeBacklog(rtmp::LivenessWatch& watch, SteadyClock::time_point now);
    rtmp::BacklogLimits backlogLimits() const;
    Sent waitWritable(rtmp::LivenessWatch& watch);
    void limitWrite(const rtmp::LivenessWatch& watch);
    void failStalled();
    Wait waitForServer(SteadyClock::time_point until);
    void closeConnection();
};

bool RTMPSession::Core::connect(std::string& reason) {
    auto endpoint = rtmp::parseRTMPEndpoint(url);
    if (!endpoint) {
        reason = "not an rtmp:// address: " + url;
        return false;
    }
    rtmp.reset(RTMP_Alloc());
    if (!rtmp) {
        reason = "out of memory";
        return false;
    }
    RTMP_Init(rtmp.get());
    rtmp->Link.timeout = 0; // set after parsing only by the address's own "timeout=" option
    urlCopy.assign(url.begin(), url.end());
    urlCopy.push_back('\0');
    if (!RTMP_SetupURL(rtmp.get(), urlCopy.data())) {
        reason = "unusable publish address: " + url;
        return false;
    }
    RTMP_EnableWrite(rtmp.get());

    std::chrono::milliseconds timeout = liveness.silenceLimit;
    if (rtmp->Link.timeout > 0)
        timeout = std::chrono::seconds(rtmp->Link.timeout);
    auto connection = rtmp::connectDualStack(endpoint->host, endpoint->port, wake.get(), timeout);
    if (!connection.socket) {
        reason = connection.error;
        return false;
    }
    int socket = connection.socket.get();
    {
        std::lock_guard lock(mutex);
        if (aborted)
            return false;
        abortHandle.reset(::fcntl(socket, F_DUPFD_CLOEXEC, 0));
    }
    // What the library's own connect would have set: time-outs on every blocking read and write, and
    // no batching of small messages.
    timeval socketTimeout = toTimeval(timeout);
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &socketTimeout, sizeof(socketTimeout));
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &socketTimeout, sizeof(socketTimeout));
    int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    int sendBuffer = sendBufferBytes(parameters);
    ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof(sendBuffer));
    socklen_t length = sizeof(sendBuffer);
    if (::getsockopt(socket, SOL_SOCKET, SO_SNDBUF, &sendBuffer, &length) == 0 && sendBuffer > 0)
        sendBufferHeld = static_cast<uint64_t>(sendBuffer);
    writeTimeout = currentWriteTimeout = timeout;

    rtmp->m_sb.sb_socket = connection.socket.release();
    if (!RTMP_Connect1(rtmp.get(), nullptr)) {
        reason = "RTMP handshake failed";
        return false;
    }
    return true;
}

void RTMPSession::Core::publishAndServe() {
    if (!RTMP_ConnectStream(rtmp.get(), 0)) {
        fail(RTMP_IsTimedout(rtmp.get()) ? "the server did not answer the publish request in time"
                                         : "the server refused to publish the stream");
        return;
    }
    {
        std::lock_guard lock(mutex);
        published = true;
    }
    if (aborted)
        return;
    if (!sendMetadata()) {
        fail("sending the stream metadata failed");
        return;
    }
    report(State::SessionStarted);
    serve();
}

bool RTMPSession::Core::sendMetadata() {
    const std::vector<uint8_t> chunkSize = {uint8_t(outgoingChunkSize >> 24),
                                            uint8_t(outgoingChunkSize >> 16), uint8_t(outgoingChunkSize >> 8),
                                            uint8_t(outgoingChunkSize)};
    if (!sendMessage(RTMP_PACKET_TYPE_CHUNK_SIZE, controlChannel, 0, chunkSize))
        return false;
    rtmp->m_outChunkSize = outgoingChunkSize;
    return sendMessage(RTMP_PACKET_TYPE_INFO, metadataChannel, 0, rtmp::streamMetadataMessage(parameters));
}

bool RTMPSession::Core::sendMessage(uint8_t type, int channel, int32_t timestamp,
                                    const std::vector<uint8_t>& body) {
    RTMPPacket packet;
    std::memset(&packet, 0, sizeof(packet));
    if (!RTMPPacket_Alloc(&packet, static_cast<uint32_t>(body.size())))
        return false;
    packet.m_packetType = type;
    packet.m_nChannel = channel;
    packet.m_headerType = RTMP_PACKET_SIZE_LARGE;
    packet.m_nTimeStamp = static_cast<uint32_t>(timestamp);
    packet.m_hasAbsTimestamp = 0;
    packet.m_nInfoField2 = type == RTMP_PACKET_TYPE_CHUNK_SIZE ? 0 : rtmp->m_stream_id;
    packet.m_nBodySize = static_cast<uint32_t>(body.size());
    std::memcpy(packet.m_body, body.data(), body.size());
    bool sent = RTMP_SendPacket(rtmp.get(), &packet, 0) != 0;
    RTMPPacket_Free(&packet);
    return sent;
}

// Sends every message waiting in the queue, in order. The queue counts a message as being sent from
// the moment it is taken (waiting for room in the socket included) until the send returns.
RTMPSession::Core::Sent RTMPSession::Core::sendQueued(rtmp::LivenessWatch& watch) {
    queue.clearReady();
    while (!aborted) {
        auto packet = queue.takeForSending();
        if (!packet)
            return Sent::All;
        std::shared_ptr<const QueueObserver> observer;
        {
            std::lock_guard lock(queueObserverMutex);
            observer = queueObserver;
        }
        if (observer)
            (*observer)(queue.level());
        auto writable = waitWritable(watch);
        if (writable != Sent::All) {
            queue.finishedSending();
            return writable;
        }
        limitWrite(watch);
        const int channel = packet->messageType == RTMP_PACKET_TYPE_AUDIO ? audioChannel : videoChannel;
        const bool sent = sendMessage(packet->messageType, channel, packet->timestamp, packet->body);
        queue.finishedSending();
        if (!sent) {
            auto now = SteadyClock::now();
            observeBacklog(watch, now);
            return watch.isStalled(now) ? Sent::Stalled : Sent::Failed;
        }
        if (written)
            written(*packet);
    }
    return Sent::Aborted;
}

std::optional<rtmp::SendBacklog> RTMPSession::Core::observeBacklog(rtmp::LivenessWatch& watch,
                                                                   SteadyClock::time_point now) {
    auto backlog = rtmp::readSendBacklog(abortHandle.get());
    if (backlog) {
        watch.sending(now, *backlog);
        if (pacing)
            pacing->observe(now, *backlog);
    }
    return backlog;
}

rtmp::BacklogLimits RTMPSession::Core::backlogLimits() const {
    rtmp::BacklogLimits limits;
    limits.startRate = (double(parameters.videoBitrate) + double(parameters.audioBitrate)) / 8;
    if (sendBufferHeld > 0)
        limits.ceiling = sendBufferHeld;
    return limits;
}

// Waits until the link has carried the socket's backlog down to its target and the socket has room,
// so that a message waits here, with the sender busy (the encoder skips frames, the queue fills), and
// a write blocks only when a message is larger than the room there is. When the ingest stops taking
// data, the wait ends with the stall deadline instead of a write blocked for the whole limit.
RTMPSession::Core::Sent RTMPSession::Core::waitWritable(rtmp::LivenessWatch& watch) {
    for (;;) {
        auto now = SteadyClock::now();
        auto backlog = observeBacklog(watch, now);
        if (watch.isStalled(now))
            return Sent::Stalled;
        auto until = watch.stallDeadline().value_or(now + liveness.silenceLimit);
        // Nothing wakes us when the link has carried enough (a low-water mark on unsent bytes would
        // not count those sent and unacknowledged): look again once it should have.
        const auto drain =
            backlog && pacing ? pacing->drainWait(backlog->unacknowledged) : std::chrono::milliseconds(0);
        if (drain.count() > 0)
            until = std::min(until, now + drain);
        auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        // Errors and hang-ups are reported even while room is not asked for; the write then tells them.
        const short socketEvents = drain.count() > 0 ? 0 : POLLOUT;
        pollfd watched[2] = {{abortHandle.get(), socketEvents, 0}, {wake.get(), POLLIN, 0}};
        int ready = ::poll(watched, 2, static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT_MAX)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            fail(std::string("poll: ") + std::strerror(errno));
            return Sent::Aborted;
        }
        if (watched[1].revents & POLLIN)
            return Sent::Aborted;
        if (watched[0].revents) // room, or an error the write itself reports
            return Sent::All;
    }
}

// A write that blocks must not outlast the stall deadline.
void RTMPSession::Core::limitWrite(const rtmp::LivenessWatch& watch) {
    auto allowance = writeTimeout;
    if (auto deadline = watch.stallDeadline()) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - SteadyClock::now());
        allowance = std::clamp(left, std::chrono::milliseconds(1), writeTimeout);
    }
    if (allowance == currentWriteTimeout)
        return;
    timeval socketTimeout = toTimeval(allowance);
    ::setsockopt(abortHandle.get(), SOL_SOCKET, SO_SNDTIMEO, &socketTimeout, sizeof(socketTimeout));
    currentWriteTimeout = allowance;
}

// The library's close still writes (unpublish, delete stream); into a full socket each of those would
// block for the write time-out. Shut down first, they fail at once.
void RTMPSession::Core::failStalled() {
    {
        std::lock_guard lock(mutex);
        if (abortHandle)
            ::shutdown(abortHandle.get(), SHUT_RDWR);
    }
    fail("the server stopped taking data");
}

// Reads whatever the server sends while we publish, so that acknowledgements and pings are answered and
// a closed or reset connection is seen as soon as it happens rather than at the next media send. An
// ingest that stops (its process halted, the connection still open) sends nothing at all; our own pings
// make that silence stand out from a quiet but healthy ingest.
void RTMPSession::Core::serve() {
    RTMPPacket packet;
    std::memset(&packet, 0, sizeof(packet));
    auto started = SteadyClock::now();
    rtmp::LivenessWatch watch(liveness, started);
    pacing.emplace(backlogLimits());
    while (!aborted) {
        auto now = SteadyClock::now();
        observeBacklog(watch, now);
        if (watch.isStalled(now)) {
            failStalled();
            break;
        }
        if (watch.isSilentTooLong(now)) {
            fail("the server stopped answering");
            break;
        }
        auto timestamp = std::chrono::duration_cast<std::chrono::milliseconds>(now - started).count();
        if (watch.takeDuePing(now) &&
            !RTMP_SendCtrl(rtmp.get(), pingRequestEvent, static_cast<unsigned>(timestamp), 0)) {
            fail("sending a ping to the server failed");
            break;
        }
        auto sent = sendQueued(watch);
        if (sent == Sent::Stalled) {
            failStalled();
            break;
        }
        if (sent == Sent::Failed) {
            fail("sending to the server failed");
            break;
        }
        if (sent == Sent::Aborted)
            break;
        auto waited = waitForServer(watch.nextDue());
        if (waited == Wait::Aborted || waited == Wait::Failed)
            break;
        if (waited == Wait::Due || waited == Wait::Queued)
            continue;
        if (!RTMP_ReadPacket(rtmp.get(), &packet)) {
            fail(RTMP_IsTimedout(rtmp.get()) ? "the server stopped in the middle of a message"
                                             : "the server closed the connection");
            break;
        }
        bool complete = RTMPPacket_IsReady(&packet) && packet.m_body;
        watch.heard(SteadyClock::now(), complete && isPingResponse(packet));
        if (complete) {
            RTMP_ClientPacket(rtmp.get(), &packet);
            RTMPPacket_Free(&packet);
        }
        if (!RTMP_IsConnected(rtmp.get())) {
            fail("the connection was closed");
            break;
        }
    }
    RTMPPacket_Free(&packet);
}

// Until bytes are there to read, a stop wakes us, or `until` comes.
RTMPSession::Core::Wait RTMPSession::Core::waitForServer(SteadyClock::time_point until) {
    if (rtmp->m_sb.sb_size > 0)
        return Wait::Readable; // the library has bytes of its own buffered
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(until - SteadyClock::now());
        pollfd watched[3] = {
            {abortHandle.get(), POLLIN, 0}, {wake.get(), POLLIN, 0}, {queue.readyDescriptor(), POLLIN, 0}};
        int ready = ::poll(watched, 3, static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT_MAX)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            fail(std::string("poll: ") + std::strerror(errno));
            return Wait::Failed;
        }
        if (watched[1].revents & POLLIN)
            return Wait::Aborted;
        if (watched[0].revents & (POLLIN | POLLHUP | POLLERR))
            return Wait::Readable;
        if (watched[2].revents & POLLIN)
            return Wait::Queued;
        if (ready == 0)
            return Wait::Due;
    }
}

void RTMPSession::Core::closeConnection() {
    if (rtmp)
        RTMP_Close(rtmp.get());
    std::lock_guard lock(mutex);
    published = false;
    abortHandle.reset();
}

std::shared_ptr<RTMPSession> RTMPSession::create(std::string url, rtmp::StreamParameters parameters,
                                                 StateCallback callback, rtmp::Liveness liveness) {
    auto core = std::make_shared<Core>();
    core->url = std::move(url);
    core->parameters = parameters;
    core->liveness = liveness;
    core->callback = std::move(callback);
    return std::make_shared<RTMPSession>(PrivateTag{}, std::move(core));
}

RTMPSession::RTMPSession(PrivateTag, std::shared_ptr<Core> core)
    : m_core(std::move(core)) {}

RTMPSession::~RTMPSession() {
    stop();
}

const std::string& RTMPSession::url() const {
    return m_core->url;
}

void RTMPSession::pushBuffer(const uint8_t* data, size_t size, IMetadata& metadata) {
    if (metadata.type() != RTMPMetadata().type())
        return;
    const auto& message = static_cast<RTMPMetadata&>(metadata);
    rtmp::QueuedPacket packet;
    packet.messageType = message.getData<kRTMPMetadataMessageType>();
    packet.timestamp = message.getData<kRTMPMetadataTimestamp>();
    packet.body.assign(data, data + size);
    m_core->queue.push(std::move(packet));
}

void RTMPSession::observeWrites(std::function<void(const rtmp::QueuedPacket&)> observer) {
    m_core->written = std::move(observer);
}

void RTMPSession::observeQueue(QueueObserver observer) {
    auto shared = observer ? std::make_shared<const QueueObserver>(std::move(observer)) : nullptr;
    std::lock_guard lock(m_core->queueObserverMutex);
    m_core->queueObserver = std::move(shared);
}

void RTMPSession::closeQueue() {
    m_core->queue.close();
}

bool RTMPSession::isSending() const {
    return m_core->queue.isSending();
}

const rtmp::RTMPPacketQueue& RTMPSession::packetQueue() const {
    return m_core->queue;
}

void RTMPSession::start() {
    std::lock_guard lock(m_mutex);
    if (m_started || m_stopped)
        return;
    m_started = true;
    rtmp::installRTMPLogging();

    m_connectThread = platform::Thread::create("com.marvane.rtmp.connect", [core = m_core] {
        blockBrokenPipeSignal();
        core->report(State::Connecting);
        std::string reason;
        bool connected = core->connect(reason);
        if (connected)
            core->report(State::Connected);
        else
            core->fail(reason);
        {
            std::lock_guard lock(core->mutex);
            core->handshake = connected ? Core::Handshake::Done : Core::Handshake::Failed;
        }
        core->changed.notify_all();
    });
    m_sendThread = platform::Thread::create("com.marvane.rtmp.send", [core = m_core] {
        blockBrokenPipeSignal();
        Core::Handshake handshake;
        {
            // The connect thread always settles the handshake, an aborted one too, and until it has the
            // library's handle is its alone.
            std::unique_lock lock(core->mutex);
            core->changed.wait(lock, [&] { return core->handshake != Core::Handshake::Pending; });
            handshake = core->handshake;
        }
        if (handshake == Core::Handshake::Done && !core->aborted)
            core->publishAndServe();
        core->closeConnection();
    });
    m_connectThread->start();
    m_sendThread->start();
}

void RTMPSession::stop() {
    std::shared_ptr<platform::Thread> connectThread;
    std::shared_ptr<platform::Thread> sendThread;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopped)
            return;
        m_stopped = true;
        connectThread = std::move(m_connectThread);
        sendThread = std::move(m_sendThread);
    }
    m_core->abort();
    if (connectThread)
        connectThread->join();
    if (sendThread)
        sendThread->join();
}

} // namespace livecore
