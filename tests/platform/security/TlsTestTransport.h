#pragma once
// Byte transports for driving TlsContexts in tests: in-memory pipes with a capacity and a read chunk
// limit (to force would-block and partial moves), and non-blocking socket descriptors answering as
// the sockets' own I/O functions do.

#include "platform/security/TlsContext.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace securitytest {

struct Pipe {
    std::deque<uint8_t> bytes;
    size_t capacity{SIZE_MAX};
    size_t readChunk{SIZE_MAX};
    bool writerClosed{false};
    size_t wouldBlocks{0};
    size_t reads{0};
};

// Connects `context` to read from `in` and write to `out`.
void attach(platform::TlsContext& context, std::shared_ptr<Pipe> in, std::shared_ptr<Pipe> out);

// Reads and writes a non-blocking descriptor; the end of the stream is errSSLClosedAbort.
void attachDescriptor(platform::TlsContext& context, int fd);

struct MemoryLink {
    std::shared_ptr<Pipe> toServer{std::make_shared<Pipe>()};
    std::shared_ptr<Pipe> toClient{std::make_shared<Pipe>()};
    void connect(platform::TlsContext& client, platform::TlsContext& server) {
        attach(client, toClient, toServer);
        attach(server, toServer, toClient);
    }
};

// Calls handshake() on each side until neither answers errSSLWouldBlock (or the rounds run out).
std::pair<platform::OSStatus, platform::OSStatus>
pumpHandshake(platform::TlsContext& client, platform::TlsContext& server, int rounds = 500);

// Writes `text` on `from` and reads it on `to`, alternating while either would block.
std::string transfer(platform::TlsContext& from, platform::TlsContext& to, const std::string& text,
                     int rounds = 100000);

// One write of `text`, and one read of at most `limit` bytes with what it delivered.
platform::OSStatus send(platform::TlsContext& context, std::string_view text);
std::pair<platform::OSStatus, std::string> receive(platform::TlsContext& context, size_t limit = 4096);

// A client trusting the test root (peer name "localhost") and a server presenting the test server
// identity with its intermediate, joined by `link`.
struct ConnectedPair {
    platform::TlsContextPtr client;
    platform::TlsContextPtr server;
    MemoryLink link;
};
ConnectedPair makePair();

} // namespace securitytest
