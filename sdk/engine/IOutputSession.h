#pragma once
// The end of the graph: takes RTMP message bodies ('rtmp' records) and publishes them in order.
// pushBuffer blocks while the session's queue is full and returns at once (dropping the message)
// once the session has stopped.

#include "sdk/engine/IOutput.h"

namespace livecore {

class IOutputSession : public IOutput {
public:
    // Whether the sender is inside a network send right now (encoders skip frames meanwhile).
    virtual bool isSending() const = 0;
};

} // namespace livecore
