#pragma once
// Connects a TCP socket to an ingest server over IPv4 or IPv6, whichever answers. The host is looked
// up once per family through the resolver seam (platform::Resolver::current()), so a network with
// only one of them still works; the addresses are then tried one at a time, the families taking
// turns, IPv6 first. Each attempt gets `timeout`.
//
// Blocks the calling thread. When `abortFd` (an eventfd or pipe the caller controls; -1 for none)
// becomes readable, it gives up at once, between lookups or in the middle of an attempt; a lookup
// itself cannot be interrupted. The socket comes back connected, blocking and close-on-exec.

#include "platform/foundation/FileDescriptor.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace livecore::rtmp {

struct DualStackConnection {
    platform::FileDescriptor socket; // invalid when nothing connected
    std::string error;               // why, when nothing connected
    bool aborted{false};
};

DualStackConnection connectDualStack(const std::string& host, uint16_t port, int abortFd,
                                     std::chrono::milliseconds timeout);

} // namespace livecore::rtmp
