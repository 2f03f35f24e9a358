#include "sockets/common/TermSearch.h"

#include <algorithm>
#include <cstring>

namespace sockets {

std::optional<uint64_t> findTermAcross(std::span<const uint8_t> tail, std::span<const uint8_t> head,
                                       std::span<const uint8_t> term) {
    const uint64_t termLength = term.size();
    if (termLength == 0)
        return std::nullopt;
    const uint64_t k = std::min<uint64_t>(tail.size(), termLength - 1);
    const uint8_t* joinedTail = tail.data() + tail.size() - k;
    auto at = [&](uint64_t index) { return index < k ? joinedTail[index] : head[index - k]; };
    // Signed: a window shorter than the terminator has no candidate at all.
    const int64_t candidates = int64_t(k + head.size()) - int64_t(termLength) + 1;
    for (int64_t start = 0; start < candidates; ++start) {
        uint64_t matched = 0;
        while (matched < termLength && at(uint64_t(start) + matched) == term[matched])
            ++matched;
        if (matched == termLength)
            return uint64_t(start) + termLength - k;
    }
    return std::nullopt;
}

int64_t bytesAfterTerm(std::span<const uint8_t> bytes, uint64_t searchedBefore,
                       std::span<const uint8_t> term) {
    const uint64_t termLength = term.size();
    if (termLength == 0)
        return -1;
    const uint64_t end = bytes.size();
    uint64_t i = searchedBefore < termLength ? 0 : searchedBefore + 1 - termLength;
    for (; i + termLength <= end; ++i) {
        if (std::memcmp(bytes.data() + i, term.data(), termLength) == 0)
            return int64_t(end - (i + termLength));
    }
    return -1;
}

} // namespace sockets
