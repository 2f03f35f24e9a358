#pragma once
// The records a UDP socket queues: one outgoing datagram, and a connect request that waits its turn in
// the same queue. Built on the caller's thread, then touched only on the socket queue (a filter reads
// buffer, address and tag on its own queue). Plain data: no descriptor, no queue, no lock.

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "sockets/common/Packets.h"

#include <cstdint>
#include <optional>
#include <vector>

class QueueUdpSendPacket final : public sockets::Packet {
public:
    QueueUdpSendPacket(platform::Data data, double timeout, int64_t tag)
        : buffer(std::move(data))
        , timeout(timeout)
        , tag(tag) {}

    const platform::Data buffer;
    const double timeout{-1};
    const int64_t tag{0};
    bool resolveInProgress{false};
    bool filterInProgress{false};
    // Set for a datagram to a host name: its resolution, whatever the outcome.
    bool sentToHost{false};
    std::vector<platform::Data> resolvedAddresses;
    platform::ErrorPtr resolveError;
    std::optional<platform::Data> address;
    int addressFamily{0};
};

class QueueUdpSpecialPacket final : public sockets::Packet {
public:
    bool resolveInProgress{false};
    std::vector<platform::Data> addresses;
    platform::ErrorPtr error;
};
