#pragma once
// Where a binary protocol reads and writes its bytes. readAll either delivers exactly `length` bytes or
// throws UATTransportException; it never delivers part of a request.

#include <cstdint>
#include <optional>

class UATTransport {
public:
    virtual ~UATTransport() = default;

    // Fills `length` bytes at `buffer + offset`; returns `length`. A negative length cannot be met.
    virtual int32_t readAll(uint8_t* buffer, uint32_t offset, int32_t length) = 0;
    // Appends `length` bytes taken from `buffer + offset`.
    virtual void write(const uint8_t* buffer, uint32_t offset, uint32_t length) = 0;
    virtual void flush() = 0;

    // How many bytes a reader can still take, when the transport knows; protocols check lengths from the
    // wire against it before they allocate.
    virtual std::optional<uint64_t> bytesRemaining() const { return std::nullopt; }
};
