#include "tests/peers/RtmpViewer.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <librtmp/rtmp.h>
#include <pthread.h>
#include <stdexcept>
#include <sys/socket.h>

namespace liveapp::test {

namespace {

constexpr size_t flvHeaderSize = 9 + 4; // the file header and the first (empty) previous-tag size
constexpr size_t tagHeaderSize = 11;
constexpr size_t previousTagSize = 4;

struct RtmpDeleter {
    void operator()(RTMP* rtmp) const {
        RTMP_Close(rtmp);
        RTMP_Free(rtmp);
    }
};

uint32_t bigEndian(const char* bytes, size_t count) {
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value = value << 8 | static_cast<uint8_t>(bytes[i]);
    return value;
}

// The library writes with plain send(): its closing messages to a server that has already gone would
// raise SIGPIPE and end the test program.
void blockBrokenPipeSignal() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

} // namespace

RtmpViewer::RtmpViewer(const std::string& url) {
    std::promise<std::string> playing;
    auto started = playing.get_future();
    m_thread =
        std::thread([this, url, playing = std::move(playing)]() mutable { run(url, std::move(playing)); });
    const std::string failure = started.get();
    if (!failure.empty()) {
        m_thread.join();
        throw std::runtime_error("RTMP viewer: " + failure + ": " + url);
    }
}

RtmpViewer::~RtmpViewer() {
    {
        std::lock_guard lock(m_mutex);
        if (m_shutdownHandle)
            ::shutdown(m_shutdownHandle.get(), SHUT_RD);
    }
    m_thread.join();
}

std::vector<RtmpViewer::Arrival> RtmpViewer::arrivals() const {
    std::lock_guard lock(m_mutex);
    return m_arrivals;
}

size_t RtmpViewer::arrivalCount() const {
    std::lock_guard lock(m_mutex);
    return m_arrivals.size();
}

void RtmpViewer::run(const std::string& url, std::promise<std::string> playing) {
    blockBrokenPipeSignal();
    std::vector<char> address(url.begin(), url.end()); // the library keeps pointers into it
    for (char c : std::string(" live=1 timeout=10"))
        address.push_back(c);
    address.push_back('\0');
    std::unique_ptr<RTMP, RtmpDeleter> rtmp(RTMP_Alloc());
    if (!rtmp) {
        playing.set_value("out of memory");
        return;
    }
    RTMP_Init(rtmp.get());
    if (!RTMP_SetupURL(rtmp.get(), address.data())) {
        playing.set_value("unusable address");
        return;
    }
    if (!RTMP_Connect(rtmp.get(), nullptr) || !RTMP_ConnectStream(rtmp.get(), 0)) {
        rtmp.reset();
        playing.set_value("the server did not play the stream");
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_shutdownHandle.reset(::fcntl(rtmp->m_sb.sb_socket, F_DUPFD_CLOEXEC, 0));
    }
    playing.set_value({});
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const int read = RTMP_Read(rtmp.get(), buffer.data(), static_cast<int>(buffer.size()));
        if (read <= 0)
            break;
        take(buffer.data(), static_cast<size_t>(read));
    }
    m_ended = true;
    rtmp.reset();
    std::lock_guard lock(m_mutex);
    m_shutdownHandle.reset(); // the connection closes with the library's descriptor
}

// The library hands the stream over as an FLV file: a header, then tags, each followed by its size.
void RtmpViewer::take(const char* bytes, size_t size) {
    const auto now = std::chrono::steady_clock::now();
    m_pending.append(bytes, size);
    if (!m_sawHeader) {
        if (m_pending.size() < flvHeaderSize)
            return;
        if (m_pending.compare(0, 3, "FLV") == 0)
            m_pending.erase(0, flvHeaderSize);
        m_sawHeader = true;
    }
    size_t offset = 0;
    std::vector<Arrival> arrived;
    while (m_pending.size() - offset >= tagHeaderSize) {
        const char* tag = m_pending.data() + offset;
        const size_t length = tagHeaderSize + bigEndian(tag + 1, 3) + previousTagSize;
        if (m_pending.size() - offset < length)
            break;
        const auto type = static_cast<FlvTagType>(tag[0] & 0x1f);
        const uint32_t timestamp = bigEndian(tag + 4, 3) | static_cast<uint32_t>(uint8_t(tag[7])) << 24;
        if (type == FlvTagType::Audio || type == FlvTagType::Video)
            arrived.push_back({now, timestamp, type});
        offset += length;
    }
    m_pending.erase(0, offset);
    std::lock_guard lock(m_mutex);
    m_arrivals.insert(m_arrivals.end(), arrived.begin(), arrived.end());
}

std::vector<int64_t> lagsBehindLive(const std::vector<RtmpViewer::Arrival>& arrivals) {
    std::vector<int64_t> lags;
    lags.reserve(arrivals.size());
    for (const auto& arrival : arrivals) {
        const auto at = std::chrono::duration_cast<std::chrono::milliseconds>(arrival.at.time_since_epoch());
        lags.push_back(at.count() - int64_t(arrival.timestamp));
    }
    if (lags.empty())
        return lags;
    const int64_t earliest = *std::min_element(lags.begin(), lags.end());
    for (int64_t& lag : lags)
        lag -= earliest;
    return lags;
}

} // namespace liveapp::test
