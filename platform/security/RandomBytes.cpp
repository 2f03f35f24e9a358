#include "platform/security/RandomBytes.h"

#include "platform/foundation/Fatal.h"
#include "platform/security/CryptoUse.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <openssl/rand.h>
#include <vector>

namespace platform {

OSStatus copyRandomBytes(void* bytes, size_t count) {
    detail::CryptoUse use;
    auto* out = static_cast<unsigned char*>(bytes);
    while (count > 0) {
        int chunk = static_cast<int>(std::min<size_t>(count, INT_MAX));
        if (RAND_bytes(out, chunk) != 1)
            return errSecAllocate;
        out += chunk;
        count -= static_cast<size_t>(chunk);
    }
    return errSecSuccess;
}

std::optional<Data> randomBytes(size_t count) {
    std::vector<uint8_t> bytes(count);
    if (copyRandomBytes(bytes.data(), count) != errSecSuccess)
        return std::nullopt;
    return Data(std::move(bytes));
}

uint32_t randomUInt32() {
    uint32_t value = 0;
    // Callers use these for identifiers that must not repeat; a broken system generator is not
    // something to continue past with a predictable value.
    fatalUnless(copyRandomBytes(&value, sizeof value) == errSecSuccess,
                "RandomBytes: the system's generator failed");
    return value;
}

} // namespace platform
