#pragma once
// One half of a QueueSocket, read or write: the members, flags and steps that the request queue, the
// TLS marker, the time-out and its extension use. Private to the socket's own files.

#include "sockets/queue/QueueSocket.h"

struct QueueSocket::Half {
    std::deque<PacketPtr> QueueSocket::*queue;
    // Null for a half whose requests are posted as blocks.
    platform::detail::DrainIntake<PacketPtr> QueueSocket::*intake;
    PacketPtr QueueSocket::*current;
    SourcePtr QueueSocket::*timer;
    uint32_t startingTLS;
    uint32_t paused;
    uint32_t closeAfter;
    // The engine's step, and what dequeues its next request.
    void (QueueSocket::*step)();
    void (QueueSocket::*dequeue)();
    void (QueueSocket::*suspendSource)();
    // Whether the descriptor has what this half waits for (bytes to read, room to write).
    bool (QueueSocket::*sourceReady)() const;
    // What a stream of the pair reports when this half may go on, the flag it sets, and whether the
    // stream still says so.
    uint32_t streamReadyFlag;
    bool (QueueSocket::*streamReady)();
    // The length a request is done at, for its progress; 0 when open-ended.
    uint64_t (*total)(const sockets::TransferPacket& packet);
    const char* timeoutSelector;
    double (QueueSocketDelegate::*shouldTimeout)(const QueueSocketPtr& sock, int64_t tag, double elapsed,
                                                 uint64_t bytesDone);
    platform::ErrorPtr (*timeoutError)();
};
