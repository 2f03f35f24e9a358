#pragma once
// Reads a connected TCP socket's send backlog (LivenessWatch.h): the bytes written and not yet
// acknowledged, the bytes acknowledged in all, and the receive window the peer offers (0 where the
// kernel does not tell it). Nothing when the socket cannot tell (closed, not TCP).

#include "sdk/librtmp/LivenessWatch.h"

#include <cstddef>
#include <optional>

namespace livecore::rtmp {

std::optional<SendBacklog> readSendBacklog(int socket);

} // namespace livecore::rtmp
