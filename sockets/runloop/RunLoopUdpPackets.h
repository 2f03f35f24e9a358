#pragma once
// The requests a RunLoopUdpSocket queues: one datagram to send, and one wish to receive a datagram.
// Plain data for the socket's run-loop thread.

#include "platform/foundation/Data.h"
#include "sockets/runloop/RunLoopPackets.h"

#include <cstdint>
#include <optional>
#include <string>

class RunLoopSendPacket final : public sockets::RunLoopRequest {
public:
    // initWithData:address:timeout:tag: — no address: to the connected peer.
    RunLoopSendPacket(platform::Data data, std::optional<platform::Data> address, double timeout, int64_t tag)
        : RunLoopRequest(timeout, tag)
        , buffer(std::move(data))
        , address(std::move(address)) {}

    const platform::Data buffer;
    const std::optional<platform::Data> address;
};

class RunLoopReceivePacket final : public sockets::RunLoopRequest {
public:
    // initWithTimeout:tag:
    RunLoopReceivePacket(double timeout, int64_t tag)
        : RunLoopRequest(timeout, tag) {}

    std::optional<platform::Data> buffer;
    std::optional<std::string> host;
    uint16_t port{0};
};
