#include "platform/net/SocketStream.h"

#include "platform/net/SocketStreamCore.h"
#include "platform/security/SecurityStatus.h"

#include <cstring>
#include <netdb.h>

namespace platform {

using detail::SocketStreamCore;

ErrorPtr errorFromStreamError(const StreamError& error) {
    if (error.domain == 0 && error.error == 0)
        return nullptr;
    switch (error.domain) {
    case kCFStreamErrorDomainPOSIX:
        return Error::withDescription(NSPOSIXErrorDomain, error.error, std::strerror(error.error));
    case kCFStreamErrorDomainMacOSStatus:
        return Error::create(NSOSStatusErrorDomain, error.error);
    case kCFStreamErrorDomainSSL:
        return Error::withDescription("kCFStreamErrorDomainSSL", error.error,
                                      securityStatusName(error.error));
    case kCFStreamErrorDomainNetDB:
        return Error::withDescription("kCFStreamErrorDomainNetDB", error.error, gai_strerror(error.error));
    default:
        return Error::create("CFStreamError (unlisted domain)", error.error);
    }
}

// ---- What both streams share ----
SocketStream::SocketStream(std::shared_ptr<SocketStreamCore> core, Side side)
    : m_core(std::move(core))
    , m_side(side) {}

SocketStream::~SocketStream() {
    m_core->close(int(m_side));
}

bool SocketStream::open() {
    return m_core->open(int(m_side));
}
void SocketStream::close() {
    m_core->close(int(m_side));
}
StreamStatus SocketStream::status() const {
    return m_core->status(int(m_side));
}
StreamError SocketStream::error() const {
    return m_core->error(int(m_side));
}
ErrorPtr SocketStream::copyError() const {
    return errorFromStreamError(error());
}

Value SocketStream::copyProperty(std::string_view key) const {
    return m_core->copyProperty(key);
}
bool SocketStream::setProperty(std::string_view key, const Value& value) {
    return m_core->setProperty(key, value);
}

bool SocketStream::scheduleWithRunLoop(const std::shared_ptr<RunLoop>& runLoop, const RunLoopMode& mode) {
    return m_core->schedule(int(m_side), runLoop, mode);
}

void SocketStream::unscheduleFromRunLoop(const std::shared_ptr<RunLoop>& runLoop, const RunLoopMode& mode) {
    m_core->unschedule(int(m_side), runLoop, mode);
}

bool SocketStream::setClientCallback(StreamEventType events, std::function<void(StreamEventType)> callback) {
    return m_core->setClient(int(m_side), events, std::move(callback));
}

// ---- The two streams ----
ReadStream::ReadStream(PrivateTag, std::shared_ptr<SocketStreamCore> core)
    : SocketStream(std::move(core), Side::Read) {}

int64_t ReadStream::read(uint8_t* buffer, int64_t maxLength) {
    return m_core->read(buffer, maxLength);
}
bool ReadStream::hasBytesAvailable() {
    return m_core->hasBytesAvailable();
}

bool ReadStream::setClient(StreamEventType events, ClientCallback callback) {
    events &= kCFStreamEventOpenCompleted | kCFStreamEventHasBytesAvailable | kCFStreamEventErrorOccurred |
              kCFStreamEventEndEncountered;
    if (!callback)
        return setClientCallback(kCFStreamEventNone, {});
    // The core outlives neither stream's client registration, and the stream is held weakly so a
    // client that the stream's owner keeps does not keep the stream alive.
    std::weak_ptr<ReadStream> weak = std::static_pointer_cast<ReadStream>(shared_from_this());
    return setClientCallback(events, [weak, callback = std::move(callback)](StreamEventType event) {
        if (auto stream = weak.lock())
            callback(*stream, event);
    });
}

WriteStream::WriteStream(PrivateTag, std::shared_ptr<SocketStreamCore> core)
    : SocketStream(std::move(core), Side::Write) {}

int64_t WriteStream::write(const uint8_t* buffer, int64_t length) {
    return m_core->write(buffer, length);
}
bool WriteStream::canAcceptBytes() {
    return m_core->canAcceptBytes();
}

bool WriteStream::setClient(StreamEventType events, ClientCallback callback) {
    events &= kCFStreamEventOpenCompleted | kCFStreamEventCanAcceptBytes | kCFStreamEventErrorOccurred |
              kCFStreamEventEndEncountered;
    if (!callback)
        return setClientCallback(kCFStreamEventNone, {});
    std::weak_ptr<WriteStream> weak = std::static_pointer_cast<WriteStream>(shared_from_this());
    return setClientCallback(events, [weak, callback = std::move(callback)](StreamEventType event) {
        if (auto stream = weak.lock())
            callback(*stream, event);
    });
}

// ---- Making a pair ----
SocketStreamPair SocketStreamPair::wrap(std::shared_ptr<SocketStreamCore> core) {
    SocketStreamPair pair;
    if (!core)
        return pair;
    pair.readStream = std::make_shared<ReadStream>(ReadStream::PrivateTag{}, core);
    pair.writeStream = std::make_shared<WriteStream>(WriteStream::PrivateTag{}, core);
    return pair;
}

SocketStreamPair SocketStreamPair::createWithSocket(int fd) {
    return wrap(SocketStreamCore::createWithSocket(fd));
}

SocketStreamPair SocketStreamPair::createWithSocketToHost(std::string host, uint16_t port) {
    return wrap(SocketStreamCore::createToHost(std::move(host), port));
}

} // namespace platform
