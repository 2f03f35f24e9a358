#pragma once
// The terminator searches both socket families make while reading ahead: pure arithmetic over bytes,
// any thread. A terminator is never empty here (callers refuse empty ones).

#include <cstdint>
#include <optional>
#include <span>

namespace sockets {

// The first terminator in `tail` followed by `head` that ends inside `head`; it may begin in the last
// term.size() - 1 bytes of `tail`. Answers how many bytes of `head` it takes up to its end, or nullopt.
std::optional<uint64_t> findTermAcross(std::span<const uint8_t> tail, std::span<const uint8_t> head,
                                       std::span<const uint8_t> term);

// The first terminator in `bytes` that ends after the first `searchedBefore` bytes (those were looked at
// before); answers how many bytes follow it, or -1.
int64_t bytesAfterTerm(std::span<const uint8_t> bytes, uint64_t searchedBefore,
                       std::span<const uint8_t> term);

} // namespace sockets
