#pragma once
// A transform that compresses what it is pushed, at a bitrate that may change while it runs.

#include "sdk/engine/IOutput.h"

namespace livecore {

class IEncoder : public ITransform {
public:
    virtual void setBitrate(int bitrate) = 0; // bits per second; applies from the next buffer
    virtual int bitrate() const = 0;
};

} // namespace livecore
