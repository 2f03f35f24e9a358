#pragma once
// Skips one value of any type code, so a reader can pass over fields it does not know. Unknown type
// codes read nothing. Structs and containers nest at most 64 deep; deeper input is refused with
// UATProtocolException rather than exhausting the stack.

#include "analytics/UATProtocol.h"

#include <cstdint>

class UATProtocolUtil {
public:
    static void skipType(int32_t type, UATProtocol& protocol);

    static constexpr int kMaximumDepth = 64;

private:
    static void skip(int32_t type, UATProtocol& protocol, int depth);
};
