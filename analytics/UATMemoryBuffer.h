#pragma once
// A transport over bytes in memory: written bytes are appended; reads take bytes from the read position
// on. Once the position reaches 4096 the consumed bytes are dropped from the front, so a long parse
// keeps little behind it. Belongs to one caller; no locking.

#include "analytics/UATTransport.h"
#include "platform/foundation/Data.h"

#include <cstdint>
#include <vector>

class UATMemoryBuffer final : public UATTransport {
public:
    UATMemoryBuffer() = default;                          // empty, for writing
    explicit UATMemoryBuffer(const platform::Data& data); // a private copy, for reading

    // What was written; for a read buffer, the bytes from the last compaction on.
    platform::Data getBuffer() const;

    // Throws "Not enough bytes remain in buffer" (the position unchanged) when fewer bytes remain.
    int32_t readAll(uint8_t* buffer, uint32_t offset, int32_t length) override;
    void write(const uint8_t* buffer, uint32_t offset, uint32_t length) override;
    void flush() override {}
    std::optional<uint64_t> bytesRemaining() const override { return mBuffer.size() - mOffset; }

private:
    static constexpr uint64_t kCompactionThreshold = 4096;

    std::vector<uint8_t> mBuffer;
    uint64_t mOffset{0};
};
