#include "TlsTestTransport.h"

#include "TestPki.h"

#include <algorithm>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

using namespace platform;

namespace securitytest {

void attach(TlsContext& context, std::shared_ptr<Pipe> in, std::shared_ptr<Pipe> out) {
    auto read = [in](void* data, size_t* length) -> OSStatus {
        ++in->reads;
        size_t wanted = *length;
        size_t n = std::min({wanted, in->bytes.size(), in->readChunk});
        std::copy_n(in->bytes.begin(), n, static_cast<uint8_t*>(data));
        in->bytes.erase(in->bytes.begin(), in->bytes.begin() + static_cast<ptrdiff_t>(n));
        *length = n;
        if (n == wanted)
            return noErr;
        if (n == 0 && in->writerClosed)
            return errSSLClosedAbort;
        ++in->wouldBlocks;
        return errSSLWouldBlock;
    };
    auto write = [out](const void* data, size_t* length) -> OSStatus {
        size_t wanted = *length;
        size_t room = out->capacity > out->bytes.size() ? out->capacity - out->bytes.size() : 0;
        size_t n = std::min(wanted, room);
        auto* bytes = static_cast<const uint8_t*>(data);
        out->bytes.insert(out->bytes.end(), bytes, bytes + n);
        *length = n;
        if (n == wanted)
            return noErr;
        ++out->wouldBlocks;
        return errSSLWouldBlock;
    };
    context.setIOFuncs(read, write);
}

void attachDescriptor(TlsContext& context, int fd) {
    auto read = [fd](void* data, size_t* length) -> OSStatus {
        size_t wanted = *length;
        *length = 0;
        ssize_t n = ::read(fd, data, wanted);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK ? errSSLWouldBlock : errSSLClosedAbort;
        if (n == 0)
            return errSSLClosedAbort;
        *length = static_cast<size_t>(n);
        return *length == wanted ? noErr : errSSLWouldBlock;
    };
    auto write = [fd](const void* data, size_t* length) -> OSStatus {
        size_t wanted = *length;
        *length = 0;
        ssize_t n = ::send(fd, data, wanted, MSG_NOSIGNAL);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK ? errSSLWouldBlock : errSSLClosedAbort;
        *length = static_cast<size_t>(n);
        return *length == wanted ? noErr : errSSLWouldBlock;
    };
    context.setIOFuncs(read, write);
}

std::pair<OSStatus, OSStatus> pumpHandshake(TlsContext& client, TlsContext& server, int rounds) {
    OSStatus c = errSSLWouldBlock;
    OSStatus s = errSSLWouldBlock;
    // A side that is through keeps reading (nothing arrives for it yet), so a transport too small
    // for the other side's last flight (the server's session tickets) still drains.
    auto drain = [](TlsContext& context) {
        char byte;
        size_t got = 0;
        context.read(&byte, 1, &got);
    };
    for (int i = 0; i < rounds && (c == errSSLWouldBlock || s == errSSLWouldBlock); ++i) {
        if (c == errSSLWouldBlock)
            c = client.handshake();
        else if (c == noErr)
            drain(client);
        if (s == errSSLWouldBlock)
            s = server.handshake();
        else if (s == noErr)
            drain(server);
    }
    return {c, s};
}

std::string transfer(TlsContext& from, TlsContext& to, const std::string& text, int rounds) {
    std::string received;
    size_t sent = 0;
    bool flushed = text.empty();
    std::string buffer(4096, '\0');
    for (int i = 0; i < rounds && received.size() < text.size(); ++i) {
        if (sent < text.size()) {
            size_t taken = 0;
            OSStatus status = from.write(text.data() + sent, text.size() - sent, &taken);
            sent += taken;
            flushed = status == noErr;
            if (status != noErr && status != errSSLWouldBlock)
                break;
        } else if (!flushed) {
            size_t taken = 0;
            OSStatus status = from.write(nullptr, 0, &taken);
            flushed = status == noErr;
            if (status != noErr && status != errSSLWouldBlock)
                break;
        }
        size_t got = 0;
        OSStatus status =
            to.read(buffer.data(), std::min(buffer.size(), text.size() - received.size()), &got);
        received.append(buffer.data(), got);
        if (status != noErr && status != errSSLWouldBlock)
            break;
    }
    return received;
}

OSStatus send(TlsContext& context, std::string_view text) {
    size_t taken = 0;
    return context.write(text.data(), text.size(), &taken);
}

std::pair<OSStatus, std::string> receive(TlsContext& context, size_t limit) {
    std::string bytes(limit, '\0');
    size_t got = 0;
    OSStatus status = context.read(bytes.data(), limit, &got);
    bytes.resize(got);
    return {status, bytes};
}

ConnectedPair makePair() {
    ConnectedPair pair;
    pair.client = TlsContext::create(TlsRole::Client);
    pair.server = TlsContext::create(TlsRole::Server);
    pair.link.connect(*pair.client, *pair.server);
    pair.client->setPeerName("localhost");
    pair.client->setTrustedRoots({pki().root.certificate});
    pair.server->setCertificate(pki().server.identity, {pki().intermediate.certificate});
    return pair;
}

} // namespace securitytest
