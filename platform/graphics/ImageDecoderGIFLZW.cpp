#include "platform/graphics/ImageDecoderGIFLZW.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace platform::detail {
namespace {

uint64_t loadLittleEndian64(const uint8_t* bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    if constexpr (std::endian::native == std::endian::big)
        word = __builtin_bswap64(word);
    return word;
}

// Moves an earlier string to the end of the output. A string ends at most where the next one starts,
// so the two never overlap; a short one is moved whole in one fixed-size chunk read before it is written.
void copyString(uint8_t* out, size_t at, size_t start, size_t length) {
    if (length <= GIFLZWDecoder::outputSlack) {
        uint8_t chunk[GIFLZWDecoder::outputSlack];
        std::memcpy(chunk, out + start, sizeof chunk);
        std::memcpy(out + at, chunk, sizeof chunk);
    } else {
        std::memcpy(out + at, out + start, length);
    }
}

} // namespace

struct GIFLZWDecoder::Run {
    uint32_t clearCode{0};
    uint8_t* out{nullptr};
    size_t pixelCount{0};
    size_t produced{0};
    // Counts every code read since the last clear, up to one past the table's end; two behind it is the
    // entry the code being read defines, none once the table is full.
    uint32_t runningCode{0};
    uint32_t defining{0};
    uint32_t previousCode{noCode};
    size_t previousStart{0};
    size_t previousLength{0};
    // Once a string has been made from the chains, the copies may no longer match: until the next
    // clear, every string comes from them.
    bool chained{false};
};

uint32_t GIFLZWDecoder::firstIndexOf(uint32_t code, uint32_t clearCode) const {
    for (uint32_t steps = 0; code > clearCode && steps <= tableSize - 1; ++steps) {
        if (code >= tableSize)
            return noCode;
        code = m_prefix[code];
    }
    return code;
}

// Streams as encoders write them: a literal, an entry defined since the clear, or the entry this very
// code defines (the previous string and its own first index). False when the code needs the chains.
bool GIFLZWDecoder::copyCode(Run& run, uint32_t code) {
    const uint32_t defining = run.defining;
    size_t room = run.pixelCount - run.produced;
    size_t length;
    if (code < run.clearCode) {
        run.out[run.produced] = uint8_t(code);
        length = 1;
    } else if (code < defining && code > run.clearCode + 1) {
        const Entry& entry = m_table[code];
        length = entry.length;
        copyString(run.out, run.produced, entry.start, std::min<size_t>(length, room));
    } else if (code == defining && run.previousCode != noCode) {
        length = run.previousLength + 1;
        copyString(run.out, run.produced, run.previousStart, std::min(run.previousLength, room));
        if (run.previousLength < room)
            run.out[run.produced + run.previousLength] = run.out[run.previousStart];
    } else {
        return false;
    }
    if (run.previousCode != noCode && defining < tableSize) {
        m_table[defining] = Entry{uint32_t(run.previousStart), uint32_t(run.previousLength + 1)};
        m_prefix[defining] = uint16_t(run.previousCode);
        m_suffix[defining] = run.out[run.produced];
    }
    run.previousCode = code;
    run.previousStart = run.produced;
    run.previousLength = length;
    run.produced += length;
    return true;
}

// Any other code, made by walking the chains of prefix codes. False when a chain is broken or loops.
bool GIFLZWDecoder::chainCode(Run& run, uint32_t code) {
    if (!run.chained) {
        run.chained = true;
        std::fill(m_prefix.begin() + run.defining, m_prefix.end(), noCode);
    }
    const uint32_t defining = run.defining;
    size_t depth = 0;
    uint32_t prefix;
    if (code < run.clearCode) {
        prefix = code;
    } else if (m_prefix[code] == noCode) {
        // Not defined yet: the previous string and, for the code being defined, its first index; for
        // any other, the index a missing entry gives.
        uint32_t last = firstIndexOf(code == defining ? run.previousCode : code, run.clearCode);
        if (defining < tableSize)
            m_suffix[defining] = uint8_t(last);
        m_stack[depth++] = uint8_t(last);
        prefix = run.previousCode;
    } else {
        prefix = code;
    }
    while (depth < tableSize - 1 && prefix > run.clearCode && prefix < tableSize) {
        m_stack[depth++] = m_suffix[prefix];
        prefix = m_prefix[prefix];
    }
    if (depth >= tableSize - 1 || prefix >= tableSize)
        return false;
    m_stack[depth++] = uint8_t(prefix);
    size_t room = run.pixelCount - run.produced;
    size_t length = std::min(depth, room);
    for (size_t i = 0; i < length; ++i)
        run.out[run.produced + i] = m_stack[depth - 1 - i];
    run.produced += length;
    if (run.previousCode != noCode && defining < tableSize) {
        m_prefix[defining] = uint16_t(run.previousCode);
        m_suffix[defining] = uint8_t(firstIndexOf(code, run.clearCode));
    }
    run.previousCode = code;
    return true;
}

size_t GIFLZWDecoder::decode(int minimumCodeSize, const uint8_t* data, size_t length, uint8_t* out,
                             size_t pixelCount) {
    if (minimumCodeSize < 0 || minimumCodeSize > 8)
        return 0;
    Run run;
    run.clearCode = 1u << minimumCodeSize;
    run.out = out;
    run.pixelCount = pixelCount;
    const uint32_t endCode = run.clearCode + 1;
    const uint64_t availableBits = uint64_t(length) * 8;
    uint64_t bitPosition = 0;
    uint32_t codeBits = 0;
    uint32_t widerAbove = 0;
    auto clear = [&] {
        codeBits = uint32_t(minimumCodeSize) + 1;
        widerAbove = 1u << codeBits;
        run.runningCode = endCode + 1;
        run.previousCode = noCode;
        run.chained = false;
    };
    clear();

    while (run.produced < pixelCount) {
        if (bitPosition + codeBits > availableBits)
            break;
        uint64_t word = loadLittleEndian64(data + (bitPosition >> 3));
        uint32_t code = uint32_t(word >> (bitPosition & 7)) & ((1u << codeBits) - 1);
        bitPosition += codeBits;
        if (run.runningCode == tableSize + 1) {
            run.defining = tableSize;
        } else {
            run.defining = run.runningCode - 1;
            if (++run.runningCode > widerAbove && codeBits < 12) {
                widerAbove <<= 1;
                ++codeBits;
            }
        }
        if (code == run.clearCode) {
            clear();
            continue;
        }
        if (code == endCode)
            break;
        if (run.chained || !copyCode(run, code)) {
            if (!chainCode(run, code))
                break;
        }
    }
    return std::min(run.produced, pixelCount);
}

} // namespace platform::detail
