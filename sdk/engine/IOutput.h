#pragma once
// The graph's node interfaces. A node accepts a buffer through pushBuffer (bytes, their size and the
// record that says what they are); the bytes are only borrowed for the call. Sources and transforms
// hold the node downstream of them weakly: the session owns every node, and a node it has released
// simply stops receiving.
//
// Threads: pushBuffer runs on the thread of whoever pushes (a capture thread or a road's job queue)
// and may block (the output's queue makes producers wait when full). setOutput is safe from any
// thread and applies from the next buffer.

#include "sdk/engine/IMetadata.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

namespace livecore {

class IOutput {
public:
    virtual ~IOutput() = default;
    virtual void pushBuffer(const uint8_t* data, size_t size, IMetadata& metadata) = 0;
};

class ISource {
public:
    virtual ~ISource() = default;
    virtual void setOutput(std::shared_ptr<IOutput> output) = 0;
};

class ITransform : public IOutput {
public:
    virtual void setOutput(std::shared_ptr<IOutput> output) = 0;
};

// The weak link from a node to the one downstream of it.
class OutputLink {
public:
    void set(const std::shared_ptr<IOutput>& output) {
        std::lock_guard lock(m_mutex);
        m_output = output;
    }
    std::shared_ptr<IOutput> get() const {
        std::lock_guard lock(m_mutex);
        return m_output.lock();
    }
    void push(const uint8_t* data, size_t size, IMetadata& metadata) const {
        if (auto output = get())
            output->pushBuffer(data, size, metadata);
    }

private:
    mutable std::mutex m_mutex;
    std::weak_ptr<IOutput> m_output;
};

} // namespace livecore
