#pragma once
// Cryptographically strong random bytes from the system's generator (the platform's secure random
// call). Safe on any thread. A generator failure is reported, never papered over with weak bytes.

#include "platform/foundation/Data.h"
#include "platform/security/SecurityStatus.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace platform {

// Fills `count` bytes at `bytes`: errSecSuccess, or errSecAllocate when the generator fails (the buffer
// then holds nothing meaningful).
OSStatus copyRandomBytes(void* bytes, size_t count);

// `count` fresh random bytes, or nullopt when the generator fails.
std::optional<Data> randomBytes(size_t count);

// A uniformly distributed 32-bit value; aborts only if the system generator is broken.
uint32_t randomUInt32();

} // namespace platform
